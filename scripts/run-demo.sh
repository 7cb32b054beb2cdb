#!/usr/bin/env bash
# Installs what is needed, builds, and runs Pelk Updater against a simulated Pelk+ on the virtual
# HID bus. Settings and temporary files live in a scratch directory; the user's own are never touched.
#   scripts/run-demo.sh [--base] [--two] [--fast] [--no-build]
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

model=plus; two=0; paced=--paced; build=1
for argument in "$@"; do
  case "$argument" in
    --base) model=base ;;
    --two) two=1 ;;
    --fast) paced=--fast ;;
    --no-build) build=0 ;;
    *) echo "usage: $0 [--base] [--two] [--fast] [--no-build]" >&2; exit 2 ;;
  esac
done

if [ "$build" = 1 ]; then
  bash scripts/install-deps.sh
  cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  cmake --build build -j "$(nproc)" --target pelk-updater pelk-devsim
fi

scratch=$(mktemp -d /tmp/pelk-demo-XXXXXX)
chmod 700 "$scratch"
mkdir -p "$scratch"/{config,runtime,tmp}
chmod 700 "$scratch/runtime"
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$scratch"
}
trap cleanup EXIT INT TERM HUP

export XDG_CONFIG_HOME=$scratch/config XDG_RUNTIME_DIR=$scratch/runtime TMPDIR=$scratch/tmp
export PELK_HIDSIM_SOCKET=$scratch/hidbus

# An outdated device: every component older than the demo catalogue's.
devsim_args=(--model "$model" --mcu 3.0.1 --dsp 1.0.2 --ensemble 0x10000 --reboot-ms 4000 "$paced")
[ "$model" = plus ] && devsim_args+=(--styles 0x100)
[ "$two" = 1 ] && devsim_args+=(--add-device --model base --mcu 3.0.0 --dsp 3.0.0 "$paced")
mkfifo "$scratch/devsim-commands"
"$root/build/tools/pelk-devsim" "${devsim_args[@]}" <"$scratch/devsim-commands" | sed -u 's/^/[device] /' &
pids+=($!)
exec 3>"$scratch/devsim-commands"   # keeps the simulator's command input open
for _ in $(seq 50); do [ -S "$PELK_HIDSIM_SOCKET" ] && break; sleep 0.1; done

run_updater() { "$root/build/pelk-updater" "$@"; }
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "No display found: running the updater under Xvfb (virtual screen :${PELK_XVFB_DISPLAY:-99})."
  Xvfb ":${PELK_XVFB_DISPLAY:-99}" -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
  pids+=($!)
  export DISPLAY=":${PELK_XVFB_DISPLAY:-99}"
  sleep 1
fi
run_updater
