#!/usr/bin/env bash
# Installs what building, running and testing Pelk Updater need on Debian 12.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config git
  qtbase5-dev qtbase5-dev-tools libqt5svg5-dev libhidapi-dev
  ca-certificates python3
  xvfb xauth xdotool x11-apps imagemagick
  dbus python3-dbusmock
  desktop-file-utils appstream udev clang-format clang-tidy ccache
  dpkg-dev file
  clang libclang-rt-14-dev
  libsodium-dev libarchive-dev
  strace
  umockdev libumockdev-dev gir1.2-umockdev-1.0
  at-spi2-core python3-dbus dbus-bin
)

missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
done
if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

sudo=""
if [ "$(id -u)" -ne 0 ]; then
  command -v sudo >/dev/null || { echo "Please run as root or install sudo: missing ${missing[*]}" >&2; exit 1; }
  sudo=sudo
fi
echo "Installing: ${missing[*]}"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
