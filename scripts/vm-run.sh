#!/usr/bin/env bash
# Runs one program as root inside a Linux guest of its own: Debian's kernel under QEMU's software
# emulation (q35 machine), booted from an initramfs built here, with the PCI functions the caller
# asks for. The guest's whole PCI bus is the program's to write to; the host's bus is never
# touched. No privileges are needed: QEMU emulates everything in a user process.
#
# The program's output (standard output and error, interleaved) comes back on this script's
# standard output, and its exit status is this script's. It runs with the working directory /tmp,
# no standard input, PATH=/vm/bin:..., ZARERERA_VM_GUEST=1 and the caller's ASAN_OPTIONS,
# UBSAN_OPTIONS, LSAN_OPTIONS and TSAN_OPTIONS in its environment; the kernel's
# command line carries zarerera.vm=1, by which a test program knows it is in such a guest.
#
# The initramfs: busybox (its applets as links), lspci with its libraries and pci.ids, the
# kernel modules asked for with their dependencies, an /init that mounts proc, sysfs and devtmpfs,
# loads the modules, runs the program (output on the second serial port, read back into a file
# here), reports its status on the console and powers off. That part is cached under the cache
# directory (one archive per kernel, module set and host package state); the programs, with the
# shared libraries ldd lists for them, go into a second archive made for each run. The kernel
# reads the two one after another.
#
# Usage: scripts/vm-run.sh [OPTION...] PROGRAM [ARG...]
#   --device NAME     add a PCI function; NAME is one of
#                       edu          QEMU's edu device (1234:11e8) on bus 0
#                       rp-edu       a PCIe root port (1b36:000c, 00:10.0) with an edu behind it, on bus 1
#                       pci-testdev  QEMU's PCI test device (1b36:0005)
#                       e1000e       an Intel 82574L network card (8086:10d3) with no network behind it
#                     or anything else, given to QEMU as -device NAME
#   --file PATH       put another program (with its libraries) or file into the guest's /vm/bin
#   --module NAME     load kernel module NAME (and what it depends on, first); NAME=ARGS passes
#                     ARGS (space-separated) to insmod
#   --env NAME=VALUE  set in the program's environment
#   --user UID        after the root run, run the program again as UID (group UID, no other
#                     groups); its output follows, and the status is the first non-zero of the two
#   --timeout SECONDS the whole run, boot to power-off (default 180); then status 124
#   --cache DIR       where the initramfs parts are kept (default: build/vm-cache)
#   --memory MIB      the guest's memory (default 1024)
#   --qemu ARG        one more argument for qemu-system-x86_64 (repeatable)
#   --append ARG      one more argument on the kernel's command line (repeatable), e.g.
#                     intel_iommu=on with --device intel-iommu (given first) for VFIO
#   --keep            keep the run's directory (console log, archives) and print its path
#
# Exit status: the program's; 124 when the run timed out; 125 when the guest came down without
# reporting one (the console log is shown); 77 when something needed is not installed (the message
# names the package), except with CI set in the environment, where that is a failure (status 1).
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "${here}/.." && pwd)

devices=()
files=()
modules=()
envs=()
user=""
timeout_s=180
cache="${root}/build/vm-cache"
memory=1024
qemu_extra=()
kernel_args=()
keep=0

usage() {
  sed -n '/^# Usage:/,/^# Exit status/p' "$0" | sed 's/^# \{0,1\}//' >&2
  exit 2
}

while [ $# -gt 0 ]; do
  case "$1" in
    --device) devices+=("${2:?--device needs a name}"); shift 2 ;;
    --file) files+=("${2:?--file needs a path}"); shift 2 ;;
    --module) modules+=("${2:?--module needs a name}"); shift 2 ;;
    --env) envs+=("${2:?--env needs NAME=VALUE}"); shift 2 ;;
    --user) user=${2:?--user needs a uid}; shift 2 ;;
    --timeout) timeout_s=${2:?--timeout needs seconds}; shift 2 ;;
    --cache) cache=${2:?--cache needs a directory}; shift 2 ;;
    --memory) memory=${2:?--memory needs MiB}; shift 2 ;;
    --qemu) qemu_extra+=("${2:?--qemu needs an argument}"); shift 2 ;;
    --append) kernel_args+=("${2:?--append needs an argument}"); shift 2 ;;
    --keep) keep=1; shift ;;
    --help | -h) usage ;;
    --) shift; break ;;
    -*) echo "vm-run: unknown option $1" >&2; usage ;;
    *) break ;;
  esac
