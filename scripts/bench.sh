#!/usr/bin/env bash
# Builds and runs the benchmark under Wine: Updater.exe against a bare walk-and-move
# program on identical trees (best of three rounds), and the processor time of an
# updater waiting for its parent.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh >/dev/null
. ./scripts/builds.sh
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset" --target bench >/dev/null
prefix=$PWD/build/$preset/wineprefix
./scripts/wine-prefix.sh "$prefix" "$loader"
echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | xargs), $(uname -sr), $("$loader" --version)"
./scripts/wine-run.sh "$prefix" "$loader" "build/$preset/bin/bench.exe" "$@"
