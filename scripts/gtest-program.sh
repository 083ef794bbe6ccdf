#!/usr/bin/env bash
# Runs a whole GoogleTest program as one CTest test. Under an emulator (qemu-i386-static, wine64)
# starting a program costs more than most of its tests, so the emulated suites run each program
# once rather than once per test. GoogleTest's own output is read back so that the counts and the
# names of failing tests are still reported:
#   - passed: one line, "NAME: P passed, S skipped";
#   - failed: the program's whole output, then "NAME: P passed, F failed, S skipped" and the failing
#     tests' names as GoogleTest lists them, or, when the program ended without its summary (a
#     crash, a program that never started), the test it was running.
# With ZARERERA_GTEST_TALLY set to a file, "NAME PASSED FAILED SKIPPED" is appended to it (one line
# per run; scripts/test.sh adds them up).
#
# Usage: scripts/gtest-program.sh NAME COMMAND...   (COMMAND: the emulator, if any, and the program)
set -uo pipefail

name=${1:?test name}
shift
[ $# -gt 0 ] || {
  echo "usage: $0 NAME COMMAND..." >&2
  exit 2
}

log=$(mktemp)
trap 'rm -f "${log}"' EXIT
"$@" --gtest_color=no </dev/null 2>&1 | tr -d '\r' >"${log}"
status=${PIPESTATUS[0]}

# 77: the program (or what starts it, such as scripts/vm-run.sh) found something it needs missing
# and ran nothing; CTest counts it as skipped (SKIP_RETURN_CODE), and so does the tally.
if [ "${status}" -eq 77 ] && ! grep -qE '^\[==========\] ' "${log}"; then
  cat "${log}"
  if [ -n "${ZARERERA_GTEST_TALLY:-}" ]; then echo "${name} 0 0 1" >>"${ZARERERA_GTEST_TALLY}"; fi
  echo "${name}: skipped (exit status 77)"
  exit 77
fi

count() { grep -cE "$1" "${log}"; }
# GoogleTest's closing summary: "[  PASSED  ] N tests." and, when any failed,
# "[  FAILED  ] N tests, listed below:" followed by one "[  FAILED  ] Name" line per test.
summary=$(grep -E '^\[  PASSED  \] [0-9]+ tests?\.' "${log}" | tail -n1)
skipped=$(count '^\[  SKIPPED \] .*\([0-9]+ ms\)$')
if [ -n "${summary}" ]; then
  passed=$(sed -E 's/^\[  PASSED  \] ([0-9]+).*/\1/' <<<"${summary}")
  failed=$(grep -E '^\[  FAILED  \] [0-9]+ tests?, listed below:' "${log}" | tail -n1 |
    sed -E 's/^\[  FAILED  \] ([0-9]+).*/\1/')
  failed=${failed:-0}
  ended=1
else
  # No summary: count the results seen so far; the test started last did not finish.
  passed=$(count '^\[       OK \] ')
  failed=$(($(count '^\[  FAILED  \] .*\([0-9]+ ms\)$') + 1))
  ended=0
fi
# A program that ran no test at all proves nothing.
none=0
if [ "${ended}" -eq 1 ] && [ $((passed + failed + skipped)) -eq 0 ]; then
  none=1
  failed=1
fi

if [ -n "${ZARERERA_GTEST_TALLY:-}" ]; then
  echo "${name} ${passed} ${failed} ${skipped}" >>"${ZARERERA_GTEST_TALLY}"
fi

if [ "${status}" -eq 0 ] && [ "${failed}" -eq 0 ]; then
  echo "${name}: ${passed} passed, ${skipped} skipped"
  exit 0
fi
cat "${log}"
echo "${name}: ${passed} passed, ${failed} failed, ${skipped} skipped (exit status ${status})"
if [ "${ended}" -eq 1 ]; then
  grep -E '^\[  FAILED  \] [^ ]+' "${log}" | grep -vE 'listed below:|\([0-9]+ ms\)$' |
    sed -E "s/^\[  FAILED  \] /${name}: FAILED /"
  [ "${none}" -eq 0 ] || echo "${name}: no test ran"
else
  running=$(grep -E '^\[ RUN      \] ' "${log}" | tail -n1 | sed -E 's/^\[ RUN      \] //')
  echo "${name}: ended without GoogleTest's summary, while running: ${running:-(no test started)}"
fi
[ "${status}" -ne 0 ] || status=1
exit "${status}"
