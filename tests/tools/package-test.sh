#!/usr/bin/env bash
# Installs the Debian package into a throw-away root with dpkg, checks that its files land where the
# README says, that the installed updater answers --version and --help without a display, that the
# AppStream metadata and the menu entry validate, then purges it and checks that nothing is left.
#   package-test.sh PACKAGE.deb
set -euo pipefail
deb=$(readlink -f "$1")

root=$(mktemp -d "${TMPDIR:-/tmp}/pelk-package-XXXXXX")
trap 'rm -rf "$root"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# An empty dpkg database. Dependencies are the host's, not the root's; the maintainer scripts run
# outside the root with DPKG_ROOT set, which tells them the running udev is not this system's.
mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates" "$root/var/log"
touch "$root/var/lib/dpkg/status"
dpkg_root=(dpkg --root="$root" --force-depends --force-script-chrootless)
[ "$(id -u)" -eq 0 ] || dpkg_root+=(--force-not-root)

name=$(basename "$deb")
version=$(dpkg-deb -f "$deb" Version)
[[ $name == pelk-updater_${version}_$(dpkg-deb -f "$deb" Architecture).deb ]] || fail "file name $name"
depends=$(dpkg-deb -f "$deb" Depends)
for library in libqt5widgets5 libqt5network5 libhidapi-hidraw0; do
  grep -q "$library" <<<"$depends" || fail "Depends lacks $library: $depends"
done
grep -q udev <<<"$(dpkg-deb -f "$deb" Recommends)" || fail "udev is not recommended"

"${dpkg_root[@]}" -i "$deb" >"$root.log" 2>&1 || { cat "$root.log"; rm -f "$root.log"; exit 1; }
rm -f "$root.log"

installed=$("${dpkg_root[@]}" -L pelk-updater)
for file in /usr/bin/pelk-updater /usr/bin/pelk-cli \
  /usr/share/applications/com.quellor.PelkUpdater.desktop \
  /usr/share/icons/hicolor/256x256/apps/com.quellor.PelkUpdater.png \
  /usr/share/metainfo/com.quellor.PelkUpdater.metainfo.xml \
  /usr/lib/udev/rules.d/70-pelk-updater.rules; do
  grep -qx "$file" <<<"$installed" || fail "the package does not list $file"
  [ -f "$root$file" ] || fail "$file was not installed"
done

cli_version=$(env -u DISPLAY -u WAYLAND_DISPLAY "$root/usr/bin/pelk-cli" --version 2>&1) \
  || fail "installed pelk-cli --version exited with $?"
grep -qxF "pelk-cli $version" <<<"$cli_version" || fail "installed pelk-cli --version said: $cli_version"
updater=$root/usr/bin/pelk-updater
output=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$updater" --version 2>&1) \
  || fail "installed pelk-updater --version exited with $?"
[ "$output" = "Pelk Updater $version" ] || fail "installed pelk-updater --version printed: $output"
output=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$updater" --help 2>&1) \
  || fail "installed pelk-updater --help exited with $?"
grep -q -- '--version' <<<"$output" || fail "installed pelk-updater --help printed: $output"

report=$(appstreamcli validate --no-net "$root/usr/share/metainfo/com.quellor.PelkUpdater.metainfo.xml" 2>&1) \
  || fail "appstreamcli validate: $report"
report=$(desktop-file-validate "$root/usr/share/applications/com.quellor.PelkUpdater.desktop" 2>&1) \
  || fail "desktop-file-validate: $report"

"${dpkg_root[@]}" -P pelk-updater >/dev/null 2>&1 || fail "dpkg --purge failed"
# Only dpkg's own records may remain.
left=$(cd "$root" && find . -mindepth 1 -not -path './var' -not -path './var/lib' -not -path './var/log' \
  -not -path './var/log/dpkg.log' -not -path './var/lib/dpkg' -not -path './var/lib/dpkg/*')
[ -z "$left" ] || fail "left behind after purge: $left"
if "${dpkg_root[@]}" -s pelk-updater >/dev/null 2>&1; then fail "dpkg still knows pelk-updater"; fi

if [ "$failures" -ne 0 ]; then
  echo "$failures package check(s) failed"
  exit 1
fi
echo "package $name: $(wc -l <<<"$installed") paths installed, --version and --help answered, metadata valid, purged clean"
