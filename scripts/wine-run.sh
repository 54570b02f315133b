#!/usr/bin/env bash
# Runs a Windows program under Wine in the build's own prefix.
# Usage: wine-run.sh PREFIX LOADER PROGRAM [ARGS...]
set -e
prefix=$1 loader=$2
shift 2
export WINEPREFIX=$prefix WINELOADER=$loader WINEDEBUG=-all WINEDLLOVERRIDES="${WINEDLLOVERRIDES:+$WINEDLLOVERRIDES;}mscoree,mshtml="
[ -f "$prefix/.ready" ] || "$(dirname "$0")/wine-prefix.sh" "$prefix" "$loader"
exec "$loader" "$@"
