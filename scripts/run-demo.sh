#!/usr/bin/env bash
# Installs what is needed, builds, and runs Pelk Updater against a simulated Pelk+ on the virtual
# HID bus and a demo update catalogue served on 127.0.0.1. Settings and temporary files live in a
# scratch directory; the user's own are never touched. The catalogue server and the simulator stop
# when the updater's window closes, however it closes.
#   scripts/run-demo.sh [--base] [--two] [--fast] [--no-build]
# PELK_BUILD_DIR names another build directory than build/.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build_dir=${PELK_BUILD_DIR:-build}
case "$build_dir" in /*) ;; *) build_dir=$root/$build_dir ;; esac

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
  cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  cmake --build "$build_dir" -j "$(nproc)" --target pelk-updater pelk-devsim pelk-catalogue
fi

scratch=$(mktemp -d /tmp/pelk-demo-XXXXXX)
chmod 700 "$scratch"
mkdir -p "$scratch"/{config,data,runtime,tmp}
chmod 700 "$scratch/runtime"
pids=()
cleanup() {
  trap - EXIT INT TERM HUP
  # Newest first: the updater, then Xvfb, the catalogue server and the simulator.
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do kill "${pids[i]}" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$scratch"
}
trap cleanup EXIT
trap 'exit 129' HUP
trap 'exit 130' INT
trap 'exit 143' TERM

# The update history and the log file of the demo stay with its settings, apart from the user's own.
export XDG_CONFIG_HOME=$scratch/config XDG_DATA_HOME=$scratch/data XDG_RUNTIME_DIR=$scratch/runtime TMPDIR=$scratch/tmp
export PELK_HIDSIM_SOCKET=$scratch/hidbus

# The catalogue on a free port of the loopback interface. The port is chosen before the catalogue is
# written (its URLs name it); should another program take it meanwhile, the next one is tried.
free_port() {
  python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}
listening() { (exec 9<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }
port=""
for _ in 1 2 3 4 5; do
  candidate=$(free_port)
  rm -rf "$scratch/catalogue"
  PELK_CATALOGUE=${PELK_CATALOGUE:-$build_dir/tools/pelk-catalogue} \
    bash scripts/make-demo-catalogue.sh "$scratch/catalogue" "http://127.0.0.1:$candidate" >/dev/null
  python3 -m http.server --bind 127.0.0.1 --directory "$scratch/catalogue" "$candidate" \
    > >(sed -u 's/^/[server] /') 2>&1 &
  server=$!
  for _ in $(seq 50); do
    listening "$candidate" && break
    kill -0 "$server" 2>/dev/null || break
    sleep 0.1
  done
  if listening "$candidate"; then
    pids+=("$server"); port=$candidate
    break
  fi
  kill "$server" 2>/dev/null || true
done
if [ -z "$port" ]; then
  echo "Could not start the catalogue server on 127.0.0.1." >&2
  exit 1
fi
manifest_url="http://127.0.0.1:$port/update-manifest.xml"
echo "Demo catalogue: $manifest_url (sample files for the Advanced menu: $scratch/catalogue/local)"

# The updater's settings, as its configuration manager keeps them: the layout version, so that the
# store is not cleared at start, and the manifest URL; and the demo catalogue's signing key, so that
# the demo's catalogue is verified.
mkdir -p "$XDG_CONFIG_HOME/Quellor"
cat >"$XDG_CONFIG_HOME/Quellor/Pelk Updater.conf" <<EOF
[General]
version=1

[update]
manifest-url=$manifest_url
trusted-keys=$(cat "$scratch/demo-signing-key.pub")
EOF

# An outdated device: every component older than the demo catalogue's.
devsim_args=(--model "$model" --mcu 3.0.1 --dsp 1.0.2 --ensemble 0x10000 --reboot-ms 4000 "$paced")
[ "$model" = plus ] && devsim_args+=(--styles 0x100)
[ "$two" = 1 ] && devsim_args+=(--add-device --model base --mcu 3.0.0 --dsp 3.0.0 "$paced")
mkfifo "$scratch/devsim-commands"
"$build_dir/tools/pelk-devsim" "${devsim_args[@]}" <"$scratch/devsim-commands" \
  > >(sed -u 's/^/[device] /') 2>&1 &
pids+=($!)
exec 3>"$scratch/devsim-commands"   # keeps the simulator's command input open
for _ in $(seq 50); do [ -S "$PELK_HIDSIM_SOCKET" ] && break; sleep 0.1; done

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "No display found: running the updater under Xvfb (virtual screen :${PELK_XVFB_DISPLAY:-99})."
  Xvfb ":${PELK_XVFB_DISPLAY:-99}" -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
  pids+=($!)
  export DISPLAY=":${PELK_XVFB_DISPLAY:-99}"
  sleep 1
fi
# In the background, so that a signal to this script is handled at once (a foreground child would
# delay the trap until it exits) and the clean-up can stop the updater too.
"$build_dir/pelk-updater" &
updater=$!
pids+=("$updater")
status=0
wait "$updater" || status=$?
exit "$status"
