#!/usr/bin/env bash
# shellcheck shell=bash disable=SC2034
# Which of the two builds this machine runs under Wine, and why not where it cannot: the
# one place that decides it, for the scripts and for the tests' CMake files.
#   . scripts/builds.sh          sets $preset and $loader: the build a script runs, the
#                                shipped i686 one wherever it can run
#   scripts/builds.sh runs LOADER  exits 0 where LOADER can start a program here
# After sourcing: loader_of PRESET, runs PRESET, why_not_run PRESET.
builds_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

loader_of() {
  case "$1" in *i686*) echo /usr/lib/wine/wine ;; *) echo /usr/lib/wine/wine64 ;; esac
}
runs_loader() { "$1" --version >/dev/null 2>&1; }
runs() { runs_loader "$(loader_of "$1")"; }

# Why a build cannot run here and how to try again, indented under its name.
why_not_run() {
  local missing=$builds_root/build/setup/wine32-missing
  if [ "$1" = mingw-i686 ] && [ -s "$missing" ]; then
    echo "  why: the package wine32:i386 could not be installed; apt said:"
    sed 's/^/    /' "$missing"
    echo "  to try again: ./scripts/setup.sh once 'apt-get update' ends without errors"
  elif [ "$1" = mingw-i686 ] &&
    dpkg-query -W -f='${Status}' wine32:i386 2>/dev/null | grep -q 'install ok installed'; then
    echo "  why: the 32-bit Wine is installed, but this machine's kernel runs no 32-bit programs"
    echo "  to try again: on a machine whose kernel runs 32-bit code (IA-32 emulation)"
  else
    echo "  why: $(loader_of "$1") cannot start a program here"
    echo "  to try again: ./scripts/setup.sh, then this command again"
  fi
}

if [ "${BASH_SOURCE[0]}" = "$0" ]; then
  case "${1:-}" in
    runs) runs_loader "$2" ;;
    *) echo "usage: builds.sh runs LOADER" >&2; exit 2 ;;
  esac
  exit
fi

preset=mingw-i686
if ! runs "$preset"; then
  echo "note: the shipped i686 build cannot run here; using the x86_64 build" >&2
  why_not_run "$preset" >&2
  preset=mingw-x86_64
fi
loader=$(loader_of "$preset")
