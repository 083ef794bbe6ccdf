#!/usr/bin/env bash
# An i386 Debian tree with wine32, where the 32-bit Windows programs run: the host's own archive
# cannot install wine32 beside its 64-bit packages, a tree of its own can.
#
#   scripts/i386-tree.sh make                 make the tree unless it is there and current
#   scripts/i386-tree.sh path                 the same, then print its directory
#   scripts/i386-tree.sh run COMMAND [ARG...] run COMMAND (a path inside the tree) in it, as root
#
# What it holds: `debootstrap --arch=i386 --variant=minbase bookworm`, then `apt-get install
# --no-install-recommends wine32` inside. A stamp file in the tree records that recipe; the tree is
# made anew when it is missing, unfinished (no stamp) or its stamp differs from the recipe below
# (a change of suite or packages). A new tree is made beside the old one and only moved into place
# once complete, so a failed attempt leaves nothing half made behind.
#
# Where it lives: ZARERERA_I386_TREE, else ${XDG_CACHE_HOME:-~/.cache}/zarerera/i386-tree, so
# every checkout and build tree of the machine shares one tree (about 900 MB) and a fresh clone
# reuses it.
# The Debian mirror is ZARERERA_DEBIAN_MIRROR, else the one the host's apt uses for bookworm, else
# debootstrap's default.
#
# Entering it: COMMAND runs under chroot in a mount namespace of its own, with /proc mounted and
# this repository bind-mounted at its own path, so paths in build trees mean the same inside and
# outside. The mounts are made in that namespace only: the host never sees them, and they go with
# the namespace's last process however it ends. A trap unmounts them as the command ends, unless
# the command left processes behind in the namespace (a persistent wineserver, the services a
# wine program starts): those keep seeing the tree as it was, and the mounts go when they end.
# ZARERERA_I386_BIND may name more directories (colon-separated) to bind the same way.
#
# A tree that cannot be made (no registry reachable, no debootstrap, not root) fails the command
# with the reason on standard error; nothing runs without the tree.
set -euo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
tree=${ZARERERA_I386_TREE:-${XDG_CACHE_HOME:-${HOME}/.cache}/zarerera/i386-tree}
suite=bookworm
packages=(wine32)
stamp_file=.zarerera-i386-tree
recipe="suite=${suite} arch=i386 variant=minbase packages=${packages[*]} recommends=no"

say() { echo "i386-tree: $*" >&2; }
fail() {
  say "$*"
  exit 1
}
# A tree that failed to be made is removed, once nothing is mounted in it.
fail_new() {
  refuse_if_mounted "$1"
  rm -rf "$1"
  fail "${@:2}"
}

