#!/usr/bin/env bash
# Builds the console host p9050diag (release build) and starts it on the simulated board.
# Installs the build's packages first when they are missing (Debian/Ubuntu). Arguments go to
# p9050diag: try `bash scripts/diag.sh --help`.
set -euo pipefail
cd "$(dirname "$0")/.."
export DEBIAN_FRONTEND=noninteractive

need=()
for pkg in cmake ninja-build g++ libbenchmark-dev libcli11-dev nlohmann-json3-dev; do
  dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed" || need+=("$pkg")
done
if [ ${#need[@]} -gt 0 ]; then
  sudo=()
  [ "$(id -u)" -eq 0 ] || sudo=(sudo)
  echo "installing: ${need[*]}" >&2
  "${sudo[@]}" apt-get update -qq
  "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${need[@]}" >&2
fi

jobs=$(nproc 2>/dev/null || echo 2)
cmake --preset release >/dev/null
cmake --build --preset release --target p9050diag -j "${jobs}" >&2
exec build/release/tools/p9050diag "$@"
