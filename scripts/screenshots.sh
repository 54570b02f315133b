#!/usr/bin/env bash
# Renders the updater's two message boxes with Wine's X11 driver under Xvfb, from the
# real Updater.exe, into docs/retry-prompt.png and docs/failure-message.png.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh >/dev/null
need=()
for p in xvfb x11-utils imagemagick; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || need+=("$p")
done
[ ${#need[@]} -eq 0 ] || DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${need[@]}" >/dev/null

. ./scripts/builds.sh
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset" >/dev/null
bin=$PWD/build/$preset/bin

work=$(mktemp -d /tmp/qorvath-shots.XXXXXX)
display=:77
Xvfb "$display" -screen 0 800x400x24 >/dev/null 2>&1 &
xvfb=$!
export DISPLAY=$display
# A prefix of its own: the test prefix draws nothing (null driver). A Wine virtual
# desktop draws the boxes' frames and captions itself, as Windows would.
export WINEPREFIX=$work/prefix WINELOADER=$loader WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
"$loader" wineboot -i >/dev/null 2>&1
trap '"$(dirname "$loader")/wineserver" -k 2>/dev/null || true; kill $xvfb 2>/dev/null || true; rm -rf "$work"' EXIT
winpath() { echo "Z:${1//\//\\}"; }

# Waits for the box, then saves the screen cut down to it.
shoot() { # output
  for _ in $(seq 100); do
    xwininfo -root -tree 2>/dev/null | grep -q '"Qorvath Launcher Updater"' && break
    sleep 0.2
  done
  sleep 1
  # The desktop around the box is one plain colour: cut it away.
  import -window root -trim +repage "$1"
  echo "wrote $1"
}

start() { # update-dir root-as-Windows-path restricted hide end
  QLU_UPDATER=$(winpath "$1/Updater.exe")
  QLU_WORKDIR=$(winpath "$1")
  export QLU_UPDATER QLU_WORKDIR QLU_ARGS="\"$2\"" QLU_END=$5 QLU_TEST_PID=0
  export QLU_RESTRICTED=$3 QLU_HIDE_IMAGE=$4
  "$loader" explorer /desktop=shots,800x400 "$bin/launcher_standin.exe" >/dev/null 2>&1 &
}

# The retry prompt: an instance without administrator rights whose requests fail.
mkdir -p "$work/a/root/resources/update"
cp "$bin/Updater.exe" "$work/a/root/resources/update/"
start "$work/a/root/resources/update" "$(winpath "$work/a/root")" 1 1 delay:30000
shoot docs/retry-prompt.png
"$(dirname "$loader")/wineserver" -k
sleep 1

# The failure message: a folder stands where a file is to go.
mkdir -p "$work/b/root/resources/update/bin" "$work/b/root/bin/x.dll"
cp "$bin/Updater.exe" "$work/b/root/resources/update/"
echo new >"$work/b/root/resources/update/bin/x.dll"
# Shown under a root folder of the usual form.
mkdir -p "$WINEPREFIX/drive_c/Games"
ln -sfn "$work/b/root" "$WINEPREFIX/drive_c/Games/Qorvath"
start "$work/b/root/resources/update" 'C:\Games\Qorvath' 0 0 now
shoot docs/failure-message.png