done
[ $# -gt 0 ] || usage
program=$1
shift
[[ "${user}" =~ ^[0-9]*$ ]] || { echo "vm-run: --user takes a number, not ${user}" >&2; exit 2; }
for e in "${envs[@]}"; do
  [[ "${e}" =~ ^[A-Za-z_][A-Za-z0-9_]*= ]] || { echo "vm-run: --env takes NAME=VALUE, not ${e}" >&2; exit 2; }
done

# The sanitizers' options of the caller's environment hold in the guest too.
for v in ASAN_OPTIONS UBSAN_OPTIONS LSAN_OPTIONS TSAN_OPTIONS; do
  if [ -n "${!v:-}" ]; then envs+=("${v}=${!v}"); fi
done

# Something needed is missing: skip (77), or, in CI, fail.
missing() {
  echo "vm-run: $1 is missing (install package $2); the guest cannot be started" >&2
  if [ -n "${CI:-}" ]; then exit 1; fi
  exit 77
}

# ZARERERA_VM_QEMU names another emulator binary (the script's own test names a missing one).
qemu=${ZARERERA_VM_QEMU:-qemu-system-x86_64}
command -v "${qemu}" >/dev/null || missing "${qemu}" qemu-system-x86
command -v cpio >/dev/null || missing cpio cpio
command -v lspci >/dev/null || missing lspci pciutils
busybox=$(command -v busybox || true)
[ -n "${busybox}" ] || missing busybox busybox-static
# The newest kernel that has its modules installed beside it.
kernel=""
release=""
for image in $(printf "%s\n" /boot/vmlinuz-*-amd64 | sort -V -r); do
  candidate=${image#/boot/vmlinuz-}
  if [ -r "${image}" ] && [ -f "/lib/modules/${candidate}/modules.dep" ]; then
    kernel=${image}
    release=${candidate}
    break
  fi
done
[ -n "${kernel}" ] || missing "a readable /boot/vmlinuz-*-amd64 with its modules" linux-image-amd64
pci_ids=""
for f in /usr/share/misc/pci.ids /usr/share/hwdata/pci.ids; do
  if [ -r "${f}" ]; then pci_ids=${f}; break; fi
done
[ -n "${pci_ids}" ] || missing pci.ids pci.ids
[ -x "${program}" ] || { echo "vm-run: ${program} is not an executable file" >&2; exit 2; }
for f in "${files[@]}"; do
  [ -e "${f}" ] || { echo "vm-run: ${f} does not exist" >&2; exit 2; }
done

# Copies FILE into staging tree DIR at the same path, and for a dynamically linked program, every
# library ldd lists for it (symbolic links followed: the guest gets the files under the names the
# loader asks for).
add_with_libraries() {
  local dir=$1 file=$2 lib
  mkdir -p "${dir}$(dirname "${file}")"
  cp -L "${file}" "${dir}${file}"
  while read -r lib; do
    [ -n "${lib}" ] || continue
    if [ ! -e "${dir}${lib}" ]; then
      mkdir -p "${dir}$(dirname "${lib}")"
      cp -L "${lib}" "${dir}${lib}"
    fi
  done < <(ldd "${file}" 2>/dev/null | grep -oE '(^|[[:space:]])/[^[:space:]]+' |
             sed 's/^[[:space:]]*//' || true)
}
# The same for a program placed under another path in the guest.
add_program_as() {
  local dir=$1 file=$2 target=$3
  local real
  real=$(readlink -f "${file}")
  add_with_libraries "${dir}" "${real}"
  if [ "${real}" != "${target}" ]; then
    mkdir -p "${dir}$(dirname "${target}")"
    mv "${dir}${real}" "${dir}${target}"
  fi
}

# The module files to load, dependencies first, from modules.dep.
module_files() {
  local name=$1 dep line path
  name=${name%%=*}
  line=$(grep -E "(^|/)${name//[-_]/[-_]}\.ko(\.[a-z]+)?:" "/lib/modules/${release}/modules.dep" | head -n1 || true)
  [ -n "${line}" ] || { echo "vm-run: no module ${name} in /lib/modules/${release}" >&2; exit 2; }
  path=${line%%:*}
  for dep in $(echo "${line#*:}" | tr ' ' '\n' | tac); do echo "${dep}"; done
  echo "${path}"
}

mkdir -p "${cache}"
cache=$(cd "${cache}" && pwd)

# --- The cached part: busybox, lspci, modules, /init.
module_list=()
for m in "${modules[@]}"; do
  needed=$(module_files "${m}") || exit 2
  for f in ${needed}; do
    case " ${module_list[*]} " in *" ${f} "*) ;; *) module_list+=("${f}") ;; esac
  done
