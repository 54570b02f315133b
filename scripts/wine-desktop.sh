#!/usr/bin/env bash
# Keeps the Wine prefix's desktop shell up for a whole run of the suite: ctest's fixture
# around every test that runs under Wine. desktop_keeper.exe (tests/helpers) says why.
# Usage: wine-desktop.sh up STATE PREFIX LOADER KEEPER   returns once the shell answers
#        wine-desktop.sh down STATE
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
action=$1 state=$2

# Only the keeper itself ends (the child of its wine-run.sh): ended with it, the prefix's
# services would leave its server without them for the next run. The shell then ends
# by itself once no program needs the desktop.
stop() {
  if [ -f "$state/pid" ]; then pkill -P "$(cat "$state/pid")" 2>/dev/null || true; fi
  rm -f "$state/pid" "$state/ready"
}
case "$action" in
  down) stop; exit 0 ;;
  up) ;;
  *) echo "usage: wine-desktop.sh up STATE PREFIX LOADER KEEPER | down STATE" >&2; exit 2 ;;
esac
prefix=$3 loader=$4 keeper=$5
stop # the keeper of an earlier run that was interrupted
mkdir -p "$state"
"$here/wine-run.sh" "$prefix" "$loader" "$keeper" "Z:${state//\//\\}\\ready" \
  </dev/null >"$state/keeper.out" 2>&1 &
pid=$!
echo "$pid" >"$state/pid"
# ctest starts this step: should ctest end without the down step (interrupted), the
# keeper ends with it.
run=$PPID
(while kill -0 "$run" 2>/dev/null; do sleep 2; done; pkill -P "$pid" 2>/dev/null) \
  </dev/null >/dev/null 2>&1 &
# No time limit of ours: a loaded host may take long, and ctest's limit catches a shell
# that never comes.
until [ -e "$state/ready" ]; do
  if ! kill -0 "$pid" 2>/dev/null; then
    echo "the desktop shell did not come up:"
    cat "$state/keeper.out"
    exit 1
  fi
  sleep 0.2
done
echo "the desktop shell is up"