# The mirror the host's apt takes the suite from: deb822 stanzas (URIs/Suites) or one-line entries.
host_mirror() {
  local file
  for file in /etc/apt/sources.list.d/*.sources; do
    [ -f "${file}" ] || continue
    awk -v suite="${suite}" '
      /^[[:space:]]*$/ { if (uri != "" && ok) { print uri; exit } uri = ""; ok = 0; next }
      /^URIs:/ { uri = $2 }
      /^Suites:/ { for (i = 2; i <= NF; i++) if ($i == suite) ok = 1 }
      END { if (uri != "" && ok) print uri }' "${file}" | head -n1
  done
  for file in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
    [ -f "${file}" ] || continue
    awk -v suite="${suite}" '$1 == "deb" && $0 !~ /\[/ && $3 == suite { print $2; exit }' "${file}"
  done
}

current() { [ -f "${tree}/${stamp_file}" ] && [ "$(cat "${tree}/${stamp_file}")" = "${recipe}" ]; }

# Nothing may be mounted below a directory that is about to be removed: a bind mount of a build
# tree would be deleted with it.
refuse_if_mounted() {
  if awk -v dir="$1" 'index($2, dir) == 1 { found = 1 } END { exit !found }' /proc/self/mounts; then
    fail "something is mounted below $1; not removing it"
  fi
}

make_tree() {
  [ "$(id -u)" -eq 0 ] || fail "making the tree needs root (debootstrap, chroot)"
  command -v debootstrap >/dev/null || fail "debootstrap is not installed (scripts/packages.sh)"
  local mirror=${ZARERERA_DEBIAN_MIRROR:-$(host_mirror | head -n1)}
  local new="${tree}.new"
  local log="${tree}.log"
  refuse_if_mounted "${new}"
  rm -rf "${new}"
  mkdir -p "${new}"
  say "making ${tree} (${recipe}${mirror:+, from ${mirror}}); log in ${log}"
  local start=${SECONDS}
  # shellcheck disable=SC2086  # the mirror is one word or none
  if ! debootstrap --arch=i386 --variant=minbase "${suite}" "${new}" ${mirror} >"${log}" 2>&1; then
    tail -n 5 "${log}" >&2
    fail_new "${new}" "debootstrap could not make the i386 tree" \
      "(is the package registry reachable?); see ${log}"
  fi
  # In a mount namespace of its own, so the /proc mount never outlives the install.
  # shellcheck disable=SC2016  # expanded by the inner shell
  if ! unshare --mount --propagation private -- sh -c '
      dir=$1
      shift
      export DEBIAN_FRONTEND=noninteractive
      mount -t proc proc "${dir}/proc" &&
        chroot "${dir}" apt-get update -q &&
        chroot "${dir}" apt-get install -y -q --no-install-recommends "$@"' \
      sh "${new}" "${packages[@]}" >>"${log}" 2>&1; then
    tail -n 5 "${log}" >&2
    fail_new "${new}" "apt-get install ${packages[*]} failed in the i386 tree; see ${log}"
  fi
  chroot "${new}" apt-get clean >>"${log}" 2>&1 || true
  echo "${recipe}" >"${new}/${stamp_file}"
  if [ -e "${tree}" ]; then
    refuse_if_mounted "${tree}"
    rm -rf "${tree}"
  fi
  mv "${new}" "${tree}"
  say "made ${tree} in $((SECONDS - start)) s"
}

# Makes the tree unless current; several callers at once wait for the one that makes it.
ensure_tree() {
  current && return 0
  mkdir -p "$(dirname "${tree}")"
  exec 8>"${tree}.lock"
  flock 8
  current || make_tree
  exec 8>&-
}

case "${1:-}" in
  make)
    ensure_tree
    ;;
  path)
    ensure_tree
    echo "${tree}"
    ;;
  run)
    shift
    [ $# -gt 0 ] || fail "run: no command"
    ensure_tree
    [ "$(id -u)" -eq 0 ] || fail "entering the tree needs root (chroot)"
    binds=("${repo}")
    if [ -n "${ZARERERA_I386_BIND:-}" ]; then
      IFS=: read -r -a extra <<<"${ZARERERA_I386_BIND}"
      binds+=("${extra[@]}")
    fi
    # The namespace's shell mounts, runs the command under chroot (in the current directory when
    # the tree has it) and unmounts on the way out; its exit status is the command's.
    # shellcheck disable=SC2016  # expanded by the inner shell
    exec unshare --mount --propagation private -- bash -c '
      set -u
      tree=$1 count=$2
      shift 2
      binds=("${@:1:count}")
      shift "${count}"
      mounted=()
      # Whether a process besides this shell is still in the namespace: one the command left
      # behind (a daemon, or a process it started that outlives it).
      # (-ef compares the inodes of the namespaces without starting a process per process.)
      others() {
        local p
        for p in /proc/[0-9]*; do
          [ "${p#/proc/}" = $$ ] && continue
          [ "${p}/ns/mnt" -ef /proc/$$/ns/mnt ] && return 0
        done
        return 1
      }
      unmount() {
        local i
        others && return
        for ((i = ${#mounted[@]} - 1; i >= 0; i--)); do umount "${mounted[i]}"; done
      }
      trap unmount EXIT
      mount -t proc proc "${tree}/proc" && mounted+=("${tree}/proc") || exit 1
      for dir in "${binds[@]}"; do
        [ -d "${dir}" ] || continue
        mkdir -p "${tree}${dir}"
        mount --bind "${dir}" "${tree}${dir}" && mounted+=("${tree}${dir}") || exit 1
      done
      cwd=/
      [ -d "${tree}${PWD}" ] && cwd=${PWD}
      chroot "${tree}" /bin/sh -c "cd \"\$1\" && shift && exec \"\$@\"" sh "${cwd}" "$@"
    ' bash "${tree}" "${#binds[@]}" "${binds[@]}" "$@"
    ;;
  *)
    echo "usage: $0 make | path | run COMMAND [ARG...]" >&2
    exit 2
    ;;
esac
