#!/usr/bin/env bash
# Writes Updater.manifest into an update folder: the list of its files, signed with the
# publisher's private key, which a signed-updates build of Updater.exe checks before it
# installs anything. Run on the publisher's build machine; the private key never leaves it.
# Usage: sign-update.sh PRIVATE_KEY_PEM UPDATE_FOLDER RELEASE_NUMBER
set -euo pipefail
if [ $# -ne 3 ]; then
  echo "usage: $0 PRIVATE_KEY_PEM UPDATE_FOLDER RELEASE_NUMBER" >&2
  exit 2
fi
key=$1 folder=$2 release=$3
case "$release" in '' | *[!0-9]*) echo "release number: a whole number" >&2; exit 2 ;; esac
list="$folder/Updater.manifest"
body=$(mktemp) signature=$(mktemp)
trap 'rm -f "$body" "$signature"' EXIT
{
  printf 'Qorvath Launcher update list 1\n'
  printf 'release %s\n' "$release"
  # Every file but the updater's own (named "Updater" with any extension, or none),
  # by its path below the folder with backslashes, as the updater names it.
  (cd "$folder" && find . -type f -print0 | LC_ALL=C sort -z) |
    while IFS= read -r -d '' file; do
      name=${file##*/}
      stem=${name%.*}
      [ "${name#.}" != "$name" ] && [ "${name%.*}" = "" ] && stem=$name
      [ "$stem" = Updater ] && continue
      path=${file#./}
      digest=$(openssl dgst -sha256 -r "$folder/$path" | cut -d' ' -f1)
      size=$(stat -c %s "$folder/$path")
      printf '%s %s %s\n' "$digest" "$size" "${path//\//\\}"
    done
} >"$body"
openssl dgst -sha256 -sign "$key" -out "$signature" "$body"
# ECDSA's two numbers, each as 32 bytes, one after the other: the form Windows verifies.
raw=$(openssl asn1parse -inform DER -in "$signature" |
  awk -F: '/INTEGER/ { v = $NF; while (length(v) < 64) v = "0" v; printf "%s", substr(v, length(v) - 63) }')
# Written whole under another name, then put in place: never half a list.
{ cat "$body"; printf 'signature %s\n' "$(echo "$raw" | tr 'A-F' 'a-f')"; } >"$list.part"
mv -f "$list.part" "$list"
