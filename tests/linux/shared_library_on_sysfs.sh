#!/usr/bin/env bash
# Proves that libzarerera.so falls back on the sysfs driver: APP, linked against the shared library
# and making no call but the board API, runs in a private mount namespace where a fabricated PLX 9050
# board stands at /sys/bus/pci/devices (the real bus stays untouched, and unseen). It must find the
# board, read its digital input from resource3 and leave its output byte there.
# Exit 77 (skipped) where no mount namespace can be made (not root, no CAP_SYS_ADMIN).
set -euo pipefail
app=$1
if [ ! -d /sys/bus/pci/devices ] || ! unshare -m true 2>/dev/null; then
  echo "no mount namespace over /sys/bus/pci/devices here: skipped"
  exit 77
fi
tree=$(mktemp -d)
trap 'rm -rf "${tree}"' EXIT
fn=${tree}/0000:00:05.0
mkdir "${fn}"
zeros() { head -c "$1" /dev/zero; }
# Vendor 9050, device 10b5, little-endian, then the rest of the 256 bytes.
{ printf '\x50\x90\xb5\x10'; zeros 252; } >"${fn}/config"
# BAR0 registers (memory, 128 bytes), BAR1 registers (I/O), BAR3 the port window (I/O, 32 bytes).
printf '0x%016x 0x%016x 0x%016x\n' \
  0xfe000000 0xfe00007f 0x200 0xc080 0xc0ff 0x101 0 0 0 \
  0xc100 0xc11f 0x101 0 0 0 0 0 0 0 0 0 >"${fn}/resource"
echo 10 >"${fn}/irq"
zeros 128 >"${fn}/resource0"
zeros 128 >"${fn}/resource1"
{ zeros 16; printf '\x5a'; zeros 15; } >"${fn}/resource3"  # digital input 0x5a at 0x10

output=$(unshare -m bash -c "mount --bind '${tree}' /sys/bus/pci/devices && exec '${app}'")
echo "${output}"
[ "${output}" = "digital input 0x5a" ]
latch=$(od -An -tx1 -j 20 -N 1 "${fn}/resource3" | tr -d ' \n')
echo "output byte in resource3: 0x${latch}"
[ "${latch}" = "a5" ]
