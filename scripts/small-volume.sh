#!/usr/bin/env bash
# Prints the folder of a Wine prefix's drive T:, a volume of 1 MiB where a copy runs out
# of room, and mounts it there where this host lets it (tests skip it otherwise). Each
# prefix has its own: two checkouts fill theirs side by side.
# Usage: small-volume.sh PREFIX
set -e
small=/dev/shm/qorvath-updater-small-$(printf '%s' "$1" | cksum | cut -d' ' -f1)
if ! mountpoint -q "$small" 2>/dev/null; then
  mkdir -p "$small"
  mount -t tmpfs -o size=1m qorvath-updater-small "$small" 2>/dev/null || true
fi
echo "$small"
