#!/usr/bin/env bash
# Runs a Windows program under Wine in the build's own prefix.
# Usage: wine-run.sh PREFIX LOADER PROGRAM [ARGS...]
set -e
prefix=$1 loader=$2
shift 2
export WINEPREFIX=$prefix WINELOADER=$loader WINEDEBUG=-all WINEDLLOVERRIDES="${WINEDLLOVERRIDES:+$WINEDLLOVERRIDES;}mscoree,mshtml="
[ -f "$prefix/.ready" ] || "$(dirname "$0")/wine-prefix.sh" "$prefix" "$loader"
# Drive T: is a volume of 1 MiB, where a copy runs out of room.
small=$("$(dirname "$0")/small-volume.sh" "$prefix")
[ "$(readlink "$prefix/dosdevices/t:" 2>/dev/null)" = "$small" ] ||
  ln -sfn "$small" "$prefix/dosdevices/t:"
# Keep the prefix's server alive between the many short test programs: starting it
# anew costs seconds each time.
"$(dirname "$loader")/wineserver" -p10 </dev/null >/dev/null 2>&1 || true
# Wine's own background processes (the desktop, the services) that a program starts
# inherit its output and live on until the server ends, and ctest would wait for them
# each time: the output goes through files, handed on once the program has ended.
out=$(mktemp) err=$(mktemp)
trap 'rm -f "$out" "$err"' EXIT
status=0
"$loader" "$@" >"$out" 2>"$err" </dev/null || status=$?
# A program that failed before it wrote a byte never ran (Wine refused its start, with no
# word of why: seen once in a whole suite). Started once more; a test prints its first
# line before anything else, so a test that ran and failed is never repeated.
if [ $status != 0 ] && [ ! -s "$out" ]; then
  echo "wine-run: $1 ended with $status before it wrote anything; starting it once more" >&2
  status=0
  "$loader" "$@" >"$out" 2>>"$err" </dev/null || status=$?
fi
cat "$out"
cat "$err" >&2
exit $status
