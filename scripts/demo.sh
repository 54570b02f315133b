#!/usr/bin/env bash
# Sets up what is missing, builds, and runs a demonstration update under Wine the way
# the launcher runs it: a stand-in launcher starts Updater.exe in resources\update
# with the root folder as argument and ends; the updater waits for it, applies the
# update, and starts "Qorvath Launcher.exe" again.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh >/dev/null

# The shipped build is the 32-bit one; a host whose kernel runs 64-bit user code only
# cannot start 32-bit Wine, and there the demonstration uses the 64-bit build.
preset=mingw-i686 loader=/usr/lib/wine/wine
if ! "$loader" --version >/dev/null 2>&1; then
  echo "note: this host cannot run 32-bit programs; demonstrating the x86_64 build"
  preset=mingw-x86_64 loader=/usr/lib/wine/wine64
fi
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset" >/dev/null
bin=build/$preset/bin
prefix=$PWD/build/$preset/wineprefix
./scripts/wine-prefix.sh "$prefix" "$loader"

demo=$(mktemp -d /tmp/qorvath-demo.XXXXXX)
root=$demo/root update=$demo/root/resources/update
mkdir -p "$update/bin" "$root/bin"
echo "launcher 1.0" >"$root/readme.txt"
echo "old x.dll" >"$root/bin/x.dll"
cp "$bin/recorder.exe" "$root/Qorvath Launcher.exe"
echo "launcher 1.1" >"$update/readme.txt"
echo "new x.dll" >"$update/bin/x.dll"
echo "new y.dll" >"$update/bin/y.dll"
cp "$bin/Updater.exe" "$update/Updater.exe"

show() {
  echo "--- $1"
  (cd "$demo" && find root -type f ! -name '*.record' | sort | while read -r f; do
    printf '%-45s %s\n' "$f" "$(case "$f" in *.exe) echo '(program)' ;; *) head -c 40 "$f" ;; esac)"
  done)
}
show "before the update"

winpath() { echo "Z:${1//\//\\}"; }
export WINEPREFIX=$prefix WINELOADER=$loader WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
export QLU_UPDATER="$(winpath "$update/Updater.exe")" QLU_WORKDIR="$(winpath "$update")"
export QLU_ARGS="\"$(winpath "$root")\"" QLU_END="delay:1000" QLU_TEST_PID=0
echo "--- the launcher starts: Updater.exe $QLU_ARGS (working directory $QLU_WORKDIR)"; echo
"$loader" "$bin/launcher_standin.exe" | true
"$(dirname "$loader")/wineserver" -w

show "after the update"
echo "--- resources/update/Updater.log"
cat "$update/Updater.log"
if [ -f "$root/Qorvath Launcher.exe.record" ]; then
  echo "--- Qorvath Launcher.exe was started again:"
  cat "$root/Qorvath Launcher.exe.record"
fi
echo "(the demonstration tree stays in $demo)"
