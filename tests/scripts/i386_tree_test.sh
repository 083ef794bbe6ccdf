#!/usr/bin/env bash
# scripts/i386-tree.sh as the Windows suites use it: a command run in the tree is an i386 Debian
# program that sees this repository at its own path, its exit status comes back, and no mount is
# left on the host; a tree whose stamp is not the recipe's is made anew, and a failure to make it
# fails with the reason, leaving the old tree as it was.
# Usage: i386_tree_test.sh path/to/scripts/i386-tree.sh
set -uo pipefail

script=${1:?usage: $0 path/to/i386-tree.sh}
script=$(cd "$(dirname "${script}")" && pwd)/$(basename "${script}")
repo=$(cd "$(dirname "${script}")/.." && pwd)
failures=0
passed=0
check() {
  local name=$1
  shift
  if "$@"; then
    passed=$((passed + 1))
  else
    echo "FAILED: ${name}"
    failures=$((failures + 1))
  fi
}

tree=$("${script}" path) || {
  echo "i386_tree_test: the tree could not be made"
  exit 1
}
mounts_below_tree() { awk -v dir="${tree}/" 'index($2, dir) == 1' /proc/self/mounts; }
before=$(mounts_below_tree)

# shellcheck disable=SC2016  # expanded by that shell
check "the command's exit status comes back" \
  bash -c '"$1" run /bin/sh -c "exit 7"; [ $? -eq 7 ]' sh "${script}"
check "the tree is an i386 Debian system" \
  test "$("${script}" run /usr/bin/dpkg --print-architecture)" = i386
check "wine32 is installed in it" test -x "${tree}/usr/lib/wine/wine"
check "the repository is seen at its own path" \
  "${script}" run /bin/sh -c "test -f '${repo}/scripts/i386-tree.sh'"
check "the command starts in the caller's directory" \
  test "$(cd "${repo}/scripts" && "${script}" run /bin/pwd)" = "${repo}/scripts"
check "/proc is mounted inside" "${script}" run /bin/sh -c 'test -r /proc/self/mounts'
check "nothing stays mounted below the tree" test "$(mounts_below_tree)" = "${before}"

# A stale tree, with a mirror that cannot answer: the attempt to remake it fails saying why, and
# the old tree stays.
scratch=$(mktemp -d)
trap 'rm -rf "${scratch}"' EXIT
mkdir "${scratch}/tree"
echo "suite=buster" >"${scratch}/tree/.zarerera-i386-tree"
err=$(ZARERERA_I386_TREE="${scratch}/tree" ZARERERA_DEBIAN_MIRROR=http://127.0.0.1:9/debian \
  "${script}" make 2>&1 >/dev/null)
status=$?
check "a stale tree is made anew, and the failure fails" test "${status}" -ne 0
check "the failure says why" grep -q 'debootstrap could not make the i386 tree' <<<"${err}"
check "the old tree stays as it was" \
  test "$(cat "${scratch}/tree/.zarerera-i386-tree")" = "suite=buster"
check "nothing half made is left" test ! -e "${scratch}/tree.new"

echo "i386_tree_test: ${passed} passed, ${failures} failed"
[ "${failures}" -eq 0 ]
