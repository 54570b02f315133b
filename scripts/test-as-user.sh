#!/usr/bin/env bash
# Runs the read-only cases of the suite as an ordinary user: Wine run by root ignores the
# read-only attribute, Wine run by anybody else honours it. The test programs are copied
# to a folder of that user's, which runs them in a Wine prefix of its own.
# Usage: test-as-user.sh BUILD_DIR LOADER GTEST_FILTER
# Exits 77 (skipped) where it cannot: not run by root, or the user is missing.
set -euo pipefail
build=$1 loader=$2 filter=$3
user=qlu-tester
here=$(cd "$(dirname "$0")" && pwd)
if [ "$(id -u)" != 0 ]; then
  echo "not run by root: the whole suite already runs as an ordinary user"
  exit 77
fi
if ! id "$user" >/dev/null 2>&1; then
  echo "no user $user (scripts/setup.sh makes it)"
  exit 77
fi
home=$(getent passwd "$user" | cut -d: -f6)
# One folder for each build: two checkouts' suites run side by side.
work=$home/$(basename "$build")-$(printf '%s' "$build" | cksum | cut -d' ' -f1)
mkdir -p "$work/bin"
find "$build/bin" -maxdepth 1 -type f \( -name '*.exe' -o -name '*.dll' \) -exec cp -f {} "$work/bin/" \;
cp -f "$here/wine-run.sh" "$here/wine-prefix.sh" "$here/small-volume.sh" "$work/"
chown -R "$user" "$work"
exec runuser -u "$user" -- env HOME="$home" "$work/wine-run.sh" "$work/wineprefix" "$loader" \
  "$work/bin/updater_tests.exe" --gtest_filter="$filter"
