# shellcheck shell=bash disable=SC2034
# Sourced by the scripts that run a build under Wine (they read $preset and $loader): picks the shipped i686 build, or
# the x86_64 one on a host whose kernel runs 64-bit user code only (no 32-bit Wine).
preset=mingw-i686 loader=/usr/lib/wine/wine
if ! "$loader" --version >/dev/null 2>&1; then
  echo "note: this host cannot run 32-bit programs; using the x86_64 build" >&2
  preset=mingw-x86_64 loader=/usr/lib/wine/wine64
fi
