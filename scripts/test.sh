#!/usr/bin/env bash
# Sets up what is missing, builds both Windows builds and runs every test under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh
status=0
for preset in mingw-x86_64 mingw-i686; do
  echo "=== $preset ==="
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
  ctest --preset "$preset" -j 2 || status=1
done
exit $status
