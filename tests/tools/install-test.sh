#!/usr/bin/env bash
# Installs the build into a scratch DESTDIR under the prefix /usr and checks what a desktop gets:
# the executable, the menu entry (desktop-file-validate), the icon, the AppStream metadata
# (appstreamcli, without the network) under one application id, and the udev rule (udevadm verify
# where this udev has it).
#   install-test.sh BUILD_DIR UDEV_RULES_DIR
set -euo pipefail
build=$1
rules_dir=$2

destdir=$(mktemp -d "${TMPDIR:-/tmp}/pelk-install-XXXXXX")
trap 'rm -rf "$destdir"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

DESTDIR=$destdir cmake --install "$build" --prefix /usr >"$destdir.log" 2>&1 || { cat "$destdir.log"; rm -f "$destdir.log"; exit 1; }
rm -f "$destdir.log"
usr=$destdir/usr

[ -x "$usr/bin/pelk-updater" ] || fail "no executable $usr/bin/pelk-updater"
[ -x "$usr/bin/pelk-cli" ] || fail "no executable $usr/bin/pelk-cli"

app_id=com.quellor.PelkUpdater
desktop=$usr/share/applications/$app_id.desktop
if [ -f "$desktop" ]; then
  # Hints are advice; warnings and errors are not passed over.
  report=$(desktop-file-validate "$desktop" 2>&1) || fail "desktop-file-validate: $report"
  if grep -Eq ': (warning|error):' <<<"$report"; then fail "desktop-file-validate: $report"; fi
  exec_name=$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$desktop")
  [ -x "$usr/bin/$exec_name" ] || fail "Exec=$exec_name is not an installed executable"
  icon_name=$(sed -n 's/^Icon=//p' "$desktop")
  [ "$icon_name" = "$app_id" ] || fail "Icon=$icon_name is not the application id $app_id"
  icon=$usr/share/icons/hicolor/256x256/apps/$icon_name.png
  if [ -f "$icon" ]; then
    # PNG signature, then the IHDR width and height as big-endian 32-bit numbers.
    signature=$(od -An -tx1 -N8 "$icon" | tr -d ' \n')
    size=$(od -An -tu1 -j16 -N8 "$icon" | awk '{ printf "%d %d", $1*16777216+$2*65536+$3*256+$4, $5*16777216+$6*65536+$7*256+$8 }')
    [ "$signature" = 89504e470d0a1a0a ] || fail "$icon is not a PNG"
    [ "$size" = "256 256" ] || fail "$icon is $size pixels, not 256 256"
  else
    fail "Icon=$icon_name: no $icon"
  fi
else
  fail "no desktop entry $desktop"
fi

metainfo=$usr/share/metainfo/$app_id.metainfo.xml
if [ -f "$metainfo" ]; then
  report=$(appstreamcli validate --no-net "$metainfo" 2>&1) || fail "appstreamcli validate: $report"
  grep -q "<id>$app_id</id>" "$metainfo" || fail "the metainfo's id is not $app_id"
  grep -q "<launchable type=\"desktop-id\">$app_id.desktop</launchable>" "$metainfo" \
    || fail "the metainfo does not launch $app_id.desktop"
  for product in 0042 0043; do
    grep -q "<modalias>usb:v1210p${product}d\*</modalias>" "$metainfo" || fail "the metainfo does not provide product $product"
  done
else
  fail "no AppStream metadata $metainfo"
fi

case "$rules_dir" in
  /*) rule=$destdir$rules_dir/70-pelk-updater.rules ;;
  *) rule=$usr/$rules_dir/70-pelk-updater.rules ;;
esac
if [ -f "$rule" ]; then
  for product in 0042 0043; do
    grep -Eq "^SUBSYSTEM==\"hidraw\", ATTRS\{idVendor\}==\"1210\", ATTRS\{idProduct\}==\"$product\", TAG\+=\"uaccess\"\$" "$rule" \
      || fail "the rule does not give the seat's user the hidraw node of product $product"
  done
  # Access goes to the user at the seat only, never to everyone.
  if grep -q 'MODE=' "$rule"; then fail "the rule sets a MODE"; fi
  if udevadm verify --help >/dev/null 2>&1; then
    report=$(udevadm verify "$rule" 2>&1) || fail "udevadm verify: $report"
  else
    echo "udevadm $(udevadm --version 2>/dev/null || echo '(missing)') has no verify command: rule syntax check skipped"
  fi
else
  fail "no udev rule $rule"
fi

# Development tools stay out of a desktop installation.
for tool in pelk-devsim pelk-catalogue; do
  [ ! -e "$usr/bin/$tool" ] || fail "$tool was installed"
done

if [ "$failures" -ne 0 ]; then
  echo "$failures install check(s) failed"
  exit 1
fi
echo "install layout: executable, desktop entry, icon, AppStream metadata and udev rule in place"
