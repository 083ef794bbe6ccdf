#!/usr/bin/env bash
# Builds the libFuzzer targets (fuzz/, the fuzz preset: clang with AddressSanitizer and
# UndefinedBehaviorSanitizer) and runs each for SECONDS (default 60), as many at a time as there
# are processors, starting from its seed corpus fuzz/corpus/<target>. New inputs go to
# build/fuzz/corpus/<target> (kept between runs), crashes to build/fuzz/artifacts/. Prints each
# target's runs, executions per second and coverage (libFuzzer's cov:); fails when a target fails.
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

out=build/fuzz
[ "${build}" -eq 0 ] || cmake --preset fuzz >/dev/null
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  mapfile -t targets <"${out}/fuzz_targets.txt"
fi
# Only the targets and what they link: the preset's tools are not fuzzed here.
[ "${build}" -eq 0 ] || cmake --build --preset fuzz -j "${jobs}" --target "${targets[@]/#/fuzz_}"
mkdir -p "${out}/artifacts"
# The targets' scratch files stay in the build tree, emptied at each run.
export TMPDIR=${PWD}/${out}/scratch
rm -rf "${TMPDIR}"
mkdir -p "${TMPDIR}"

# The targets run side by side, as many at a time as there are processors (each for SECONDS);
# their results are reported in order once all have ended.
run_target() {
  local target=$1 work="${out}/corpus/$1" status=0 options=()
  mkdir -p "${work}"
  # A target's own libFuzzer options (e.g. a -max_len that reaches whole sessions or files), one a
  # line, in fuzz/options/<target>.
  if [ -f "fuzz/options/${target}" ]; then mapfile -t options <"fuzz/options/${target}"; fi
  # -rss_limit_mb: every target stays far below; -timeout: one input that takes 10 s is a hang.
  "${out}/fuzz/fuzz_${target}" -max_total_time="${seconds}" -print_final_stats=1 -timeout=10 \
    -rss_limit_mb=2048 "${options[@]}" -artifact_prefix="${out}/artifacts/${target}-" "${work}" \
    "fuzz/corpus/${target}" >"${out}/fuzz_${target}.log" 2>&1 || status=$?
  echo "${status}" >"${out}/fuzz_${target}.status"
}

echo "==> fuzz ${targets[*]}: ${seconds} s each, ${jobs} at a time"
for target in "${targets[@]}"; do
  rm -f "${out}/fuzz_${target}.status"
  while [ "$(jobs -rp | wc -l)" -ge "${jobs}" ]; do wait -n || true; done
  run_target "${target}" &
done
wait

failed=0
for target in "${targets[@]}"; do
  log="${out}/fuzz_${target}.log"
  status=$(cat "${out}/fuzz_${target}.status" 2>/dev/null || echo "none")
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "${log}" | tail -n1)
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "${log}" | tail -n1)
  cov=$(grep -o 'cov: [0-9]*' "${log}" | tail -n1 | sed 's/cov: //' || true)
  if [ "${status}" != 0 ]; then
    tail -n 60 "${log}"
    echo "fuzz ${target}: FAILED (status ${status}; log ${log})"
    failed=$((failed + 1))
  else
    echo "fuzz ${target}: ${runs:-?} runs, ${rate:-?} exec/s, cov: ${cov:-?}"
  fi
done
[ "${failed}" -eq 0 ]
