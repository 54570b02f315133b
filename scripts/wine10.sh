#!/usr/bin/env bash
# Runs the x86_64 test programs under a second Windows runtime: Debian 13's Wine 10,
# which implements what Wine 8 refuses and Windows 10 and 11 take first (the rename that
# replaces with POSIX semantics and ignores read-only, the deletion of the same kind,
# CreateProcessWithTokenW honouring its token, and "runas" from a restricted process
# giving an elevated twin). So the install path that Windows takes runs here too.
#
# Makes a Debian 13 root with debootstrap from the package archive this machine uses,
# once (build/wine10/root; a second run reuses it), builds the tests with its Wine as
# their loader (build/mingw-x86_64-wine10), and runs them: every Wine program inside that
# root, the checkout seen there at its own path. Run as root (chroot, mounts).
# Usage: wine10.sh [CTEST_ARGS...]
set -euo pipefail
cd "$(dirname "$0")/.."
here=$PWD
base=$here/build/wine10
root=$base/root
bin=$base/bin
build=$here/build/mingw-x86_64-wine10

# Inside the root, a checkout under /tmp would stand inside the run's own /tmp, where Wine
# 10 takes the update files and their destinations for two volumes (and without that
# /tmp its server spun): the run says so rather than fail for the place alone.
case "$here/" in
  /tmp/*)
    echo "=== runtimes"
    echo "not run under Wine 10: the checkout is under /tmp; to try again: from a checkout elsewhere"
    exit 0
    ;;
esac

# The archive of this machine's own Debian sources.
mirror() {
  local uri
  uri=$(awk '/^URIs:/ { print $2; exit }' /etc/apt/sources.list.d/debian.sources 2>/dev/null || true)
  [ -n "$uri" ] || uri=$(awk '$1 == "deb" && $2 !~ /security/ { print $2; exit }' /etc/apt/sources.list 2>/dev/null || true)
  echo "${uri:-http://deb.debian.org/debian}"
}

# The root, made once. Where the archive cannot give it (an index out of step, no trixie
# on the mirror), the run says so and why, and ends without failing: the Wine 8 suite
# has run; this one has not.
make_root() {
  command -v debootstrap >/dev/null ||
    DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends debootstrap
  rm -rf "$root"
  mkdir -p "$base"
  debootstrap --variant=minbase trixie "$root" "$(mirror)" || return 1
  mount -t proc proc "$root/proc"
  local status=0
  chroot "$root" apt-get update -q &&
    # openssl: the tests sign updates with the publisher's script, from inside Wine.
    chroot "$root" env DEBIAN_FRONTEND=noninteractive \
      apt-get install -y -q --no-install-recommends wine64 openssl || status=1
  umount "$root/proc"
  [ $status = 0 ] && touch "$root/.ready"
}
mkdir -p "$base"
if [ ! -f "$root/.ready" ] && ! make_root >"$base.log" 2>&1; then
  echo "=== runtimes"
  echo "not run under Wine 10: its Debian 13 root could not be made; the last lines of $base.log:"
  tail -8 "$base.log" | sed 's/^/    /'
  echo "  to try again: ./scripts/wine10.sh"
  exit 0
fi
# shellcheck disable=SC2016 # dpkg-query's own field, not the shell's
version=$(chroot "$root" dpkg-query -W -f='${Version}' wine64)
echo "runtime: wine64 $version (Debian $(cat "$root/etc/debian_version"))"

# The loader and the server, each run inside the root in the caller's folder.
mkdir -p "$bin"
for program in wine64 wineserver; do
  cat >"$bin/$program" <<EOF
#!/bin/sh
exec chroot "$root" /bin/sh -c 'cd "\$0" && exec /usr/lib/wine/$program "\$@"' "\$PWD" "\$@"
EOF
  chmod +x "$bin/$program"
done

# A /tmp of the run's own (Wine's server keeps its socket there), the checkout at its
# own path, the host's /dev/shm (the scratch drives and the small volume) and the
# processes, for as long as the run lasts. The root keeps its own device nodes: the
# host's /dev is never bound into a folder that a removal of build/ could reach.
mounted=()
# Usage: bind TARGET MOUNT_ARGUMENTS...
bind() {
  local target=$root$1
  shift
  mkdir -p "$target"
  mountpoint -q "$target" || { mount "$@" "$target" && mounted=("$target" "${mounted[@]}"); }
}
# shellcheck disable=SC2317 # run by the trap
cleanup() {
  "$bin/wineserver" -k 2>/dev/null || true
  for point in "${mounted[@]}"; do umount -l "$point" || true; done
}
trap cleanup EXIT
trap 'exit 130' INT TERM
prefix=$build/wineprefix
"$here/scripts/small-volume.sh" "$prefix" >/dev/null
bind /tmp -t tmpfs wine10-tmp
bind /proc -t proc proc
bind /dev/shm --rbind /dev/shm
bind "$here" --bind "$here"

cmake --preset mingw-x86_64 -B "$build" -DWINE_LOADER="$bin/wine64" >/dev/null
cmake --build "$build"
# Left to the Wine 8 run: the imports and the release (no Wine in them), the code pages
# (locales of the host), and the ordinary user's run (a user of the host). Left out by
# name, for what Wine 10 does as Windows does with UAC on: a twin started by "runas"
# from a restricted process comes back elevated, so the twin without rights that
# TwinThatComesBackWithoutRights... needs (Windows with UAC off, Wine 8) is not there.
skipped='^(Executable|Release)\.|^CodePage|^ReadOnlyCasesAsAnOrdinaryUser$'
skipped+='|^Unelevated\.TwinThatComesBackWithoutRightsAsksTheUserInsteadOfRelaunching$'
# The whole run is bounded (about ten times its usual 4 minutes) so that a server that
# hangs cannot hold CI past its own limit; each test has its own limit besides.
status=0
timeout 2400 ctest --test-dir "$build" -j 2 -E "$skipped" "$@" || status=1
echo "=== runtimes"
echo "ran the x86_64 tests under Wine 10 ($version): see above"
exit $status