done
key=$( {
  echo "${release}"
  sha256sum "$0" "${busybox}" "$(command -v lspci)" "${pci_ids}"
  echo "${module_list[*]}"
} | sha256sum | cut -c1-16)
base="${cache}/base-${key}.cpio"
if [ ! -f "${base}" ]; then
  stage=$(mktemp -d "${cache}/stage.XXXXXX")
  mkdir -p "${stage}"/{bin,sbin,usr/bin,usr/sbin,proc,sys,dev,tmp,run,vm/bin,etc,root}
  add_program_as "${stage}" "${busybox}" /bin/busybox
  for applet in $("${busybox}" --list); do
    [ -e "${stage}/bin/${applet}" ] || ln -s busybox "${stage}/bin/${applet}"
  done
  add_program_as "${stage}" "$(command -v lspci)" /usr/bin/lspci
  mkdir -p "${stage}/usr/share/misc"
  cp -L "${pci_ids}" "${stage}/usr/share/misc/pci.ids"
  mkdir -p "${stage}/lib/modules/${release}"
  # The module indexes, which lspci (through libkmod) reads to name the drivers of functions.
  cp /lib/modules/"${release}"/modules.*.bin /lib/modules/"${release}"/modules.dep \
    "${stage}/lib/modules/${release}/"
  for f in "${module_list[@]}"; do
    mkdir -p "${stage}/lib/modules/${release}/$(dirname "${f}")"
    cp "/lib/modules/${release}/${f}" "${stage}/lib/modules/${release}/${f}"
  done
  cat >"${stage}/init" <<'EOF'
#!/bin/sh
# The guest's first process: mount, load modules, run the program, report, power off.
export PATH=/vm/bin:/usr/sbin:/usr/bin:/sbin:/bin
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
mkdir -p /dev/pts /dev/shm
mount -t tmpfs tmpfs /dev/shm
mount -t tmpfs tmpfs /tmp
chmod 1777 /tmp
# The run's own part: modules to load, the program's name, arguments and environment.
. /vm/conf
stty -F /dev/ttyS1 raw -echo 2>/dev/null
status=0
. /vm/run-root
echo "zarerera-vm: status root ${status}"
if [ -n "${vm_user}" ]; then
  . /vm/run-user
  echo "zarerera-vm: status user ${status}"
fi
echo "zarerera-vm: done"
poweroff -f
EOF
  chmod 755 "${stage}/init"
  (cd "${stage}" && find . | LC_ALL=C sort | cpio -o -H newc -R 0:0 --quiet) >"${base}.tmp.$$"
  mv "${base}.tmp.$$" "${base}"
  rm -rf "${stage}"
fi
# Each use keeps an archive fresh; one unused for a day (an older kernel, module set or script) goes.
touch "${base}"
find "${cache}" -maxdepth 1 -name 'base-*.cpio' -mtime +0 -delete 2>/dev/null || true

# --- This run's part: the program, the extra files, the configuration /init reads.
run_dir=$(mktemp -d "${cache}/run.XXXXXX")
cleanup() {
  if [ "${keep}" -eq 1 ]; then
    echo "vm-run: run directory kept: ${run_dir}" >&2
  else
    rm -rf "${run_dir}"
  fi
}
trap cleanup EXIT
stage="${run_dir}/stage"
mkdir -p "${stage}/vm/bin"
name=$(basename "${program}")
add_program_as "${stage}" "${program}" "/vm/bin/${name}"
for f in "${files[@]}"; do
  if [ -x "${f}" ] && [ ! -d "${f}" ]; then
    add_program_as "${stage}" "${f}" "/vm/bin/$(basename "${f}")"
  else
    cp -rL "${f}" "${stage}/vm/bin/"
  fi
done

