#!/usr/bin/env bash
# Runs the package's postinst and postrm against a made-up sysfs and udev: where udev runs, the rules
# are reloaded and only the hidraw nodes of a Pelk or Pelk+ are triggered; where it does not (no
# control socket, or a root being built under DPKG_ROOT), nothing is called and the script succeeds.
#   maintscript-test.sh DIR_WITH_POSTINST_AND_POSTRM
set -euo pipefail
scripts=$1
scratch=$(mktemp -d "${TMPDIR:-/tmp}/pelk-maintscript-XXXXXX")
trap 'rm -rf "$scratch"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# hidraw0: a Pelk+ (1210:0043); hidraw1: another vendor's 1211:0043; hidraw2: a Pelk (1210:0042)
# whose product ID sits two levels up, as on a real USB interface.
sys=$scratch/sys
add_node() {
  local node=$1 usb=$2 vendor=$3 product=$4
  mkdir -p "$sys/devices/$usb/intf/hid" "$sys/class/hidraw/$node"
  echo "$vendor" >"$sys/devices/$usb/idVendor"
  echo "$product" >"$sys/devices/$usb/idProduct"
  ln -s "$sys/devices/$usb/intf/hid" "$sys/class/hidraw/$node/device"
}
add_node hidraw0 usb1 1210 0043
add_node hidraw1 usb2 1211 0043
add_node hidraw2 usb3 1210 0042
mkdir -p "$scratch/bin" "$scratch/run"
printf '#!/bin/sh\necho "$*" >>"%s/calls"\n' "$scratch" >"$scratch/bin/udevadm"
chmod +x "$scratch/bin/udevadm"

run() { # script action
  sed -e "s|/sys/class/hidraw|$sys/class/hidraw|g" -e "s|/run/udev/control|$scratch/run/control|g" \
    "$scripts/$1" >"$scratch/$1"
  rm -f "$scratch/calls"
  PATH=$scratch/bin:$PATH sh "$scratch/$1" "$2" || fail "$1 $2 exited with $?"
  cat "$scratch/calls" 2>/dev/null || true
}

calls=$(run postinst configure)
[ -z "$calls" ] || fail "postinst called udevadm without a running udev: $calls"

python3 -c "import socket, sys; socket.socket(socket.AF_UNIX).bind(sys.argv[1])" "$scratch/run/control"
expected="control --reload-rules
trigger --action=change $sys/class/hidraw/hidraw0
trigger --action=change $sys/class/hidraw/hidraw2"
for step in "postinst configure" "postrm remove"; do
  calls=$(run $step)
  [ "$calls" = "$expected" ] || fail "$step called: $calls"
done
calls=$(run postinst abort-upgrade)
[ -z "$calls" ] || fail "postinst abort-upgrade called: $calls"
calls=$(DPKG_ROOT=$scratch/root run postinst configure)
[ -z "$calls" ] || fail "postinst under DPKG_ROOT called: $calls"

if [ "$failures" -ne 0 ]; then
  echo "$failures maintainer script check(s) failed"
  exit 1
fi
echo "maintainer scripts: udev told where it runs, only the family's nodes triggered"
