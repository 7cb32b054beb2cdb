#!/usr/bin/env bash
# The Windows leg of scripts/test.sh (scripts/test.sh --windows): cross-builds pelk-updater.exe,
# pelk-cli.exe and the suites that run without Linux with mingw-w64 in build-windows/, installs them
# with the DLLs they load into build-windows/stage, runs those suites and one whole update under
# Wine (pelk-cli.exe against the Linux pelk-devsim over loopback TCP and a catalogue served on
# 127.0.0.1), then makes the NSIS installer, installs it silently under Wine and runs what it
# installed. Prints each step's time, and "N passed, N failed" at the end.
#   scripts/windows-test.sh --build-only   the toolchain and the cross-build alone
set -euo pipefail
cd "$(dirname "$0")/.."
build_only=0
[ "${1:-}" = --build-only ] && build_only=1
root=$PWD
build=$root/build-windows
native=$root/build
jobs=${PELK_JOBS:-$(nproc)}
source "$root/scripts/compiler-cache.sh"

passed=0
failed=0
leg_started=$(date +%s)
step_started=0
step() { step_started=$(date +%s); echo "== $1"; }
step_done() { echo "   $1: $(( $(date +%s) - step_started )) s"; }
check() { # NAME COMMAND...: one counted check
  local name=$1
  shift
  if "$@"; then
    echo "   PASS $name"
    passed=$((passed + 1))
  else
    echo "   FAIL $name"
    failed=$((failed + 1))
  fi
}

mkdir -p "$build"
bash scripts/windows-toolchain.sh | tee "$build/toolchain.log"
prefix=$(tail -n1 "$build/toolchain.log")

step "cross-build"
cmake -S . -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64.cmake" \
  -DPELK_WINDOWS_PREFIX="$prefix" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPELK_BUILD_TESTS=ON \
  -DPELK_BUILD_BENCH=OFF "${launcher[@]}" >/dev/null
cmake --build "$build" -j "$jobs"
rm -rf "$build/stage"
cmake --install "$build" --prefix "$build/stage" >/dev/null
step_done cross-build
[ "$build_only" = 0 ] || exit 0

# Wine in a prefix of its own, without a display: the window's tests use the offscreen platform.
export WINEPREFIX=$build/wine-prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" QT_QPA_PLATFORM=offscreen
unset DISPLAY WAYLAND_DISPLAY
step "Wine prefix"
# Made anew each run (about 20 s): nothing an earlier run or an older Wine left in it counts.
rm -rf "$WINEPREFIX"
wineboot -i >/dev/null 2>&1 || true
wineserver -w 2>/dev/null || true
step_done "Wine prefix"
# The build tree's programs find their DLLs through WINEPATH (the folders the build wrote out).
winepath_list=""
IFS=';' read -r -a runtime_dirs <"$build/windows-runtime-path.txt"
for dir in "${runtime_dirs[@]}" "$build/stage/bin"; do
  [ -n "$dir" ] && winepath_list+="$(winepath -w "$dir" 2>/dev/null);"
done
export WINEPATH=$winepath_list
export QT_PLUGIN_PATH=$(winepath -w "$build/stage/bin")

step "Wine tests"
check "pelk-cli.exe --version" wine "$build/stage/bin/pelk-cli.exe" --version
# The suites CTest knows in the Windows build, each under Wine (the build's cross-compiling emulator).
if ctest --test-dir "$build" -N 2>/dev/null | grep -q "Total Tests: [1-9]"; then
  failed_before=$failed
  check "ctest under Wine" ctest --test-dir "$build" -j "$jobs" --output-on-failure --timeout 300
  # What the suites that failed printed, which Wine's missing console kept from ctest.
  if [ "$failed" != "$failed_before" ] && [ -s "$build/Testing/Temporary/LastTestsFailed.log" ]; then
    while IFS=: read -r _ name; do
      find "$build/tests" -name "$name.log" -exec sh -c 'echo "--- $1"; grep -v "^PASS " "$1"' sh {} \;
    done <"$build/Testing/Temporary/LastTestsFailed.log"
  fi
