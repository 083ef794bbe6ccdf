#!/usr/bin/env bash
# scripts/gtest-program.sh runs a whole test program as one test: a failure inside it, a crash
# part-way or a program that runs nothing must fail that test, with the failing test's name in its
# output and the counts in the tally. Each case is a stand-in program printing what GoogleTest
# prints and exiting as it would.
set -uo pipefail
runner=${1:?path of scripts/gtest-program.sh}
work=$(mktemp -d)
trap 'rm -rf "${work}"' EXIT

cat >"${work}/program" <<'EOF'
#!/usr/bin/env bash
ok() { printf '[ RUN      ] %s\n[       OK ] %s (0 ms)\n' "$1" "$1"; }
case "$1" in
  pass)
    ok A.One; printf '[ RUN      ] A.Two\n[  SKIPPED ] A.Two (0 ms)\n'; ok P/B.Three/1
    printf '[==========] 3 tests ran.\n[  PASSED  ] 2 tests.\n[  SKIPPED ] 1 test, listed below:\n'
    printf '[  SKIPPED ] A.Two\n'; exit 0 ;;
  fail)
    ok A.One; printf '[ RUN      ] P/B.Three/4\nx.cpp:3: Failure\n'
    printf '[  FAILED  ] P/B.Three/4, where GetParam() = 4 (3 ms)\n[==========] 2 tests ran.\n'
    printf '[  PASSED  ] 1 test.\n[  FAILED  ] 1 test, listed below:\n'
    printf '[  FAILED  ] P/B.Three/4, where GetParam() = 4\n\n 1 FAILED TEST\n'; exit 1 ;;
  crash) ok A.One; ok A.Two; printf '[ RUN      ] A.Boom\n'; exit 139 ;;
  crash-status-0) ok A.One; printf '[ RUN      ] A.Boom\n'; exit 0 ;;
  none) printf '[==========] 0 tests ran.\n[  PASSED  ] 0 tests.\n'; exit 0 ;;
  silent) exit 0 ;;
esac
EOF
chmod +x "${work}/program"

failures=0
# case | exit status zero? | tally line | a line the output must hold
while IFS='|' read -r mode zero tally line; do
  : >"${work}/tally"
  output=$(ZARERERA_GTEST_TALLY="${work}/tally" "${runner}" prog "${work}/program" "${mode}")
  status=$?
  problem=""
  if [ "${zero}" = yes ] && [ "${status}" -ne 0 ]; then problem="exit status ${status}"; fi
  if [ "${zero}" = no ] && [ "${status}" -eq 0 ]; then problem="exit status 0"; fi
  [ "$(cat "${work}/tally")" = "${tally}" ] || problem+=" tally '$(cat "${work}/tally")'"
  grep -qxF "${line}" <<<"${output}" || problem+=" no line '${line}'"
  if [ -n "${problem}" ]; then
    echo "${mode}:${problem}"
    failures=$((failures + 1))
  fi
done <<'EOF'
pass|yes|prog 2 0 1|prog: 2 passed, 1 skipped
fail|no|prog 1 1 0|prog: FAILED P/B.Three/4, where GetParam() = 4
crash|no|prog 2 1 0|prog: ended without GoogleTest's summary, while running: A.Boom
crash-status-0|no|prog 1 1 0|prog: ended without GoogleTest's summary, while running: A.Boom
none|no|prog 0 1 0|prog: no test ran
silent|no|prog 0 1 0|prog: ended without GoogleTest's summary, while running: (no test started)
EOF
[ "${failures}" -eq 0 ] && echo "all cases reported as expected"
exit $((failures > 0))
