#!/usr/bin/env bash
# Writes Updater.manifest into an update folder: the list of its files and folders, and
# of the files that the release drops, signed with the publisher's private key, which a
# signed-updates build of Updater.exe checks before it changes anything. Run on the
# publisher's build machine; the private key never leaves it.
# Usage: sign-update.sh PRIVATE_KEY_PEM UPDATE_FOLDER RELEASE_NUMBER [--remove PATH]...
#   --remove PATH   a file below the launcher's root that the release no longer has
#                   (backslashes or slashes); the updater deletes it after the update
set -euo pipefail
usage() {
  echo "usage: $0 PRIVATE_KEY_PEM UPDATE_FOLDER RELEASE_NUMBER [--remove PATH]..." >&2
  exit 2
}
[ $# -ge 3 ] || usage
key=$1 folder=$2 release=$3
shift 3
case "$release" in '' | *[!0-9]*) echo "release number: a whole number" >&2; exit 2 ;; esac

# Whether a name, without extension, is "Updater": the updater's own files.
is_own() {
  local name=${1##*\\} stem
  stem=${name%.*}
  [ "${name#.}" != "$name" ] && [ "${name%.*}" = "" ] && stem=$name
  [ "$stem" = Updater ]
}

# A path below the root as the updater takes it (backslashes), or exit 2 for one that it
# would refuse: anything but plain elements, or a place in resources\update.
plain_path() {
  local path=${1//\//\\} element lower
  case "$path" in '' | \\* | *\\ | *:*) echo "refused path: $1" >&2; exit 2 ;; esac
  # shellcheck disable=SC2141,SC1003 # the elements' separator is the backslash itself
  IFS='\' read -r -a elements <<<"$path"
  for element in "${elements[@]}"; do
    case "$element" in '' | . | ..) echo "refused path: $1" >&2; exit 2 ;; esac
  done
  lower=${path,,}
  if [ "$lower" = 'resources\update' ] || [ "${lower#resources\\update\\}" != "$lower" ] ||
    is_own "$path"; then
    echo "refused path: $1 (the updater's own)" >&2
    exit 2
  fi
  printf '%s' "$path"
}

removals=()
while [ $# -gt 0 ]; do
  if [ "$1" != --remove ] || [ $# -lt 2 ]; then usage; fi
  removals+=("$(plain_path "$2")")
  shift 2
done

# Every folder, parents first (a parent's path sorts before its children's), checked
# here: a refusal inside the list's pipeline would not stop the script.
folders=()
while IFS= read -r -d '' dir; do
  folders+=("$(plain_path "${dir#./}")")
done < <(cd "$folder" && find . -mindepth 1 -type d -print0 | LC_ALL=C sort -z)

list="$folder/Updater.manifest"
body=$(mktemp) signature=$(mktemp)
trap 'rm -f "$body" "$signature"' EXIT
{
  printf 'Qorvath Launcher update list 2\n'
  printf 'release %s\n' "$release"
  for path in "${folders[@]}"; do
    printf 'folder %s\n' "$path"
  done
  # Every file but the updater's own, by its path below the folder with backslashes.
  (cd "$folder" && find . -type f -print0 | LC_ALL=C sort -z) |
    while IFS= read -r -d '' file; do
      path=${file#./}
      is_own "${path//\//\\}" && continue
      digest=$(openssl dgst -sha256 -r "$folder/$path" | cut -d' ' -f1)
      size=$(stat -c %s "$folder/$path")
      printf '%s %s %s\n' "$digest" "$size" "${path//\//\\}"
    done
  for path in "${removals[@]}"; do
    printf 'remove %s\n' "$path"
  done
} >"$body"
openssl dgst -sha256 -sign "$key" -out "$signature" "$body"
# ECDSA's two numbers, each as 32 bytes, one after the other: the form Windows verifies.
raw=$(openssl asn1parse -inform DER -in "$signature" |
  awk -F: '/INTEGER/ { v = $NF; while (length(v) < 64) v = "0" v; printf "%s", substr(v, length(v) - 63) }')
# Written whole under another name, then put in place: never half a list.
{ cat "$body"; printf 'signature %s\n' "$(echo "$raw" | tr 'A-F' 'a-f')"; } >"$list.part"
mv -f "$list.part" "$list"
