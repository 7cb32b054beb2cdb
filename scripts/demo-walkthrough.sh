#!/usr/bin/env bash
# Walks through the demo as a user would, on a virtual screen: waits for the window to show the
# connected Pelk+, clicks "Check for Latest Updates", waits for the four components, clicks
# "Start Update", waits until the device is up to date, and takes a screenshot of each step. Then
# an install from a file through the Advanced menu and, with a simulator of its own, a device this
# account may not open.
#   scripts/demo-walkthrough.sh [FOLDER]     (default docs/walkthrough/)
# Needs a build (build/, or PELK_BUILD_DIR): the demo runs with --no-build --fast. The progress is
# read from the updater's log lines; the window is clicked with xdotool at places taken from its
# layout (menu bar, then the page to the right of the 200 pixel device panel).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
out=${1:-docs/walkthrough}
build_dir=${PELK_BUILD_DIR:-build}
case "$build_dir" in /*) ;; *) build_dir=$root/$build_dir ;; esac
for program in "$build_dir/pelk-updater" "$build_dir/tools/pelk-devsim" "$build_dir/tools/pelk-catalogue"; do
  [ -x "$program" ] || { echo "$program is missing: build first (cmake --build ${build_dir#$root/})" >&2; exit 1; }
done
for tool in Xvfb xdotool import; do
  command -v "$tool" >/dev/null || { echo "$tool is missing: bash scripts/install-deps.sh" >&2; exit 1; }
done
mkdir -p "$out"

work=$(mktemp -d /tmp/pelk-walkthrough-XXXXXX)
log=$work/demo.log
demo=""; xvfb=""; extra=()
cleanup() {
  trap - EXIT INT TERM HUP
  for pid in "${extra[@]}"; do kill "$pid" 2>/dev/null || true; done
  if [ -n "$demo" ] && kill -0 "$demo" 2>/dev/null; then
    kill "$demo" 2>/dev/null || true   # its own clean-up stops the updater, server and simulator
    for _ in $(seq 50); do kill -0 "$demo" 2>/dev/null || break; sleep 0.1; done
  fi
  [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null || true
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 129' HUP
trap 'exit 130' INT
trap 'exit 143' TERM

failed() {
  echo "Walkthrough failed: $*" >&2
  shot failure || true
  echo "--- last lines of the demo's output ---" >&2
  tail -n 40 "$log" >&2 || true
  cp "$log" "$out/failure-log.txt" 2>/dev/null || true
  exit 1
}

# A display of our own, whatever the caller has.
display=""
for number in $(seq 90 120); do
  if [ ! -e "/tmp/.X11-unix/X$number" ] && [ ! -e "/tmp/.X$number-lock" ]; then display=:$number; break; fi
done
[ -n "$display" ] || { echo "No free X display number found" >&2; exit 1; }
Xvfb "$display" -screen 0 1600x1200x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
export DISPLAY=$display
unset WAYLAND_DISPLAY
for _ in $(seq 50); do xdotool getdisplaygeometry >/dev/null 2>&1 && break; sleep 0.1; done
xdotool getdisplaygeometry >/dev/null 2>&1 || { echo "Xvfb did not start on $display" >&2; exit 1; }

# The start screen first: the updater alone, on an empty bus, in settings of its own. The demo's
# updater starts meanwhile, so the lone one holds a single-instance lock of its own, as if it ran
# on another account: the one lock an account has would otherwise turn the demo's away.
mkdir -p "$work/alone/config" "$work/alone/runtime" "$work/alone/tmp" "$work/alone/lock"
chmod 700 "$work/alone/runtime" "$work/alone/lock"
PELK_INSTANCE_LOCK_DIR=$work/alone/lock \
  XDG_CONFIG_HOME=$work/alone/config XDG_RUNTIME_DIR=$work/alone/runtime TMPDIR=$work/alone/tmp \
  PELK_HIDSIM_SOCKET=$work/alone/no-bus "$build_dir/pelk-updater" >"$work/alone.log" 2>&1 &
alone=$!

PELK_BUILD_DIR=$build_dir bash scripts/run-demo.sh --no-build --fast >"$log" 2>&1 &
demo=$!

# wait_for TEXTS SECONDS [FROM_LINE]: waits until a line after FROM_LINE of the log holds one of
# TEXTS, alternatives separated by "|".
wait_for() {
  local texts=$1 seconds=$2 from=${3:-0}
  local deadline=$((SECONDS + seconds))
  while [ $SECONDS -lt $deadline ]; do
    # awk reads the whole file: grep -q behind a pipe would end the pipe early, and pipefail would
    # count that as no match.
    awk -v from="$from" -v texts="$texts" '
      BEGIN { n = split(texts, wanted, "|") }
      NR > from { for (i = 1; i <= n; i++) if (index($0, wanted[i])) found = 1 }
      END { exit !found }' "$log" && return 0
    kill -0 "$demo" 2>/dev/null || return 1
    sleep 0.2
  done
  return 1
}
lines() { wc -l <"$log"; }

window=""
geometry() {
  eval "$(xdotool getwindowgeometry --shell "$window")"
  win_x=$X; win_y=$Y; win_w=$WIDTH; win_h=$HEIGHT
}
shot() {
  local name=$1
  [ -n "$window" ] || { import -window root "$out/$name.png"; return; }
  geometry
  # The main window with whatever is open over it (menus and message boxes are windows of their own).
  import -window root -crop "${win_w}x${win_h}+${win_x}+${win_y}" +repage "$out/$name.png"
  echo "  screenshot $out/$name.png"
}
# click X Y: a left click at a point of the main window.
click() {
  xdotool mousemove --window "$window" "$1" "$2" click 1
}

# Layout of the window (750 by 500 at first): a menu bar, the black device panel 200 pixels wide on
# the left, the pages on the right. On the selection page "Check for Latest Updates" is the first
# widget at the top and "Start Update" the last at the bottom; both span the page's width.
panel_width=200
menu_height=22
page_x() { echo $((panel_width + (win_w - panel_width) / 2)); }
check_button_y() { echo $((menu_height + 22)); }
start_button_y() { echo $((win_h - 22)); }

# The window named "Pelk Updater": Qt gives the main window that name in _NET_WM_NAME and its class
# in WM_CLASS, and names a hidden 1x1 helper window the same, so the largest visible match is taken.
find_window() {
  local candidate best="" best_area=0
  for candidate in $( (xdotool search --onlyvisible --name '^Pelk Updater$'; xdotool search --onlyvisible --class '^Pelk Updater$') 2>/dev/null | sort -u); do
    [ "$(xdotool getwindowname "$candidate" 2>/dev/null)" = "Pelk Updater" ] || continue
    eval "$(xdotool getwindowgeometry --shell "$candidate")"
    if [ $((WIDTH * HEIGHT)) -gt "$best_area" ]; then best=$candidate; best_area=$((WIDTH * HEIGHT)); fi
  done
  echo "$best"
}
echo "Step 0: the start screen, before any device is connected"
# The lone updater starts first; its window is told apart from the demo's by its process.
for _ in $(seq 100); do
  window=$(xdotool search --onlyvisible --pid "$alone" 2>/dev/null | while read -r w; do
    eval "$(xdotool getwindowgeometry --shell "$w")"; [ "$WIDTH" -gt 100 ] && echo "$w"; done | head -n 1) || true
  [ -n "$window" ] && break
  sleep 0.2
done
if [ -n "$window" ]; then
  sleep 1
  shot 00-no-device
else
  echo "  (the start screen did not appear; going on)"
fi
kill "$alone" 2>/dev/null || true
wait "$alone" 2>/dev/null || true
window=""

echo "Step 0b: the start screen at twice the pixel ratio"
# Logos drawn for the screen's pixels and texts that fit: what a high-density screen shows.
QT_SCALE_FACTOR=2 PELK_INSTANCE_LOCK_DIR=$work/alone/lock \
  XDG_CONFIG_HOME=$work/alone/config XDG_RUNTIME_DIR=$work/alone/runtime TMPDIR=$work/alone/tmp \
  PELK_HIDSIM_SOCKET=$work/alone/no-bus "$build_dir/pelk-updater" >"$work/alone-scale-2.log" 2>&1 &
alone=$!
for _ in $(seq 100); do
  window=$(xdotool search --onlyvisible --pid "$alone" 2>/dev/null | while read -r w; do
    eval "$(xdotool getwindowgeometry --shell "$w")"; [ "$WIDTH" -gt 1000 ] && echo "$w"; done | head -n 1) || true
  [ -n "$window" ] && break
  sleep 0.2
done
if [ -n "$window" ]; then
  sleep 1
  shot 00-no-device-scale-2
else
  echo "  (the start screen at scale 2 did not appear; going on)"
fi
kill "$alone" 2>/dev/null || true
wait "$alone" 2>/dev/null || true
window=""

echo "Step 1: the window shows the connected Pelk+"
for _ in $(seq 100); do
  window=$(find_window)
  [ -n "$window" ] && break
  kill -0 "$demo" 2>/dev/null || failed "the demo ended before its window appeared"
  sleep 0.2
done
[ -n "$window" ] || failed "no window named \"Pelk Updater\""
wait_for "Device ready." 30 || failed "the device was not reported ready"
sleep 1   # the panel and the page follow the ready report
shot 01-device-connected

echo "Step 2: Check for Latest Updates"
geometry
mark=$(lines)
click "$(page_x)" "$(check_button_y)"
wait_for "UpdateManager: Starting download to:" 10 "$mark" || failed "clicking \"Check for Latest Updates\" started no check"
for text in "New MCU" "New DSP." "New Styles." "New Ensemble."; do
  wait_for "$text" 30 "$mark" || failed "the plan lacks \"$text\""
done
sleep 1
shot 02-updates-listed

echo "Step 3: Start Update"
geometry
mark=$(lines)
click "$(page_x)" "$(start_button_y)"
wait_for "System sleep disabled.|Could not disable system sleep." 10 "$mark" \
  || failed "clicking \"Start Update\" started no update"
number=3
for type in 0 1 2 3; do
  name=$(echo "mcu-firmware dsp-firmware styles ensemble-audio" | cut -d' ' -f$((type + 1)))
  wait_for "Sending file type $type at" 90 "$mark" || failed "component type $type was never sent"
  shot "$(printf '%02d' "$number")-installing-$name"
  number=$((number + 1))
  if [ "$type" = 0 ]; then
    wait_for "Forgetting device..." 30 "$mark" || true
    shot "$(printf '%02d' "$number")-waiting-for-reboot"
    number=$((number + 1))
  fi
done

echo "Step 4: the update ends, says so, and nothing is left to update"
wait_for "System sleep re-enabled.|Could not re-enable system sleep." 90 "$mark" \
  || failed "the update did not end"
end=$(grep -nE "System sleep re-enabled\.|Could not re-enable system sleep\." "$log" | tail -n 1 | cut -d: -f1)
wait_for "Found Ensemble Audio:" 30 "$end" || failed "no planning after the update"
wait_for "Update ended: done" 30 "$mark" || failed "the update did not end as done"
sleep 1
shot "$(printf '%02d' "$number")-update-complete"
if awk -v from="$end" 'NR > from && /^New (MCU|DSP\.|Styles\.|Ensemble\.)/ { found = 1 } END { exit !found }' "$log"; then
  failed "components are still offered after the update"
fi
for component in "MCU firmware" "DSP firmware" "Styles" "Ensemble Audio"; do
  grep -q "installed $component: .* version " "$log" || failed "the device did not install its $component"
done

for component in "MCU Firmware" "DSP Firmware" "Styles" "Ensemble Audio"; do
  grep -q "^Verified: $component " "$log" || failed "the updater did not verify the device's $component"
done

echo "Step 5: Help, Update History..."
click 60 $((menu_height / 2))
sleep 0.5
# About, then (past the separator) Update History...
xdotool key Down Down Return
history=""
for _ in $(seq 25); do
  history=$(xdotool search --name "^Update History$" 2>/dev/null | head -n 1 || true)
  [ -n "$history" ] && break
  sleep 0.2
done
[ -n "$history" ] || failed "Help, Update History... opened no window"
sleep 0.5
shot "$(printf '%02d' $((number + 1)))-update-history"
xdotool key Escape
sleep 0.5

echo "Step 6: Advanced, Install MCU Firmware... from a file"
# The Advanced menu shows when File is opened with Control held; its entries go by their letters.
local_dir=$(sed -n 's/.*sample files for the Advanced menu: \(.*\))$/\1/p' "$log" | head -n 1)
[ -f "$local_dir/NewUpdate.bin" ] || failed "the demo named no sample files for the Advanced menu"
geometry
mark=$(lines)
xdotool keydown ctrl
click 20 $((menu_height / 2))
sleep 0.3
xdotool keyup ctrl
sleep 0.3
xdotool key a
sleep 0.3
xdotool key m
chooser=""
for _ in $(seq 25); do
  chooser=$(xdotool search --onlyvisible --name "^Select MCU Firmware$" 2>/dev/null | head -n 1 || true)
  [ -n "$chooser" ] && break
  sleep 0.2
done
[ -n "$chooser" ] || failed "Advanced, Install MCU Firmware... opened no file dialog"
# Keys go to the window under the pointer: there is no window manager to give the dialog focus.
xdotool mousemove --window "$chooser" 100 100
xdotool type --delay 5 "$local_dir/NewUpdate.bin"
xdotool key Return
wait_for "Sending file type 0 at" 30 "$mark" || failed "the local file was never sent"
wait_for "Update ended:" 90 "$mark" || failed "the install from a file did not end"
wait_for "Found Ensemble Audio:" 30 "$mark" || true
sleep 1
shot "$(printf '%02d' $((number + 2)))-local-install"

echo "Step 7: File, Exit"
mark=$(lines)
click 20 $((menu_height / 2))
sleep 0.5
xdotool key x
for _ in $(seq 50); do kill -0 "$demo" 2>/dev/null || break; sleep 0.2; done
if kill -0 "$demo" 2>/dev/null; then
  failed "the window did not close through File, Exit"
fi
wait "$demo" || true
demo=""
echo "Step 8: a device this account may not open"
# A simulator of its own whose device refuses every open, as a node does without the udev rule:
# one box, then a page that names the node and the fix and stays through the retries underneath.
refused=$work/refused
mkdir -p "$refused/config" "$refused/runtime" "$refused/tmp" "$refused/lock"
chmod 700 "$refused/runtime" "$refused/lock"
mkfifo "$refused/commands"
"$build_dir/tools/pelk-devsim" --socket "$refused/bus" --model plus --refuse-open-ms 600000 \
  <"$refused/commands" >"$work/refused-devsim.log" 2>&1 &
extra+=($!)
exec 4>"$refused/commands"   # keeps the simulator's command input open
for _ in $(seq 50); do [ -S "$refused/bus" ] && break; sleep 0.1; done
PELK_INSTANCE_LOCK_DIR=$refused/lock \
  XDG_CONFIG_HOME=$refused/config XDG_RUNTIME_DIR=$refused/runtime TMPDIR=$refused/tmp \
  PELK_HIDSIM_SOCKET=$refused/bus "$build_dir/pelk-updater" >"$work/refused.log" 2>&1 &
alone=$!
extra+=("$alone")
for _ in $(seq 100); do
  window=$(xdotool search --onlyvisible --pid "$alone" 2>/dev/null | while read -r w; do
    eval "$(xdotool getwindowgeometry --shell "$w")"; [ "$WIDTH" -gt 300 ] && echo "$w"; done | head -n 1) || true
  [ -n "$window" ] && break
  sleep 0.2
done
[ -n "$window" ] || failed "the updater of the refused device showed no window"
refusals() { grep -c "Device failure: access to the device denied" "$work/refused.log" || true; }
for _ in $(seq 50); do [ "$(refusals)" -ge 1 ] && break; sleep 0.2; done
[ "$(refusals)" -ge 1 ] || failed "the refused device was never tried"
sleep 1
shot "$(printf '%02d' $((number + 3)))-access-refused-box"
# The box closes with Return (the pointer over it); the page stays while the updater retries.
box=$(xdotool search --onlyvisible --pid "$alone" 2>/dev/null | while read -r w; do
  eval "$(xdotool getwindowgeometry --shell "$w")"; [ "$w" != "$window" ] && [ "$WIDTH" -gt 100 ] && echo "$w"; done | head -n 1) || true
[ -n "$box" ] || failed "no message box for the refused device"
xdotool mousemove --window "$box" 20 20
xdotool key Return
tried=$(refusals)
for _ in $(seq 60); do [ "$(refusals)" -gt "$tried" ] && break; sleep 0.2; done
[ "$(refusals)" -gt "$tried" ] || failed "the refused device was not tried again"
sleep 1
shot "$(printf '%02d' $((number + 4)))-access-refused-page"
kill "$alone" 2>/dev/null || true
wait "$alone" 2>/dev/null || true
exec 4>&-

echo "Walkthrough done: screenshots in $out"
