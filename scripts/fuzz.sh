#!/usr/bin/env bash
# Builds the libFuzzer targets (fuzz/, the fuzz preset: clang with AddressSanitizer and
# UndefinedBehaviorSanitizer) and runs each in turn for SECONDS (default 60), starting from its seed
# corpus fuzz/corpus/<target>. New inputs go to build/fuzz/corpus/<target> (kept between runs),
# crashes to build/fuzz/artifacts/. Prints each target's runs and executions per second; fails when
# a target fails.
#
# Usage: scripts/fuzz.sh [--no-build] [SECONDS] [TARGET...]
set -euo pipefail
cd "$(dirname "$0")/.."

build=1
if [ "${1:-}" = "--no-build" ]; then
  build=0
  shift
fi
seconds=${1:-60}
shift || true
jobs=$(nproc 2>/dev/null || echo 2)

if [ "${build}" -eq 1 ]; then
  cmake --preset fuzz >/dev/null
  cmake --build --preset fuzz -j "${jobs}"
fi

out=build/fuzz
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  mapfile -t targets <"${out}/fuzz_targets.txt"
fi
mkdir -p "${out}/artifacts"

failed=0
for target in "${targets[@]}"; do
  work="${out}/corpus/${target}"
  mkdir -p "${work}"
  log="${out}/fuzz_${target}.log"
  echo "==> fuzz ${target}: ${seconds} s"
  status=0
  # -rss_limit_mb: every target stays far below; -timeout: one input that takes 10 s is a hang.
  "${out}/fuzz/fuzz_${target}" -max_total_time="${seconds}" -print_final_stats=1 -timeout=10 \
    -rss_limit_mb=2048 -artifact_prefix="${out}/artifacts/${target}-" "${work}" \
    "fuzz/corpus/${target}" >"${log}" 2>&1 || status=$?
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "${log}" | tail -n1)
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "${log}" | tail -n1)
  if [ "${status}" -ne 0 ]; then
    tail -n 60 "${log}"
    echo "fuzz ${target}: FAILED (status ${status}; log ${log})"
    failed=$((failed + 1))
  else
    echo "fuzz ${target}: ${runs:-?} runs, ${rate:-?} exec/s"
  fi
done
[ "${failed}" -eq 0 ]
