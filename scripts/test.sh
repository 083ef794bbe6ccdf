#!/usr/bin/env bash
# Builds and runs every test: the suite in a debug build and under AddressSanitizer with
# UndefinedBehaviorSanitizer. Run from anywhere; build trees go to build/<preset>.
set -euo pipefail
cd "$(dirname "$0")/.."

jobs=$(nproc 2>/dev/null || echo 2)
for preset in dev asan; do
  echo "==> ${preset}: configure, build, test"
  cmake --preset "${preset}" >/dev/null
  cmake --build --preset "${preset}" -j "${jobs}"
  ctest --preset "${preset}" -j "${jobs}"
done
