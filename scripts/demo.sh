#!/usr/bin/env bash
# Sets up what is missing, builds, and runs two demonstration updates under Wine. In
# the first, the sample launcher (integration/sample, built on the launchers' header)
# finds an update waiting, starts Updater.exe in resources\update with the root folder
# as argument and ends; the updater waits for its end, applies the update, and starts
# "Qorvath Launcher.exe" again, which now shows the new version. In the second, a
# stand-in launcher that ends a second later starts an update that meets a file that
# another program holds open.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh >/dev/null

. ./scripts/builds.sh
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset" >/dev/null
bin=$PWD/build/$preset/bin
prefix=$PWD/build/$preset/wineprefix
./scripts/wine-prefix.sh "$prefix" "$loader"
export WINEPREFIX=$prefix WINELOADER=$loader WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
winpath() { echo "Z:${1//\//\\}"; }

demo=$(mktemp -d /tmp/qorvath-demo.XXXXXX)
root=$demo/root update=$demo/root/resources/update

show() {
  echo "--- $1"
  (cd "$demo" && find root -type f ! -name '*.record' | sort | while read -r f; do
    printf '  %-42s %s\n' "$f" "$(case "$f" in *.exe) echo '(program)' ;; *) head -c 40 "$f" ;; esac)"
  done)
}

# Runs the launcher stand-in, which starts the updater and ends after a second.
launch() {
  QLU_UPDATER=$(winpath "$update/Updater.exe")
  QLU_WORKDIR=$(winpath "$update")
  # The quotes are part of the argument text that the stand-in passes on.
  # shellcheck disable=SC2089,SC2090
  QLU_ARGS="\"$(winpath "$root")\""
  # shellcheck disable=SC2090
  export QLU_UPDATER QLU_WORKDIR QLU_ARGS QLU_END="delay:1000" QLU_TEST_PID=0
  echo "--- the launcher starts: Updater.exe $QLU_ARGS"
  echo "    in $QLU_WORKDIR, and ends a second later"
  "$loader" "$bin/launcher_standin.exe" >/dev/null
}

echo "=== 1. A complete update, started by the sample launcher"
mkdir -p "$update/bin" "$root/bin"
echo "1.0" >"$root/version.txt"
echo "old x.dll" >"$root/bin/x.dll"
cp "$bin/Qorvath Launcher.exe" "$root/Qorvath Launcher.exe"
echo "1.1" >"$update/version.txt"
echo "new x.dll" >"$update/bin/x.dll"
echo "new y.dll" >"$update/bin/y.dll"
cp "$bin/Qorvath Launcher.exe" "$update/Qorvath Launcher.exe"
cp "$bin/Updater.exe" "$update/Updater.exe"
show "before the update"
echo "--- Qorvath Launcher.exe starts, finds the update, starts Updater.exe and ends"
"$loader" "$root/Qorvath Launcher.exe"
for _ in $(seq 300); do grep -q "All done" "$update/Updater.log" 2>/dev/null && break; sleep 0.1; done
sleep 1
if pgrep -f 'Qorvath Launcher.exe' >/dev/null; then
  echo "--- the updater started Qorvath Launcher.exe again: it shows \"Qorvath Launcher, version $(cat "$root/version.txt")\""
  echo "    (no screen here: the demo closes it)"
fi
pkill -f 'Qorvath Launcher.exe' || true
"$(dirname "$loader")/wineserver" -w
show "after the update"
echo "--- resources/update/Updater.log"
sed 's/^/  /' "$update/Updater.log"

echo
echo "=== 2. An update that meets a file held open by another program"
echo "new x.dll, again" >"$update/bin/x.dll"
"$loader" "$bin/file_holder.exe" "$(winpath "$root/bin/x.dll")" 8000 &
sleep 1
launch
for _ in $(seq 100); do grep -q "Tries: 3" "$update/Updater.log" 2>/dev/null && break; sleep 0.1; done
echo "--- the updater tried four times and now shows its failure message; the demo closes it"
sleep 0.5
pkill -f 'Updater.exe' || true
"$(dirname "$loader")/wineserver" -w
show "after the failed update"
echo "--- resources/update/Updater.log"
sed 's/^/  /' "$update/Updater.log"
echo "(the demonstration trees stay in $demo)"
echo "=== builds"
echo "ran: $preset"
[ "$preset" = mingw-i686 ] || { echo "not run: mingw-i686 (the shipped build)"; why_not_run mingw-i686; }
