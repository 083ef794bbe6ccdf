#!/usr/bin/env bash
# Builds the console host p9050diag and the one-shot command zarerera (release build, both in
# build/release/tools/) and starts p9050diag on the simulated board.
# Installs the build's packages first when they are missing (Debian/Ubuntu). Arguments go to
# p9050diag: try `bash scripts/diag.sh --help`. The program runs in the caller's directory, so
# relative paths (--eeprom-file=mine.txt) mean files there. With P9050DIAG_PROGRAM set, that
# program is started instead of building one (the tests check this script so).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

if [ -z "${P9050DIAG_PROGRAM:-}" ]; then
  # shellcheck source=packages.sh
  source "${root}/scripts/packages.sh"
  zarerera_install_missing "${zarerera_build_packages[@]}"

  jobs=$(nproc 2>/dev/null || echo 2)
  # The presets are found in the checkout; the build runs there, the program here.
  (cd "${root}" && cmake --preset release >/dev/null &&
    cmake --build --preset release --target p9050diag zarerera_cmd -j "${jobs}" >&2)
  echo "diag.sh: p9050diag and zarerera are in ${root}/build/release/tools/" >&2
  P9050DIAG_PROGRAM="${root}/build/release/tools/p9050diag"
fi
exec "${P9050DIAG_PROGRAM}" "$@"
