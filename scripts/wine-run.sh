#!/usr/bin/env bash
# Runs a Windows program under Wine in the build's own prefix.
# Usage: wine-run.sh PREFIX LOADER PROGRAM [ARGS...]
set -e
prefix=$1 loader=$2
shift 2
export WINEPREFIX=$prefix WINELOADER=$loader WINEDEBUG=-all WINEDLLOVERRIDES="${WINEDLLOVERRIDES:+$WINEDLLOVERRIDES;}mscoree,mshtml="
[ -f "$prefix/.ready" ] || "$(dirname "$0")/wine-prefix.sh" "$prefix" "$loader"
# Keep the prefix's server alive between the many short test programs: starting it
# anew costs seconds each time.
"$(dirname "$loader")/wineserver" -p10 2>/dev/null || true
exec "$loader" "$@"
