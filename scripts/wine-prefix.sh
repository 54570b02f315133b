#!/usr/bin/env bash
# Makes a Wine prefix for the tests once: the null graphics driver (message boxes
# exist and a test can find and answer them without a display), a drive S: on
# another file system, for moves across volumes, and a drive R: whose root a test may
# use as a launcher's root folder.
# Usage: wine-prefix.sh PREFIX LOADER
set -e
prefix=$1 loader=$2
# Each prefix's own folders (two checkouts run their suites side by side), and each
# user's: another user's cannot be written.
mine="-$(printf '%s' "$prefix" | cksum | cut -d' ' -f1)"
[ "$(id -u)" = 0 ] || mine="$mine-$(id -un)"
drives() {
  mkdir -p "/dev/shm/qorvath-updater-tests$mine" "/dev/shm/qorvath-updater-root$mine" "$prefix/dosdevices"
  ln -sfn "/dev/shm/qorvath-updater-tests$mine" "$prefix/dosdevices/s:"
  ln -sfn "/dev/shm/qorvath-updater-root$mine" "$prefix/dosdevices/r:"
}
if [ -f "$prefix/.ready" ]; then drives; exit 0; fi
export WINEPREFIX=$prefix WINELOADER=$loader WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
case "$loader" in *64) export WINEARCH=win64 ;; *) export WINEARCH=win32 ;; esac
mkdir -p "$prefix"
"$loader" wineboot -i >/dev/null 2>&1 || true
"$loader" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1
# Dialogs of a crashing test program would wait for ever on a null display.
"$loader" reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' /v Auto /d 0 /f >/dev/null 2>&1 || true
"$loader" reg delete 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' /v Debugger /f >/dev/null 2>&1 || true
drives
"$(dirname "$loader")/wineserver" -w 2>/dev/null || wineserver -w
touch "$prefix/.ready"
