#!/usr/bin/env bash
# Runs a Windows program under wine: the CMAKE_CROSSCOMPILING_EMULATOR of the Windows presets (by
# its front ends scripts/wine64-run.sh and scripts/wine32-run.sh), so CTest and GoogleTest's test
# discovery start every Windows test program through it.
#
#   scripts/wine-run.sh BITS PROGRAM.exe [ARGS...]  run it; its exit status is returned
#   scripts/wine-run.sh BITS --start                 boot the prefix, keep wine's services running
#   scripts/wine-run.sh BITS --stop                  end the wine processes of the prefix
#   scripts/wine-run.sh BITS --driver-start NAME FILE.sys
#        a new session of the prefix (persistent server, services), the kernel driver FILE.sys
#        installed as service NAME (C:\NAME.sys) and started; fails unless "sc query" then shows
#        it running. A driver once stopped cannot start again in the same wineserver session, so
#        any session still running in the prefix is ended first.
#   scripts/wine-run.sh BITS --driver-stop NAME      stop the driver, then end the prefix's session
#
# BITS 64: the host's wine64, prefix build/wineprefix. BITS 32: wine32 in the i386 Debian tree
# (scripts/i386-tree.sh, made on first use), entered for each command with this repository
# mounted at its own path; a 32-bit prefix (WINEARCH=win32), build/wine32prefix. WINEPREFIX, when
# set, names another prefix; it is made on first use. Wine's services (started by the first
# program of a prefix when none run) keep the standard handles of the program that started them.
# Were those CTest's pipes, CTest would wait for them to close, so the program writes to files
# here and they are copied out afterwards. Wine's console turns "\n" into "\r\n"; the copies drop
# the "\r" so that CTest parses test lists and results as on Linux. The test programs compare
# their own output inside themselves, byte for byte.
set -uo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
bits=${1:-}
shift || true
case "${bits}" in
  64)
    export WINEPREFIX=${WINEPREFIX:-${repo}/build/wineprefix}
    wine_program=$(command -v wine64 || echo /usr/lib/wine/wine64)
    wineserver_program=$(command -v wineserver || echo /usr/lib/wine/wineserver)
    wine() { "${wine_program}" "$@"; }
    wineserver() { "${wineserver_program}" "$@"; }
    ;;
  32)
    export WINEPREFIX=${WINEPREFIX:-${repo}/build/wine32prefix}
    export WINEARCH=win32
    # The tree is made (or found current) once here, not by every command below.
    tree=$("${repo}/scripts/i386-tree.sh" path) || exit 1
    export ZARERERA_I386_TREE=${tree}
    # A prefix outside this repository is mounted into the tree too.
    mkdir -p "$(dirname "${WINEPREFIX}")"
    case "${WINEPREFIX}" in
      "${repo}"/*) ;;
      *)
        ZARERERA_I386_BIND=${ZARERERA_I386_BIND:+${ZARERERA_I386_BIND}:}$(dirname "${WINEPREFIX}")
        export ZARERERA_I386_BIND
        ;;
    esac
    wine() { "${repo}/scripts/i386-tree.sh" run /usr/lib/wine/wine "$@"; }
    wineserver() { "${repo}/scripts/i386-tree.sh" run /usr/lib/wine/wineserver32 "$@"; }
    ;;
  *)
    echo "usage: $0 32|64 PROGRAM.exe [ARGS...] | --start | --stop | ..." >&2
    exit 2
    ;;
esac
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="

# Makes the prefix once; several programs may start at the same moment (ctest -j).
prepare_prefix() {
  mkdir -p "$(dirname "${WINEPREFIX}")"
  (
    flock 9
    if [ ! -f "${WINEPREFIX}/system.reg" ]; then
      wine wineboot --init </dev/null >/dev/null 2>&1
      wineserver -w </dev/null >/dev/null 2>&1
    fi
  ) 9>"${WINEPREFIX}.lock"
}

case "${1:-}" in
  "")
    echo "usage: $0 ${bits} PROGRAM.exe [ARGS...] | --start | --stop |" \
      "--driver-start NAME FILE.sys | --driver-stop NAME" >&2
    exit 2
    ;;
  --start)
    prepare_prefix
    # A persistent server, and the services started with no handle on anyone's pipe.
    wineserver -p </dev/null >/dev/null 2>&1
    wine wineboot </dev/null >/dev/null 2>&1
    exit 0
    ;;
  --stop)
    [ -d "${WINEPREFIX}" ] && wineserver -k </dev/null >/dev/null 2>&1
    exit 0
    ;;
  --driver-start)
    name=${2:?driver service name}
    file=${3:?driver file}
    prepare_prefix
    wineserver -k </dev/null >/dev/null 2>&1
    wineserver -w </dev/null >/dev/null 2>&1
    wineserver -p </dev/null >/dev/null 2>&1
    wine wineboot </dev/null >/dev/null 2>&1
    cp "${file}" "${WINEPREFIX}/drive_c/${name}.sys" || exit 1
    sc() { wine sc "$@" </dev/null 2>&1 | tr -d '\r'; }
    # The service stays registered in the prefix from one session to the next.
    if ! sc query "${name}" | grep -q '^SERVICE_NAME'; then
      sc create "${name}" type= kernel binPath= "C:\\${name}.sys"
    fi
    sc start "${name}" >/dev/null
    state=$(sc query "${name}")
    echo "${state}"
    grep -Eq 'STATE +: 4 +RUNNING' <<<"${state}" || exit 1
    exit 0
    ;;
  --driver-stop)
    name=${2:?driver service name}
    state=$(wine sc stop "${name}" </dev/null 2>&1 | tr -d '\r')
    echo "${state}"
    wineserver -k </dev/null >/dev/null 2>&1
    grep -Eq 'STATE +: 1 +STOPPED' <<<"${state}" || exit 1
    exit 0
    ;;
esac

prepare_prefix
out=$(mktemp) err=$(mktemp)
trap 'rm -f "${out}" "${err}"' EXIT
wine "$@" >"${out}" 2>"${err}"
status=$?
tr -d '\r' <"${out}"
tr -d '\r' <"${err}" >&2
exit "${status}"