fi
step_done "Wine tests"

step "end-to-end update"
# The simulator and the catalogue tool are Linux programs, from the native build.
[ -f "$native/CMakeCache.txt" ] || cmake -S . -B "$native" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "${launcher[@]}" >/dev/null
cmake --build "$native" -j "$jobs" --target pelk-devsim pelk-catalogue >/dev/null
scratch=$(mktemp -d /tmp/pelk-windows-XXXXXX)
pids=()
cleanup() {
  wineserver -k 2>/dev/null || true
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do kill "${pids[i]}" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$scratch"
}
trap cleanup EXIT
free_port() {
  python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}
port=$(free_port)
PELK_CATALOGUE=$native/tools/pelk-catalogue bash scripts/make-demo-catalogue.sh "$scratch/catalogue" \
  "http://127.0.0.1:$port" >/dev/null
python3 -m http.server --bind 127.0.0.1 --directory "$scratch/catalogue" "$port" >"$scratch/server.log" 2>&1 &
pids+=($!)
# An outdated Pelk+ on the bus over TCP: the port the simulator took is in its first line.
mkfifo "$scratch/devsim-commands"
"$native/tools/pelk-devsim" --socket tcp:127.0.0.1:0 --model plus --mcu 3.0.1 --dsp 1.0.2 \
  --styles 0x100 --ensemble 0x10000 --reboot-ms 2000 --fast <"$scratch/devsim-commands" >"$scratch/devsim.log" 2>&1 &
pids+=($!)
exec 3>"$scratch/devsim-commands"
bus=""
for _ in $(seq 100); do
  bus=$(grep -o 'listening on tcp:127\.0\.0\.1:[0-9]*' "$scratch/devsim.log" | sed 's/listening on //' || true)
  [ -n "$bus" ] && break
  sleep 0.1
