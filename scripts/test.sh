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
# gives each step's wall and CPU time.
#
# With no arguments the steps run in two lanes side by side, each lane's steps one after another,
# so that both processors stay busy while the other lane is in a serial phase (a test run, wine's
# or qemu's start-up, the fuzz runs, the packaging):
#   lane A: dev valgrind asan tsan
#   lane B: clang-link fuzz dll-i686 dll-win64 linux32 win64 package
# A step that needs another's tree is in its lane, after it (valgrind after dev; package after
# clang-link, dll-i686 and dll-win64), and the two Windows suites share one wine server, so they are
# in one lane too. Each step's output goes to build/logs/<step>.log; the console gets a line as a
# step starts and ends, and a failed step's log in full at the end. A failed step ends its lane
# (the steps after it are not run); the other lane goes on.
#
# With presets named, they run one after another in the order given, their output on the console;
# the first that fails ends the run.
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
# `package` is no CMake preset either: it builds the five .debs and the Windows zips
# (scripts/package.sh) and checks them as their users meet them (scripts/check_packages.sh:
# lintian, each .deb installed alone and all together in a scratch dpkg root, the examples built
# against the -dev packages with find_package and with pkg-config and run on the simulated board,
# the packages' file lists, the zipped DLLs through check_dll.sh).
#
# Usage: scripts/test.sh [PRESET...]
#        (default: dev valgrind asan tsan clang-link fuzz dll-i686 dll-win64 linux32 win64 package,
#        in the two lanes above)
set -euo pipefail
cd "$(dirname "$0")/.."

jobs=$(nproc 2>/dev/null || echo 2)
lane_a=(dev valgrind asan tsan)
lane_b=(clang-link fuzz dll-i686 dll-win64 linux32 win64 package)
presets=("$@")
lanes=0
if [ ${#presets[@]} -eq 0 ]; then
  presets=("${lane_a[@]}" "${lane_b[@]}")
  lanes=1
fi

# Each step's outcome, read back for the table and the count at the end (a lane runs in a
# subshell of its own): <step>.tally, one "PASSED FAILED" line per result the step counted;
# <step>.time, "STATUS WALL CPU LOAD..."; in lanes, <step>.log, its output.
results=build/logs
mkdir -p "${results}"
for preset in "${presets[@]}"; do
  rm -f "${results}/${preset}.tally" "${results}/${preset}.time" "${results}/${preset}.log"
done

wine_running=0
stop_wine() {
  if [ "${wine_running}" -eq 1 ]; then scripts/wine64-run.sh --stop; fi
}
start_wine() {
  if [ "${wine_running}" -eq 0 ]; then
    echo "==> starting wine64 (prefix build/wineprefix)"
    wine_running=1
    scripts/wine64-run.sh --start
  fi
}

# Adds PASSED and FAILED to the running step's count.
count() { echo "$1 $2" >>"${results}/${step_name}.tally"; }

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
    count $((total - fails - (programs - bad) + gpassed)) $((fails - bad + gfailed))
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
  local log status=0
  scripts/package.sh
  log=$(mktemp)
  scripts/check_packages.sh 2>&1 | tee "${log}" || status=$?
  local line
  line=$(grep -E '^check_packages: [0-9]+ passed, [0-9]+ failed' "${log}" | tail -n1 || true)
  rm -f "${log}"
  if [ -n "${line}" ]; then
    count "$(sed -E 's/.*: ([0-9]+) passed.*/\1/' <<<"${line}")" \
      "$(sed -E 's/.*, ([0-9]+) failed.*/\1/' <<<"${line}")"
  else
    count 0 1
  fi
  return "${status}"
}

# One step, in a subshell where its first failing command ends it.
run_step() {
  local preset=$1
  case "${preset}" in
    valgrind)
      echo "==> valgrind: memcheck over the dev build's test programs"
      cmake --preset dev >/dev/null
      cmake --build --preset dev -j "${jobs}"
      run_valgrind
      return
      ;;
    clang-link)
      echo "==> clang-link: the release preset's static libraries, linked from a program built by clang"
      # In the tree the .debs are built in: the package step then finds these libraries built.
      cmake --preset package-deb >/dev/null
      cmake --build build/package-deb -j "${jobs}" --target zarerera_board zarerera_sim
      scripts/clang-link.sh build/package-deb
      count 1 0
      return
      ;;
    package)
      echo "==> package: build the packages, check them as their users meet them"
      run_package
      return
      ;;
    fuzz)
      echo "==> fuzz: build the targets, run each ${FUZZ_SMOKE_SECONDS:-10} s on its corpus"
      scripts/fuzz.sh "${FUZZ_SMOKE_SECONDS:-10}"
      count "$(wc -l <"build/${preset}/fuzz_targets.txt")" 0
      return
      ;;
  esac
  echo "==> ${preset}: configure, build, test"
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
}

