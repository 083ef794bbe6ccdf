#!/usr/bin/env bash
# Builds and runs every test: the steps of scripts/test.mk (what each is, and what it needs first),
# side by side as the processors become free, each step's output in build/logs/<step>.log. At the
# end a table gives each step's wall and CPU time, the log of every step that failed, and the count
# of results.
#
# Usage: scripts/test.sh [STEP...]
# With steps named, they run one after another in the order given, their output on the console;
# the first that fails ends the run.
set -euo pipefail
cd "$(dirname "$0")/.."

logs=build/logs
steps=("$@")
if [ ${#steps[@]} -eq 0 ]; then
  mapfile -t steps < <(make -s -f scripts/test.mk -pn 2>/dev/null | sed -n 's/^STEPS := //p' | tr ' ' '\n')
fi
mkdir -p "${logs}"
for step in "${steps[@]}"; do rm -f "${logs}/${step}".{time,tally,log}; done

if [ $# -eq 0 ]; then
  echo "==> steps: ${steps[*]} (logs in ${logs}/)"
  # Each step ends its own children; an interrupted run ends make and, through it, the steps.
  make -k -j "$(nproc 2>/dev/null || echo 2)" -f scripts/test.mk all </dev/null || true
else
  for step in "${steps[@]}"; do
    scripts/test-step.sh --console "${step}" || break
  done
fi

# The table, the count and the logs of the steps that failed, from what each step noted.
passed=0
failed=0
cpu_total=0
failures=()
echo "==> time per step (1/5/15-minute load averages at its end)"
for step in "${steps[@]}"; do
  if [ ! -f "${logs}/${step}.time" ]; then
    printf '%-10s not run\n' "${step}"
    failures+=("${step}")
    continue
  fi
  read -r status wall cpu load <"${logs}/${step}.time"
  printf '%-10s %5d s wall %6d s CPU  load %s%s\n' "${step}" "${wall}" "${cpu}" "${load}" \
    "$([ "${status}" -eq 0 ] || echo "  FAILED")"
  [ "${status}" -eq 0 ] || failures+=("${step}")
  read -r p f < <(awk '{ p += $1; f += $2 } END { print p + 0, f + 0 }' "${logs}/${step}.tally")
  passed=$((passed + p))
  failed=$((failed + f))
  cpu_total=$((cpu_total + cpu))
done
printf '%-10s %5d s wall %6d s CPU\n' "all" "${SECONDS}" "${cpu_total}"
if [ $# -eq 0 ]; then
  for step in "${failures[@]}"; do
    [ -s "${logs}/${step}.log" ] || continue
    echo "==> ${step} FAILED; its log (${logs}/${step}.log):"
    cat "${logs}/${step}.log"
  done
fi
echo "zarerera: ${passed} passed, ${failed} failed"
[ ${#failures[@]} -eq 0 ]