quote() { printf "'%s'" "$(printf '%s' "$1" | sed "s/'/'\\\\''/g")"; }
{
  for f in "${module_list[@]}"; do
    m=$(basename "${f}")
    m=${m%%.ko*}
    args=""
    for entry in "${modules[@]}"; do
      if [[ "${entry}" == *=* ]] && [ "$(echo "${entry%%=*}" | tr - _)" = "$(echo "${m}" | tr - _)" ]; then
        args=${entry#*=}
      fi
    done
    printf 'insmod /lib/modules/%s/%s %s || echo "zarerera-vm: insmod %s failed"\n' \
      "${release}" "${f}" "${args}" "${m}"
  done
  printf 'vm_program=%s\n' "$(quote "/vm/bin/${name}")"
  printf 'vm_user=%s\n' "$(quote "${user}")"
  printf 'set --'
  for a in "$@"; do printf ' %s' "$(quote "${a}")"; done
  printf '\n'
  printf 'export ZARERERA_VM_GUEST=1 HOME=/tmp\n'
  for e in "${envs[@]}"; do printf 'export %s=%s\n' "${e%%=*}" "$(quote "${e#*=}")"; done
} >"${stage}/vm/conf"
# The unprivileged user, by number, for the second run.
mkdir -p "${stage}/etc"
printf 'root:x:0:0:root:/root:/bin/sh\n' >"${stage}/etc/passwd"
printf 'root:x:0:\n' >"${stage}/etc/group"
if [ -n "${user}" ] && [ "${user}" -ne 0 ]; then
  printf 'user:x:%s:%s:user:/tmp:/bin/sh\n' "${user}" "${user}" >>"${stage}/etc/passwd"
  printf 'user:x:%s:\n' "${user}" >>"${stage}/etc/group"
fi
cat >"${stage}/vm/run-root" <<'EOF2'
(cd /tmp && exec "${vm_program}" "$@") >/dev/ttyS1 2>&1 </dev/null
status=$?
EOF2
cat >"${stage}/vm/run-user" <<'EOF2'
(cd /tmp && export ZARERERA_VM_UID="${vm_user}" &&
  exec start-stop-daemon -S -c "${vm_user}:${vm_user}" -x "${vm_program}" -- "$@") \
  >/dev/ttyS1 2>&1 </dev/null
status=$?
EOF2
(cd "${stage}" && find . | LC_ALL=C sort | cpio -o -H newc -R 0:0 --quiet) >"${run_dir}/run.cpio"
cat "${base}" "${run_dir}/run.cpio" >"${run_dir}/initramfs.cpio"

qemu_devices=()
for d in "${devices[@]}"; do
  case "${d}" in
    rp-edu) qemu_devices+=(-device "pcie-root-port,id=rp1,bus=pcie.0,chassis=1,addr=0x10" -device "edu,bus=rp1") ;;
    # Without its boot ROM: the firmware then has no network boot to offer, which saves seconds.
    e1000e) qemu_devices+=(-device "e1000e,romfile=") ;;
    *) qemu_devices+=(-device "${d}") ;;
  esac
done

output="${run_dir}/output"
console="${run_dir}/console.log"
: >"${output}"
qemu_status=0
timeout --kill-after=5 "${timeout_s}" "${qemu}" -M q35 -accel tcg -m "${memory}" \
  -nographic -no-reboot -nic none -monitor none \
  -serial "file:${console}" -serial "file:${output}" \
  -kernel "${kernel}" -initrd "${run_dir}/initramfs.cpio" \
  -append "console=ttyS0 quiet panic=-1 zarerera.vm=1${kernel_args[*]:+ ${kernel_args[*]}}" \
  "${qemu_devices[@]}" "${qemu_extra[@]}" </dev/null >"${run_dir}/qemu.log" 2>&1 || qemu_status=$?

cat "${output}"
if [ "${qemu_status}" -eq 124 ] || [ "${qemu_status}" -eq 137 ]; then
  echo "vm-run: timed out after ${timeout_s} s; the guest's console:" >&2
  tail -n 40 "${console}" >&2
  exit 124
fi
status_root=$(sed -nE 's/.*zarerera-vm: status root ([0-9]+).*/\1/p' "${console}" | tr -d '\r' | tail -n1)
status_user=$(sed -nE 's/.*zarerera-vm: status user ([0-9]+).*/\1/p' "${console}" | tr -d '\r' | tail -n1)
if [ -z "${status_root}" ] || { [ -n "${user}" ] && [ -z "${status_user}" ]; }; then
  echo "vm-run: the guest reported no exit status (qemu status ${qemu_status}); its console:" >&2
  tail -n 40 "${console}" >&2
  cat "${run_dir}/qemu.log" >&2
  exit 125
fi
if [ "${status_root}" -ne 0 ]; then exit "${status_root}"; fi
exit "${status_user:-0}"
