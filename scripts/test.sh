#!/usr/bin/env bash
# Sets up what is missing, builds both Windows builds and runs every test under Wine; a
# build that cannot run on this machine is built and checked without Wine (its imports,
# its reproducible bytes, its signatures), and the last lines say which and why. Then the
# x86_64 tests a second time, under Debian 13's Wine 10 (scripts/wine10.sh): the install
# path that Windows 10 and 11 take first, which Wine 8 refuses.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh
. ./scripts/builds.sh
status=0 ran=() checked=()
for p in mingw-x86_64 mingw-i686; do
  echo "=== $p ==="
  cmake --preset "$p" >/dev/null
  cmake --build --preset "$p"
  ctest --preset "$p" -j 2 || status=1
  if runs "$p"; then ran+=("$p"); else checked+=("$p"); fi
done
./scripts/wine10.sh || status=1
echo "=== builds"
[ ${#ran[@]} -eq 0 ] || echo "ran every test under Wine: ${ran[*]}"
for p in "${checked[@]}"; do
  echo "built and checked without Wine, not run: $p"
  why_not_run "$p"
done
exit $status
