#!/usr/bin/env bash
# Builds the release: dist/ with the i686 (shipped) and x86_64 Updater.exe, stripped,
# a SHA-256 list, and the version read back from the executables. Optionally signs
# both with Authenticode (osslsigncode).
#   release.sh [--out DIR] [--cert CERT.pem --key KEY.pem] [--update-key PUBLIC.pem]
#              [--version A.B.C.D]
#   --update-key: a signed-updates build, with the publisher's public key compiled in
#   --version: the release's version in the executables (default: the project's)
#   release.sh --check-reproducible   builds the i686 executable twice, in two folders,
#                                     and fails unless both are the same bytes
set -euo pipefail
cd "$(dirname "$0")/.."
src=$PWD
out=$src/dist cert='' key='' check='' update_key='' version=
while [ $# -gt 0 ]; do
  case "$1" in
    --out) out=$(realpath -m "$2"); shift 2 ;;
    --cert) cert=$(realpath "$2"); shift 2 ;;
    --key) key=$(realpath "$2"); shift 2 ;;
    --update-key) update_key=$(realpath "$2"); shift 2 ;;
    --version) version=$2; shift 2 ;;
    --check-reproducible) check=1; shift ;;
    *) echo "unknown option $1" >&2; exit 2 ;;
  esac
done
./scripts/setup.sh >/dev/null

# The version given, or the project's (a version cached by an earlier release goes).
version_setting=(-UQORVATH_VERSION)
[ -z "$version" ] || version_setting=(-DQORVATH_VERSION="$version")

# A release build of Updater.exe alone, in a folder of its own.
build() { # arch build-dir
  cmake -S "$src" -B "$2" -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF \
    -DCMAKE_TOOLCHAIN_FILE="$src/cmake/mingw-$1.cmake" -DQORVATH_UPDATE_KEY="$update_key" \
    "${version_setting[@]}" >/dev/null
  cmake --build "$2" --target Updater >/dev/null
}

if [ -n "$check" ]; then
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
  build i686 "$work/first"
  build i686 "$work/second-build-elsewhere"
  a=$(sha256sum <"$work/first/bin/Updater.exe" | cut -d' ' -f1)
  b=$(sha256sum <"$work/second-build-elsewhere/bin/Updater.exe" | cut -d' ' -f1)
  echo "first build:  $a"
  echo "second build: $b"
  [ "$a" = "$b" ] && echo "reproducible: the same bytes" && exit 0
  echo "NOT reproducible" >&2
  exit 1
fi

rm -rf "$out"
mkdir -p "$out"
for arch in i686 x86_64; do
  build "$arch" "$src/build/release-$arch"
  mkdir -p "$out/$arch"
  cp "$src/build/release-$arch/bin/Updater.exe" "$out/$arch/Updater.exe"
  if [ -n "$cert" ]; then
    osslsigncode sign -certs "$cert" -key "$key" -h sha256 -n "Qorvath Launcher Updater" \
      -in "$out/$arch/Updater.exe" -out "$out/$arch/Updater.signed.exe" >/dev/null
    mv "$out/$arch/Updater.signed.exe" "$out/$arch/Updater.exe"
  fi
done

# The version as the executable itself states it (its version block is UTF-16).
version_of() { strings -el "$1" | grep -A1 -x "$2" | tail -n1; }
{
  for arch in i686 x86_64; do
    exe=$out/$arch/Updater.exe
    echo "$arch: $(version_of "$exe" ProductName) $(version_of "$exe" FileVersion), $(stat -c %s "$exe") bytes"
  done
} | tee "$out/VERSION"
(cd "$out" && sha256sum i686/Updater.exe x86_64/Updater.exe >SHA256SUMS)
cat "$out/SHA256SUMS"
echo "stripped i686 Updater.exe: $(stat -c %s "$out/i686/Updater.exe") bytes"
