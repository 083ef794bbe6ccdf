#!/usr/bin/env bash
# scripts/vm-run.sh carries a guest program's output and exit status back exactly, loads a kernel
# module after the ones it depends on with its arguments, runs the program a second time as an
# unprivileged uid when asked, stops a guest that outlives its time, and skips
# (77) when something it needs is missing, except in CI, where that fails. Two guests are booted.
set -uo pipefail
script=${1:?path of scripts/vm-run.sh}
cache=${2:?the guest cache directory}
work=$(mktemp -d)
trap 'rm -rf "${work}"' EXIT
failures=0
check() {  # NAME EXPECTED ACTUAL
  if [ "$2" == "$3" ]; then
    echo "ok: $1"
  else
    printf 'FAILED: %s\n  expected: %q\n  actual:   %q\n' "$1" "$2" "$3"
    failures=$((failures + 1))
  fi
}

# The guest first: a missing package must not count as a pass of the rest.
"${script}" --help >/dev/null 2>&1
status=0
ZARERERA_VM_QEMU=qemu-system-none CI='' "${script}" /bin/true >"${work}/out" 2>&1 || status=$?
check "missing emulator skips" 77 "${status}"
check "the message names the package" 1 "$(grep -c 'install package qemu-system-x86' "${work}/out")"
status=0
ZARERERA_VM_QEMU=qemu-system-none CI=true "${script}" /bin/true >/dev/null 2>&1 || status=$?
check "missing emulator fails in CI" 1 "${status}"

cat >"${work}/program" <<'EOF2'
#!/bin/sh
printf 'uid %s args [%s] [%s] [%s]\n' "$(id -u)" "$1" "$2" "$3"
printf 'pwd %s guest %s\n' "$(pwd)" "${ZARERERA_VM_GUEST}"
printf 'vfio %s nointxmask %s\n' "$([ -d /sys/module/vfio ] && echo loaded)" \
  "$(cat /sys/module/vfio_pci/parameters/nointxmask)"
printf 'no newline at the end'
[ "$(id -u)" = 0 ] && exit 0
exit 5
EOF2
chmod +x "${work}/program"
status=0
"${script}" --cache "${cache}" --user 1000 --module vfio-pci=nointxmask=1 "${work}/program" a "b c" "it's" >"${work}/out" 2>"${work}/err" ||
  status=$?
if [ "${status}" -eq 77 ]; then
  cat "${work}/err"
  exit 77
fi
check "status of the unprivileged run, the first non-zero" 5 "${status}"
expected="uid 0 args [a] [b c] [it's]
pwd /tmp guest 1
vfio loaded nointxmask Y
no newline at the enduid 1000 args [a] [b c] [it's]
pwd /tmp guest 1
vfio loaded nointxmask Y
no newline at the end"
check "both runs' output, byte for byte, the module loaded" "${expected}" "$(cat "${work}/out")"

start=${SECONDS}
status=0
"${script}" --cache "${cache}" --timeout 8 /bin/sleep 600 >/dev/null 2>"${work}/err" || status=$?
check "a guest that outlives its time" 124 "${status}"
check "stopped at its time" 1 "$([ $((SECONDS - start)) -lt 30 ] && echo 1 || echo 0)"

if [ "${failures}" -ne 0 ]; then
  echo "vm_run_test: ${failures} check(s) failed"
  exit 1
fi
echo "vm_run_test: all checks passed"
