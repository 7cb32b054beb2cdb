#!/usr/bin/env bash
# Runs accessibility_check.py on a virtual screen and a session bus of its own, so that neither the
# caller's display nor its accessibility bus is touched. Exit code 77 (skipped) where the tools are
# missing, unless CI is set.
#   tests/ui/accessibility-check.sh        (PELK_BUILD_DIR: the build, default build/)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
skip() {
  case "${CI:-}" in
    '' | 0 | false) echo "Skipped: $*"; exit 77 ;;
  esac
  echo "The accessibility check cannot run, and CI needs it: $*" >&2
  exit 1
}
for tool in Xvfb dbus-run-session dbus-send python3; do
  command -v "$tool" >/dev/null || skip "$tool is missing: bash scripts/install-deps.sh"
done
[ -x /usr/libexec/at-spi-bus-launcher ] || [ -n "$(command -v at-spi-bus-launcher)" ] \
  || skip "at-spi2-core is missing: bash scripts/install-deps.sh"

display=""
for number in $(seq 130 160); do
  if [ ! -e "/tmp/.X11-unix/X$number" ] && [ ! -e "/tmp/.X$number-lock" ]; then display=:$number; break; fi
done
[ -n "$display" ] || skip "no free X display number"
Xvfb "$display" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
trap 'kill "$xvfb" 2>/dev/null || true; wait "$xvfb" 2>/dev/null || true' EXIT
export DISPLAY=$display
unset WAYLAND_DISPLAY QT_QPA_PLATFORM DBUS_SESSION_BUS_ADDRESS AT_SPI_BUS_ADDRESS
for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X${display#:}" ] && break; sleep 0.1; done
[ -e "/tmp/.X11-unix/X${display#:}" ] || skip "Xvfb did not start on $display"

# Debian's own interpreter: the bindings are Debian packages, which another python3 on PATH lacks.
python=/usr/bin/python3
[ -x "$python" ] || python=$(command -v python3)
status=0
timeout 90 dbus-run-session -- "$python" "$here/accessibility_check.py" || status=$?
exit "$status"