done
for _ in $(seq 50); do (exec 9<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && break; sleep 0.1; done
# The catalogue's key is trusted as an administrator would set it: in the updater's registry key.
wine reg add 'HKCU\Software\Quellor\Pelk Updater\update' /v trusted-keys /t REG_SZ \
  /d "$(cat "$scratch/demo-signing-key.pub")" /f >/dev/null 2>&1
wineserver -w 2>/dev/null || true
e2e() {
  PELK_HIDSIM_SOCKET=$bus wine "$build/stage/bin/pelk-cli.exe" update --yes --ignore-power \
    --manifest-url "http://127.0.0.1:$port/update-manifest.xml" >"$scratch/update.log" 2>&1
  local status=$?
  sed 's/^/   [pelk-cli] /' "$scratch/update.log" | tail -n 15
  [ "$status" = 0 ] && grep -q "Update complete: 4 components installed and verified." "$scratch/update.log"
}
# Declined at its question first: the answer is read from a pipe, as a console would give it, and
# nothing is sent.
declined() {
  printf 'n\n' | PELK_HIDSIM_SOCKET=$bus timeout 120 wine "$build/stage/bin/pelk-cli.exe" update --ignore-power \
    --manifest-url "http://127.0.0.1:$port/update-manifest.xml" >"$scratch/declined.log" 2>&1
  local status=$?
  sed 's/^/   [pelk-cli] /' "$scratch/declined.log" | tail -n 4
  [ "$status" = 1 ] && grep -q "Update cancelled." "$scratch/declined.log"
}
check "pelk-cli.exe update answered no at its question" declined
check "pelk-cli.exe update --yes on a simulated Pelk+" e2e
step_done "end-to-end update"

step "installer"
(cd "$build" && cpack -G NSIS >/dev/null)
installer=$build/PelkUpdater-$(bash scripts/project-version.sh)-win64.exe
installed() {
  [ -f "$installer" ] || return 1
  rm -rf "$WINEPREFIX/drive_c/PelkTest"
  wine "$installer" /S '/D=C:\PelkTest' >/dev/null 2>&1
  wineserver -w 2>/dev/null || true
  local program="$WINEPREFIX/drive_c/PelkTest/bin/pelk-cli.exe"
  [ -f "$program" ] && [ -d "$WINEPREFIX/drive_c/PelkTest/bin/platforms" ] \
    && (unset WINEPATH QT_PLUGIN_PATH; wine "$program" --version)
}
check "installer $(basename "$installer") installs silently and its pelk-cli.exe runs" installed
step_done installer

step "window"
# The installed pelk-updater.exe on Qt's Windows platform plug-in, drawn by Wine on a virtual X
# display: its window must appear; a screenshot of it is kept in the build folder.
screenshot=$build/pelk-updater-window.png
window() {
  local program="$WINEPREFIX/drive_c/PelkTest/bin/pelk-updater.exe" display_file=$scratch/display pid xvfb id=""
  # Where the installer could not run (Wine without its 32-bit half), the staged tree it was made
  # from stands in: the same files.
  if [ ! -f "$program" ]; then
    program=$build/stage/bin/pelk-updater.exe
    echo "   no installed pelk-updater.exe: the staged one is started"
  fi
  [ -f "$(dirname "$program")/platforms/qwindows.dll" ] || { echo "   no platforms/qwindows.dll beside it"; return 1; }
  command -v Xvfb >/dev/null && command -v xdotool >/dev/null && command -v import >/dev/null \
    || { echo "   Xvfb, xdotool or ImageMagick's import missing (scripts/install-deps.sh)"; return 1; }
  # Xvfb picks a free display itself and writes its number.
  Xvfb -displayfd 5 -screen 0 1280x800x24 -nolisten tcp 5>"$display_file" >/dev/null 2>&1 &
  xvfb=$!
  pids+=($xvfb)
  for _ in $(seq 50); do [ -s "$display_file" ] && break; sleep 0.1; done
  [ -s "$display_file" ] || { echo "   Xvfb did not start"; return 1; }
  export DISPLAY=":$(cat "$display_file")"
  # Wine's desktop process, started by the installer's run without a display, would keep every
  # later window off the screen: a Wine server of its own starts with this display.
  wineserver -k 2>/dev/null || true
  wineserver -w 2>/dev/null || true
  (unset WINEPATH QT_PLUGIN_PATH; QT_QPA_PLATFORM=windows exec timeout 120 wine "$program") >"$scratch/window.log" 2>&1 &
  pid=$!
  pids+=($pid)
  for _ in $(seq 60); do
    id=$(xdotool search --onlyvisible --name "Pelk Updater" 2>/dev/null | head -n1 || true)
    [ -n "$id" ] && break
    kill -0 "$pid" 2>/dev/null || break
    sleep 1
  done
  if [ -n "$id" ]; then
    sleep 3 # the first paint, and the start-up's own checks settling
    import -window root "$screenshot"
    echo "   window \"$(xdotool getwindowname "$id")\" $(xdotool getwindowgeometry "$id" | sed -n 's/.*Geometry: //p'), screenshot $screenshot"
  fi
  # Closed as Windows closes a program, then whatever is left with the Wine server.
  timeout 20 wine taskkill /im pelk-updater.exe >/dev/null 2>&1 || true
  for _ in $(seq 20); do kill -0 "$pid" 2>/dev/null || break; sleep 0.5; done
  kill "$pid" 2>/dev/null || true
  wineserver -k 2>/dev/null || true
  kill "$xvfb" 2>/dev/null || true
  unset DISPLAY
  [ -n "$id" ] || echo "   no window named \"Pelk Updater\" appeared"
  sed 's/^/   [pelk-updater] /' "$scratch/window.log" | tail -n 5
  # A drawn window has more than a handful of colours; an unpainted one is one or two.
  [ -n "$id" ] && [ "$(identify -format %k "$screenshot" 2>/dev/null || echo 0)" -gt 16 ]
}
check "pelk-updater.exe opens its window on the Windows platform plug-in" window
step_done window

echo "   Windows leg: $(( $(date +%s) - leg_started )) s"
echo "windows: $passed passed, $failed failed"
[ "$failed" = 0 ]
