#!/usr/bin/env bash
# Runs a 32-bit Windows program under wine32 in the i386 tree (scripts/wine-run.sh says how).
exec "$(dirname "${BASH_SOURCE[0]}")/wine-run.sh" 32 "$@"
