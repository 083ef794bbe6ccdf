#!/usr/bin/env bash
# Runs one step of the test matrix (scripts/test.mk lists them and what each needs first) and notes
# its outcome for scripts/test.sh's table: build/logs/<step>.tally, one "PASSED FAILED" line per
# result it counted, and build/logs/<step>.time, "STATUS WALL CPU LOAD1 LOAD5 LOAD15".
#
# Usage: scripts/test-step.sh [--console] STEP
# With --console the step's output goes to the console; otherwise to build/logs/<step>.log, and the
# console gets a line as the step starts, one a minute while it runs (with the log's last line) and
# one as it ends.
set -uo pipefail
cd "$(dirname "$0")/.."

console=0
if [ "${1:-}" = "--console" ]; then
  console=1
  shift
fi
step=${1:?usage: scripts/test-step.sh [--console] STEP}
jobs=$(nproc 2>/dev/null || echo 2)
logs=build/logs
mkdir -p "${logs}"
tally=${logs}/${step}.tally
log=${logs}/${step}.log
: >"${tally}"
: >"${log}"
rm -f "${logs}/${step}.time"

# Adds PASSED and FAILED to the step's count.
count() { echo "$1 $2" >>"${tally}"; }

# The asan and emulated suites run each test program once, as one CTest test
# (scripts/gtest-program.sh); such a program counts as the GoogleTest tests it ran, which it notes
# in the tally (a program run twice counts with its last run).
run_ctest() {
  local out programs status=0
  out=$(mktemp)
  programs=$(mktemp)
  ZARERERA_GTEST_TALLY="${programs}" ctest --preset "$1" -j "${jobs}" "${@:2}" 2>&1 | tee "${out}" ||
    status=$?
  local line total fails n bad gpassed gfailed
  line=$(grep -E '^[0-9]+% tests passed, [0-9]+ tests failed out of [0-9]+' "${out}" | tail -n1)
  if [ -n "${line}" ]; then
    total=$(sed -E 's/.* out of ([0-9]+).*/\1/' <<<"${line}")
    fails=$(sed -E 's/.*, ([0-9]+) tests failed.*/\1/' <<<"${line}")
    read -r n bad gpassed gfailed < <(awk '{ last[$1] = $0 }
      END { for (k in last) { split(last[k], f, " "); n++; p += f[2] + f[4]; x += f[3]; b += (f[3] > 0) }
            print n + 0, b + 0, p + 0, x + 0 }' "${programs}")
    count $((total - fails - (n - bad) + gpassed)) $((fails - bad + gfailed))
  fi
  rm -f "${out}" "${programs}"
  return "${status}"
}

# The dev build's test programs under memcheck, as many at a time as there are processors. Not
# test_tools, whose sessions run the console host through a shell, where valgrind does not
# follow; less the two longest EEPROM sessions, whose steps shorter tests run too.
valgrind_programs=(test_driver test_sim test_p9050 test_board test_diag test_threads)
valgrind_filter="-EepromCard.AllThirtyTwoDwordsWriteAndReadBackWithTheDefaultWriteTime"
valgrind_filter+=":EepromMenuTest.DisplayReadWriteSession"
run_valgrind() {
  local status=0 program dir
  dir=$(mktemp -d)
  for program in "${valgrind_programs[@]}"; do
    while [ "$(jobs -rp | wc -l)" -ge "${jobs}" ]; do wait -n || true; done
    (
      code=0
      valgrind -q --error-exitcode=1 --leak-check=full "build/dev/tests/${program}" \
        --gtest_filter="${valgrind_filter}" >"${dir}/${program}.log" 2>&1 || code=$?
      echo "${code}" >"${dir}/${program}.status"
    ) &
  done
  wait
  for program in "${valgrind_programs[@]}"; do
    if [ "$(cat "${dir}/${program}.status" 2>/dev/null)" = 0 ]; then
      echo "valgrind: ${program} clean ($(grep -E '^\[  PASSED  \]' "${dir}/${program}.log" | tail -n1))"
      count 1 0
    else
      cat "${dir}/${program}.log"
      echo "valgrind: ${program} FAILED"
      count 0 1
      status=1
    fi
  done
  rm -rf "${dir}"
  return "${status}"
}

run_package() {
  local out status=0 line
  scripts/package.sh || return
  out=$(mktemp)
  scripts/check_packages.sh 2>&1 | tee "${out}" || status=$?
  line=$(grep -E '^check_packages: [0-9]+ passed, [0-9]+ failed' "${out}" | tail -n1)
  rm -f "${out}"
  if [ -n "${line}" ]; then
    count "$(sed -E 's/.*: ([0-9]+) passed.*/\1/' <<<"${line}")" \
      "$(sed -E 's/.*, ([0-9]+) failed.*/\1/' <<<"${line}")"
  else
    count 0 1
  fi
  return "${status}"
}

# A CMake preset's suite: configure, build, test.
run_preset() {
  cmake --preset "$1" >/dev/null
  cmake --build --preset "$1" -j "${jobs}"
  case "$1" in
    dll-i686)
      scripts/check_dll.sh "build/$1/zarerera.dll"
      for program in zarerera p9050diag; do
        scripts/check_dll.sh --program "build/$1/tools/${program}.exe"
      done
      # The DLL's tests under wine32 start the test driver in a prefix of their own.
      run_ctest "$1" --no-tests=error
      ;;
    dll-win64)
      scripts/check_dll.sh "build/$1/zarerera.dll"
      run_ctest "$1" --no-tests=error
      ;;
    # Under wine a test program now and then fails to start at all (no output, a few ms): such a
    # program gets one more run; a test that fails on its own fails both.
    win64 | win32) run_ctest "$1" --no-tests=error --repeat until-pass:2 ;;
    *) run_ctest "$1" --no-tests=error ;;
  esac
}

