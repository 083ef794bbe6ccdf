#!/usr/bin/env bash
# Runs a 64-bit Windows program under wine64: the CMAKE_CROSSCOMPILING_EMULATOR of the win64 presets,
# so CTest and GoogleTest's test discovery start every Windows test program through it.
#
#   scripts/wine64-run.sh PROGRAM.exe [ARGS...]     run it; its exit status is returned
#   scripts/wine64-run.sh --start                     boot the prefix, keep wine's services running
#   scripts/wine64-run.sh --stop                      end the wine processes of the prefix
#   scripts/wine64-run.sh --driver-start NAME FILE.sys
#        a new session of the prefix (persistent server, services), the kernel driver FILE.sys
#        installed as service NAME (C:\NAME.sys) and started; fails unless "sc query" then shows
#        it running. A driver once stopped cannot start again in the same wineserver session, so
#        any session still running in the prefix is ended first.
#   scripts/wine64-run.sh --driver-stop NAME          stop the driver, then end the prefix's session
#
# The prefix is build/wineprefix in this repository unless WINEPREFIX says otherwise; it is made on
# first use. Wine's services (started by the first program of a prefix when none run) keep the
# standard handles of the program that started them. Were those CTest's pipes, CTest would wait for
# them to close, so the program writes to files here and they are copied out afterwards. Wine's
# console turns "\n" into "\r\n"; the copies drop the "\r" so that CTest parses test lists and
# results as on Linux. The test programs compare their own output inside themselves, byte for byte.
set -uo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
export WINEPREFIX=${WINEPREFIX:-${repo}/build/wineprefix}
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
wine64=$(command -v wine64 || echo /usr/lib/wine/wine64)
wineserver=$(command -v wineserver || echo /usr/lib/wine/wineserver)

# Makes the prefix once; several programs may start at the same moment (ctest -j).
prepare_prefix() {
  mkdir -p "$(dirname "${WINEPREFIX}")"
  (
    flock 9
    if [ ! -f "${WINEPREFIX}/system.reg" ]; then
      "${wine64}" wineboot --init </dev/null >/dev/null 2>&1
      "${wineserver}" -w </dev/null >/dev/null 2>&1
    fi
  ) 9>"${WINEPREFIX}.lock"
}

case "${1:-}" in
  "")
    echo "usage: $0 PROGRAM.exe [ARGS...] | --start | --stop | --driver-start NAME FILE.sys |" \
    "--driver-stop NAME" >&2
    exit 2
    ;;
  --start)
    prepare_prefix
    # A persistent server, and the services started with no handle on anyone's pipe.
    "${wineserver}" -p </dev/null >/dev/null 2>&1
    "${wine64}" wineboot </dev/null >/dev/null 2>&1
    exit 0
    ;;
  --stop)
    [ -d "${WINEPREFIX}" ] && "${wineserver}" -k </dev/null >/dev/null 2>&1
    exit 0
    ;;
  --driver-start)
    name=${2:?driver service name}
    file=${3:?driver file}
    prepare_prefix
    "${wineserver}" -k </dev/null >/dev/null 2>&1
    "${wineserver}" -w </dev/null >/dev/null 2>&1
    "${wineserver}" -p </dev/null >/dev/null 2>&1
    "${wine64}" wineboot </dev/null >/dev/null 2>&1
    cp "${file}" "${WINEPREFIX}/drive_c/${name}.sys" || exit 1
    sc() { "${wine64}" sc "$@" </dev/null 2>&1 | tr -d '\r'; }
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
    state=$("${wine64}" sc stop "${name}" </dev/null 2>&1 | tr -d '\r')
    echo "${state}"
    "${wineserver}" -k </dev/null >/dev/null 2>&1
    grep -Eq 'STATE +: 1 +STOPPED' <<<"${state}" || exit 1
    exit 0
    ;;
esac

prepare_prefix
out=$(mktemp) err=$(mktemp)
trap 'rm -f "${out}" "${err}"' EXIT
"${wine64}" "$@" >"${out}" 2>"${err}"
status=$?
tr -d '\r' <"${out}"
tr -d '\r' <"${err}" >&2
exit "${status}"
