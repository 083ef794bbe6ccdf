#!/usr/bin/env bash
# Builds and runs every test: the suite in a debug build and under AddressSanitizer with
# UndefinedBehaviorSanitizer, then the builds for the ABIs the library ships in: zarerera.dll for
# i686 Windows (checked with objdump), the x86-64 DLL loaded by a test under wine64 with the
# Win32 device channel's tests against a kernel-mode test driver (its own wine prefix), the whole
# suite as a 32-bit Linux program under qemu-i386-static, and as a 64-bit Windows program under
# wine64. Run from anywhere; build trees go to build/<preset>.
#
# Usage: scripts/test.sh [PRESET...]   (default: dev asan dll-i686 dll-win64 linux32 win64)
set -euo pipefail
cd "$(dirname "$0")/.."

jobs=$(nproc 2>/dev/null || echo 2)
presets=("$@")
[ ${#presets[@]} -gt 0 ] || presets=(dev asan dll-i686 dll-win64 linux32 win64)

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
run_ctest() {
  local log
  log=$(mktemp)
  local status=0
  ctest --preset "$1" -j "${jobs}" "${@:2}" 2>&1 | tee "${log}" || status=$?
  local line
  line=$(grep -E '^[0-9]+% tests passed, [0-9]+ tests failed out of [0-9]+' "${log}" | tail -n1 || true)
  rm -f "${log}"
  if [ -n "${line}" ]; then
    local total fails
    total=$(sed -E 's/.* out of ([0-9]+).*/\1/' <<<"${line}")
    fails=$(sed -E 's/.*, ([0-9]+) tests failed.*/\1/' <<<"${line}")
    passed=$((passed + total - fails))
    failed=$((failed + fails))
  fi
  return "${status}"
}

for preset in "${presets[@]}"; do
  echo "==> ${preset}: configure, build, test"
  case "${preset}" in
    win64 | dll-win64) start_wine ;;
  esac
  cmake --preset "${preset}" >/dev/null
  cmake --build --preset "${preset}" -j "${jobs}"
  case "${preset}" in
    dll-i686) scripts/check_dll.sh "build/${preset}/zarerera.dll" ;;
    dll-win64)
      scripts/check_dll.sh "build/${preset}/zarerera.dll"
      run_ctest "${preset}" --no-tests=error
      ;;
    *) run_ctest "${preset}" --no-tests=error ;;
  esac
done

echo "zarerera: ${passed} passed, ${failed} failed"
