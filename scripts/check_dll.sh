#!/usr/bin/env bash
# Checks a built zarerera.dll the way an application's loader meets it:
#   - its export table holds exactly the board API, by plain (undecorated) names;
#   - it imports only system DLLs (KERNEL32, msvcrt): the C and C++ runtimes are linked in;
#   - its formatted input and output are msvcrt's, not MinGW's replacements;
#   - on i686, every export is cdecl: no exported function pops its arguments (ret $n).
# With --program it checks a Windows program of the project (zarerera.exe, p9050diag.exe) the same
# way for its imports alone: it runs from any directory with nothing beside it.
# Usage: scripts/check_dll.sh path/to/zarerera.dll
#        scripts/check_dll.sh --program path/to/program.exe
set -euo pipefail

program=0
if [ "${1:-}" = --program ]; then
  program=1
  shift
fi
dll=${1:?usage: $0 [--program] path/to/zarerera.dll}
objdump=$(command -v x86_64-w64-mingw32-objdump || command -v objdump)
expected="tamrelcheck tamrelclose tamreldi tamreldo tamreljs tamreljsset tamrelread tamrelwrite"
failed=0
fail() {
  echo "check_dll: ${dll}: $*" >&2
  failed=1
}

headers=$("${objdump}" -p "${dll}")
format=$(sed -n 's/.*file format \(pei-[a-z0-9-]*\).*/\1/p;T;q' <<<"${headers}")
case "${format}" in
  pei-i386 | pei-x86-64) ;;
  *) fail "not a Windows DLL (format '${format}')" ;;
esac

imports=$(sed -n 's/^[[:space:]]*DLL Name: //p' <<<"${headers}" | sort -u)
while read -r name; do
  [ -z "${name}" ] && continue
  case "${name,,}" in
    kernel32.dll | msvcrt.dll) ;;
    *) fail "imports ${name}, which is not a system DLL" ;;
  esac
done <<<"${imports}"

if [ "${program}" -eq 1 ]; then
  [ "${failed}" -eq 0 ] || exit 1
  echo "check_dll: ${dll}: ${format}; imports $(echo ${imports})"
  exit 0
fi

# The names of the "[Ordinal/Name Pointer] Table", one per line, until the blank line ending it.
exports=$(awk '/^\[Ordinal\/Name Pointer\] Table/ { t = 1; next } t && NF == 0 { t = 0 } t { print $NF }' \
  <<<"${headers}" | sort | tr '\n' ' ' | sed 's/ $//')
[ "${exports}" = "${expected}" ] || fail "exports '${exports}', expected '${expected}'"

# Formatted input and output are the system runtime's (msvcrt), not MinGW's replacements.
if grep -Eq '__mingw_[a-z]*(printf|scanf)' <<<"$("${objdump}" -t "${dll}")"; then
  fail "links MinGW's printf/scanf instead of msvcrt's"
fi

if [ "${format}" = pei-i386 ]; then
  code=$("${objdump}" -d --no-show-raw-insn "${dll}")
  for name in ${expected}; do
    body=$(awk -v f="<_${name}>:" '$2 == f { t = 1; next } t && NF == 0 { exit } t' <<<"${code}")
    if [ -z "${body}" ]; then
      fail "no code found for _${name}"
    elif grep -Eq 'ret[lw]?[[:space:]]+\$' <<<"${body}"; then
      fail "${name} pops its arguments: not cdecl"
    fi
  done
fi

[ "${failed}" -eq 0 ] || exit 1
echo "check_dll: ${dll}: ${format}; exports ${expected}; imports $(echo ${imports})"
