#!/usr/bin/env bash
# Makes a Wine prefix for the tests once: the null graphics driver (message boxes
# exist and a test can find and answer them without a display) and a drive S: on
# another file system, for moves across volumes.
# Usage: wine-prefix.sh PREFIX LOADER
set -e
prefix=$1 loader=$2
[ -f "$prefix/.ready" ] && exit 0
export WINEPREFIX=$prefix WINELOADER=$loader WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
case "$loader" in *64) export WINEARCH=win64 ;; *) export WINEARCH=win32 ;; esac
mkdir -p "$prefix"
"$loader" wineboot -i >/dev/null 2>&1 || true
"$loader" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1
# Dialogs of a crashing test program would wait for ever on a null display.
"$loader" reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' /v Auto /d 0 /f >/dev/null 2>&1 || true
"$loader" reg delete 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' /v Debugger /f >/dev/null 2>&1 || true
shm=/dev/shm/qorvath-updater-tests
mkdir -p "$shm"
ln -sfn "$shm" "$prefix/dosdevices/s:"
"$(dirname "$loader")/wineserver" -w 2>/dev/null || wineserver -w
touch "$prefix/.ready"
