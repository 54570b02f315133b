#!/usr/bin/env bash
# The release command signs both executables with a given certificate, and the
# signatures verify; a byte changed after signing makes verification fail. The version
# given is the executables' own.
# Usage: signing_test.sh WORK-DIR
set -euo pipefail
work=$1
src=$(cd "$(dirname "$0")/../.." && pwd)
rm -rf "$work"
mkdir -p "$work"
openssl req -x509 -newkey rsa:2048 -nodes -sha256 -days 2 -subj "/CN=Throw-away test signer" \
  -keyout "$work/key.pem" -out "$work/cert.pem" 2>/dev/null
"$src/scripts/release.sh" --out "$work/dist" --cert "$work/cert.pem" --key "$work/key.pem" \
  --version 2.3.4.5
[ "$(grep -c 'Qorvath Launcher Updater 2.3.4.5' "$work/dist/VERSION")" = 2 ]
for arch in i686 x86_64; do
  osslsigncode verify -CAfile "$work/cert.pem" -in "$work/dist/$arch/Updater.exe" >"$work/verify-$arch.txt"
  grep -q "Signature verification: ok" "$work/verify-$arch.txt"
  (cd "$work/dist" && sha256sum -c SHA256SUMS --quiet)
done
cp "$work/dist/i686/Updater.exe" "$work/tampered.exe"
printf 'X' | dd of="$work/tampered.exe" bs=1 seek=2048 conv=notrunc 2>/dev/null
if osslsigncode verify -CAfile "$work/cert.pem" -in "$work/tampered.exe" >/dev/null 2>&1; then
  echo "a tampered executable still verifies" >&2
  exit 1
fi
echo "signed release verifies; a tampered copy does not"