# CPU seconds (user + system) of the children the shell running the steps has waited for (fields
# 16 and 17 of its /proc stat): a step's share on a quiet machine, whatever else runs beside it
# (wine's background server is not counted). cpu_pid is that shell: the script, or its lane.
clock_ticks=$(getconf CLK_TCK)
cpu_pid=$$
cpu_seconds() { awk -v hz="${clock_ticks}" '{ print int(($16 + $17) / hz) }' "/proc/${cpu_pid}/stat"; }

# Runs COMMAND... with its output on the console, or in lanes to the running step's log.
step_output() {
  if [ "${lanes}" -eq 1 ]; then
    "$@" </dev/null >>"${results}/${step_name}.log" 2>&1
  else
    "$@"
  fi
}
# The step in a subshell of its own, where its first failing command ends it.
step_subshell() { (
  set -e
  run_step "$1"
); }

# Runs the steps named in order, until one fails; sets step_status to the last one's status.
run_steps() {
  local start start_cpu wall cpu outcome
  step_status=0
  for step_name in "$@"; do
    start=${SECONDS}
    start_cpu=$(cpu_seconds)
    : >"${results}/${step_name}.tally"
    if [ "${lanes}" -eq 1 ]; then
      : >"${results}/${step_name}.log"
      echo "==> ${step_name} started (${results}/${step_name}.log)"
    fi
    # Not in a condition ("step || status=$?"): there a failing command would not end the step.
    set +e
    # Wine is started by this shell, which stops it as it ends.
    case "${step_name}" in win64 | dll-win64) step_output start_wine ;; esac
    step_status=$?
    if [ "${step_status}" -eq 0 ]; then
      step_output step_subshell "${step_name}"
      step_status=$?
    fi
    set -e
    wall=$((SECONDS - start))
    cpu=$(($(cpu_seconds) - start_cpu))
    echo "${step_status} ${wall} ${cpu} $(cut -d' ' -f1-3 /proc/loadavg)" >"${results}/${step_name}.time"
    if [ "${lanes}" -eq 1 ]; then
      outcome=passed
      [ "${step_status}" -eq 0 ] || outcome="FAILED (status ${step_status})"
      echo "==> ${step_name} ${outcome}: ${wall} s wall, ${cpu} s CPU"
    fi
    [ "${step_status}" -eq 0 ] || return 0
  done
}

if [ "${lanes}" -eq 0 ]; then
  trap stop_wine EXIT
  run_steps "${presets[@]}"
else
  # Each lane in a process group of its own (job control), so that an interrupted run ends both
  # lanes and whatever they run; each stops wine, if it started it, as it ends.
  lane_pids=()
  end_lanes() {
    local pid
    for pid in "${lane_pids[@]}"; do kill -TERM -- "-${pid}" 2>/dev/null || true; done
  }
  trap end_lanes EXIT
  trap 'exit 130' INT
  trap 'exit 143' TERM
  lane() {
    cpu_pid=${BASHPID}
    trap stop_wine EXIT
    run_steps "$@"
  }
  echo "==> two lanes: ${lane_a[*]} | ${lane_b[*]} (logs in ${results}/)"
  set -m
  lane "${lane_a[@]}" </dev/null &
  lane_pids+=($!)
  lane "${lane_b[@]}" </dev/null &
  lane_pids+=($!)
  set +m
  wait "${lane_pids[@]}" || true
  lane_pids=()
  trap - EXIT
fi

# The table, the count and the logs of the steps that failed, from what each step noted.
passed=0
failed=0
cpu_total=0
failures=()
echo "==> time per step (1/5/15-minute load averages at its end)"
for preset in "${presets[@]}"; do
  if [ ! -f "${results}/${preset}.time" ]; then
    printf '%-10s not run\n' "${preset}"
    continue
  fi
  read -r status wall cpu load <"${results}/${preset}.time"
  printf '%-10s %5d s wall %6d s CPU  load %s%s\n' "${preset}" "${wall}" "${cpu}" "${load}" \
    "$([ "${status}" -eq 0 ] || echo "  FAILED")"
  [ "${status}" -eq 0 ] || failures+=("${preset}")
  read -r p f < <(awk '{ p += $1; f += $2 } END { print p + 0, f + 0 }' "${results}/${preset}.tally")
  passed=$((passed + p))
  failed=$((failed + f))
  cpu_total=$((cpu_total + cpu))
done
printf '%-10s %5d s wall %6d s CPU\n' "all" "${SECONDS}" "${cpu_total}"
if [ "${lanes}" -eq 1 ]; then
  for preset in "${failures[@]}"; do
    echo "==> ${preset} FAILED; its log (${results}/${preset}.log):"
    cat "${results}/${preset}.log"
  done
fi
echo "zarerera: ${passed} passed, ${failed} failed"
[ ${#failures[@]} -eq 0 ]
