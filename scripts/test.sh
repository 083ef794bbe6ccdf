#!/usr/bin/env bash
# Builds and runs every test: the suite in a debug build (each test its own process) and under
# AddressSanitizer with UndefinedBehaviorSanitizer (each test program once), the tests of boards
# used from several threads under ThreadSanitizer (tsan: only that program is built there), the
# libFuzzer targets, each run for a short smoke time on its seed corpus (fuzz; FUZZ_SMOKE_SECONDS,
# default 10), then the builds for the ABIs the library ships in: zarerera.dll for i686 Windows
# (checked with objdump), the x86-64 DLL loaded by a test under wine64 with the Win32 device
# channel's tests against a kernel-mode test driver (its own wine prefix), the whole suite as a
# 32-bit Linux program under qemu-i386-static, and as a 64-bit Windows program under wine64 with the
# Windows tools' transcripts (each emulated test program runs once, all its tests in one process:
# scripts/gtest-program.sh). Run from anywhere; build trees go to build/<preset>. At the end a table
# gives each step's wall time.
#
# `clang-link` is no CMake preset either: it builds the release preset's static libraries (GCC,
# link-time optimised) and links and runs the board demo built by clang against them
# (scripts/clang-link.sh).
#
# `valgrind` is no CMake preset: it runs the dev build's test programs (building build/dev if
# needed) under valgrind memcheck, each program once, and fails on any error or leak. It covers
# every program but test_tools (whose sessions run the console host through a shell, where
# valgrind does not follow), less the two longest EEPROM sessions (every dword written and read
# back; the menu's whole display-read-write session), whose steps shorter tests run too. It takes
# about 30 s of CPU time (2 minutes of wall time measured on two cores shared with a dozen other
# jobs), under the 3 minutes that keep a step in the default list.
#
# `package` is no CMake preset either: it builds the .deb and the Windows zips (scripts/package.sh)
# and checks them as their users meet them (scripts/check_packages.sh: the example built against
# an installed prefix with find_package and with pkg-config and run on the simulated board, the
# packages' file lists, the zipped DLLs through check_dll.sh).
#
# Usage: scripts/test.sh [PRESET...]
#        (default: dev valgrind asan tsan clang-link fuzz dll-i686 dll-win64 linux32 win64 package)
set -euo pipefail
cd "$(dirname "$0")/.."

