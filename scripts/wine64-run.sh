#!/usr/bin/env bash
# Runs a 64-bit Windows program under the host's wine64 (scripts/wine-run.sh says how).
exec "$(dirname "${BASH_SOURCE[0]}")/wine-run.sh" 64 "$@"