# The two 64-bit Windows suites share wine's server for the prefix build/wineprefix: one at a
# time, each starting it and stopping it at its end. The 32-bit suite has a prefix of its own in
# the i386 tree (build/wine32prefix).
with_wine() {
  local wine=$1
  shift
  if [ "${wine}" = wine64 ]; then
    exec 9>"${logs}/wine.lock"
    flock 9
  fi
  echo "==> starting ${wine}"
  # shellcheck disable=SC2064 # the server to stop is known now
  trap "scripts/${wine}-run.sh --stop" EXIT
  # The lock stays with this step: the servers wine starts must not inherit it.
  "scripts/${wine}-run.sh" --start 9>&-
  "$@" 9>&-
}

run_step() {
  set -e
  case "${step}" in
    valgrind)
      echo "==> valgrind: memcheck over the dev build's test programs"
      cmake --preset dev >/dev/null
      cmake --build --preset dev -j "${jobs}"
      run_valgrind
      ;;
    clang-link)
      echo "==> clang-link: the release preset's static libraries, linked from a program built by clang"
      # In the tree the .debs are built in: the package step then finds these libraries built.
      cmake --preset package-deb >/dev/null
      cmake --build build/package-deb -j "${jobs}" --target zarerera_board zarerera_sim
      scripts/clang-link.sh build/package-deb
      count 1 0
      ;;
    package)
      echo "==> package: build the packages, check them as their users meet them"
      run_package
      ;;
    fuzz)
      echo "==> fuzz: build the targets, run each ${FUZZ_SMOKE_SECONDS:-10} s on its corpus"
      scripts/fuzz.sh "${FUZZ_SMOKE_SECONDS:-10}"
      count "$(wc -l <build/fuzz/fuzz_targets.txt)" 0
      ;;
    win64 | dll-win64)
      echo "==> ${step}: configure, build, test"
      with_wine wine64 run_preset "${step}"
      ;;
    win32)
      echo "==> ${step}: configure, build, test"
      with_wine wine32 run_preset "${step}"
      ;;
    *)
      echo "==> ${step}: configure, build, test"
      run_preset "${step}"
      ;;
  esac
}

# CPU seconds (user + system) of the children this shell has waited for (fields 16 and 17 of its
# /proc stat): the step's share on a quiet machine, whatever else runs beside it.
cpu_seconds() { awk -v hz="$(getconf CLK_TCK)" '{ print int(($16 + $17) / hz) }' "/proc/$$/stat"; }

start=${SECONDS}
if [ "${console}" -eq 1 ]; then
  (run_step)
  status=$?
else
  echo "==> ${step} started (${log})"
  (run_step) </dev/null >>"${log}" 2>&1 &
  pid=$!
  # A line a minute, so that a long step is seen to be alive.
  while ! timeout 60 tail --pid="${pid}" -f /dev/null; do
    echo "==> ${step} running, $(((SECONDS - start) / 60)) min: $(tail -n1 "${log}" | cut -c1-100)"
  done
  wait "${pid}"
  status=$?
fi
wall=$((SECONDS - start))
cpu=$(cpu_seconds)
echo "${status} ${wall} ${cpu} $(cut -d' ' -f1-3 /proc/loadavg)" >"${logs}/${step}.time"
if [ "${console}" -eq 0 ]; then
  outcome=passed
  [ "${status}" -eq 0 ] || outcome="FAILED (status ${status})"
  echo "==> ${step} ${outcome}: ${wall} s wall, ${cpu} s CPU"
fi
exit "${status}"