jobs=$(nproc 2>/dev/null || echo 2)
presets=("$@")
[ ${#presets[@]} -gt 0 ] || presets=(dev valgrind asan tsan clang-link fuzz dll-i686 dll-win64 linux32 win64 package)

wine_running=0
stop_wine() {
  if [ "${wine_running}" -eq 1 ]; then scripts/wine64-run.sh --stop; fi
}
trap stop_wine EXIT
start_wine() {
  if [ "${wine_running}" -eq 0 ]; then
    echo "==> starting wine64 (prefix build/wineprefix)"
    scripts/wine64-run.sh --start
    wine_running=1
  fi
}

passed=0
failed=0
# The asan and emulated suites run each test program once, as one CTest test
# (scripts/gtest-program.sh); such a program counts as the GoogleTest tests it ran, which it notes
# in the tally (a program run twice counts with its last run).
run_ctest() {
  local log tally
  log=$(mktemp)
  tally=$(mktemp)
  local status=0
  ZARERERA_GTEST_TALLY="${tally}" ctest --preset "$1" -j "${jobs}" "${@:2}" 2>&1 | tee "${log}" ||
    status=$?
  local line
  line=$(grep -E '^[0-9]+% tests passed, [0-9]+ tests failed out of [0-9]+' "${log}" | tail -n1 || true)
  rm -f "${log}"
  if [ -n "${line}" ]; then
    local total fails programs bad gpassed gfailed
    total=$(sed -E 's/.* out of ([0-9]+).*/\1/' <<<"${line}")
    fails=$(sed -E 's/.*, ([0-9]+) tests failed.*/\1/' <<<"${line}")
    read -r programs bad gpassed gfailed < <(awk '{ last[$1] = $0 }
      END { for (k in last) { split(last[k], f, " "); n++; p += f[2] + f[4]; x += f[3]; b += (f[3] > 0) }
            print n + 0, b + 0, p + 0, x + 0 }' "${tally}")
    passed=$((passed + total - fails - (programs - bad) + gpassed))
    failed=$((failed + fails - bad + gfailed))
  fi
  rm -f "${tally}"
  return "${status}"
}

valgrind_programs=(test_driver test_sim test_p9050 test_board test_diag test_threads)
valgrind_filter="-EepromCard.AllThirtyTwoDwordsWriteAndReadBackWithTheDefaultWriteTime"
valgrind_filter+=":EepromMenuTest.DisplayReadWriteSession"
# The programs run side by side, as many at a time as there are processors; their results are
# reported in order once all have ended.
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
      passed=$((passed + 1))
    else
      cat "${dir}/${program}.log"
      echo "valgrind: ${program} FAILED"
      failed=$((failed + 1))
      status=1
    fi
  done
  rm -rf "${dir}"
  return "${status}"
}

run_package() {
  local log status=0
  scripts/package.sh
  log=$(mktemp)
  scripts/check_packages.sh 2>&1 | tee "${log}" || status=$?
  local line
  line=$(grep -E '^check_packages: [0-9]+ passed, [0-9]+ failed' "${log}" | tail -n1 || true)
  rm -f "${log}"
  if [ -n "${line}" ]; then
    passed=$((passed + $(sed -E 's/.*: ([0-9]+) passed.*/\1/' <<<"${line}")))
    failed=$((failed + $(sed -E 's/.*, ([0-9]+) failed.*/\1/' <<<"${line}")))
  else
    failed=$((failed + 1))
  fi
  return "${status}"
}

timings=()
# CPU seconds (user + system) of the script's children so far: a step's share on a quiet machine,
# whatever else runs beside it (wine's background server is not counted).
# (fields 16 and 17 of the script's own /proc stat: its waited-for children's user and system time).
clock_ticks=$(getconf CLK_TCK)
cpu_seconds() { awk -v hz="${clock_ticks}" '{ print int(($16 + $17) / hz) }' "/proc/$$/stat"; }
# Notes what the step just ended took, for the table at the end.
took() {
  timings+=("$(printf '%-10s %5d s wall %6d s CPU  load %s' "$1" $((SECONDS - $2)) \
    $(($(cpu_seconds) - $3)) "$(cut -d' ' -f1-3 /proc/loadavg)")")
}

for preset in "${presets[@]}"; do
  start=${SECONDS}
  start_cpu=$(cpu_seconds)
  if [ "${preset}" = valgrind ]; then
    echo "==> valgrind: memcheck over the dev build's test programs"
    cmake --preset dev >/dev/null
    cmake --build --preset dev -j "${jobs}"
    run_valgrind
    took "${preset}" "${start}" "${start_cpu}"
    continue
  fi
  if [ "${preset}" = clang-link ]; then
    echo "==> clang-link: the release preset's static libraries, linked from a program built by clang"
    # In the tree the .deb is built in: the package step then finds these libraries built.
    cmake --preset package-deb >/dev/null
    cmake --build build/package-deb -j "${jobs}" --target zarerera_board zarerera_sim
    scripts/clang-link.sh build/package-deb
    passed=$((passed + 1))
    took "${preset}" "${start}" "${start_cpu}"
    continue
  fi
  if [ "${preset}" = package ]; then
    echo "==> package: build the packages, check them as their users meet them"
    run_package
    took "${preset}" "${start}" "${start_cpu}"
    continue
  fi
  if [ "${preset}" = fuzz ]; then
    echo "==> fuzz: build the targets, run each ${FUZZ_SMOKE_SECONDS:-10} s on its corpus"
    scripts/fuzz.sh "${FUZZ_SMOKE_SECONDS:-10}"
    passed=$((passed + $(wc -l <"build/${preset}/fuzz_targets.txt")))
    took "${preset}" "${start}" "${start_cpu}"
    continue
  fi
  echo "==> ${preset}: configure, build, test"
  case "${preset}" in
    win64 | dll-win64) start_wine ;;
  esac
  cmake --preset "${preset}" >/dev/null
  cmake --build --preset "${preset}" -j "${jobs}"
  case "${preset}" in
    dll-i686)
      scripts/check_dll.sh "build/${preset}/zarerera.dll"
      for program in zarerera p9050diag; do
        scripts/check_dll.sh --program "build/${preset}/tools/${program}.exe"
      done
      ;;
    dll-win64)
      scripts/check_dll.sh "build/${preset}/zarerera.dll"
      run_ctest "${preset}" --no-tests=error
      ;;
    # Under wine a test program now and then fails to start at all (no output, a few ms): such a
    # program gets one more run; a test that fails on its own fails both.
    win64) run_ctest "${preset}" --no-tests=error --repeat until-pass:2 ;;
    *) run_ctest "${preset}" --no-tests=error ;;
  esac
  took "${preset}" "${start}" "${start_cpu}"
done

echo "==> time per step (1/5/15-minute load averages at its end)"
printf '%s\n' "${timings[@]}"
echo "zarerera: ${passed} passed, ${failed} failed"
