#!/usr/bin/env bash
# Writes a demo update catalogue into DIR with pelk-catalogue: the manifest (update-manifest.xml),
# component images for the Pelk and the Pelk+ that are newer than the devices run-demo.sh simulates,
# the updater's own packages at its current version (so no updater update is offered), and in
# DIR/local/ sample files for the Advanced menu's "Install ..." actions.
#   scripts/make-demo-catalogue.sh DIR [BASE_URL]
# BASE_URL is where DIR will be served (default http://127.0.0.1:8000); the manifest is then at
# BASE_URL/update-manifest.xml. The tool is taken from $PELK_CATALOGUE, else build/tools/.
# The manifest is signed (update-manifest.xml.sig) with the demo key $PELK_DEMO_KEY, by default
# demo-signing-key beside DIR (never inside it, where it would be served); the key is made when
# missing, and its public half, DEMO_KEY.pub, is what the demo's settings trust.
set -euo pipefail

if [ $# -lt 1 ] || [ $# -gt 2 ]; then
  echo "usage: $0 DIR [BASE_URL]" >&2
  exit 2
fi
dir=$1
base_url=${2:-http://127.0.0.1:8000}
key=${PELK_DEMO_KEY:-$(dirname "$dir")/demo-signing-key}
root=$(cd "$(dirname "$0")/.." && pwd)
tool=${PELK_CATALOGUE:-$root/build/tools/pelk-catalogue}
if [ ! -x "$tool" ]; then
  echo "$0: $tool not found; build it first (cmake --build build --target pelk-catalogue)" >&2
  exit 1
fi

# Versions the catalogue offers. The simulated devices start older: a Pelk+ at MCU 3.0.1, DSP 1.0.2,
# Styles 0x100 and Ensemble 0x10000, a Pelk at MCU 3.0.0, DSP 3.0.0.
mcu=3.2.7
dsp=3.1.2
styles=0x1A2B
ensemble=0x20014
updater=$(bash "$root/scripts/project-version.sh" "$root")
manager=1.4.0
# The local samples are newer still, so that installing one from a file shows on the device.
local_mcu=3.2.8
local_dsp=3.1.3
local_styles=0x1A2C
local_ensemble=0x20015

mkdir -p "$dir"/{base,plus,updater,manager,local}

# image PATH KIND VERSION SIZE: a component image of SIZE bytes carrying the version marker the
# simulated device reads (PELKVER=<version>;). Firmware and data images are raw bytes; a DSP image is
# text, one "0x.." line per byte, as the updater sends it.
image() {
  python3 - "$@" <<'PYTHON'
import sys
path, kind, version, size = sys.argv[1], sys.argv[2], sys.argv[3], int(sys.argv[4])
# The marker comes first: the simulated device looks for it only up to the first zero byte.
data = bytearray(b"PELKVER=%s; QUELLOR PELK %s IMAGE\x00" % (version.encode(), kind.upper().encode()))
state = sum(data) or 1
while len(data) < size:
    # A small linear congruential filler: the same bytes every time, no marker by accident (the
    # filler never produces the letters of "PELKVER").
    state = (state * 1103515245 + 12345) & 0x7FFFFFFF
    data.append((state >> 16) & 0x3F)
data = bytes(data[:size])
if kind == "dsp":
    with open(path, "w") as out:
        out.writelines("0x%02X\n" % b for b in data)
else:
    with open(path, "wb") as out:
        out.write(data)
PYTHON
}

# Sizes: a few seconds per component on a paced simulated device; Styles spans two 64 KiB sectors,
# Ensemble Audio one.
for model in base plus; do
  image "$dir/$model/mcu-$mcu-Update.bin" mcu "$mcu" 32768
  image "$dir/$model/dsp-$dsp.ldr" dsp "$dsp" 8192
  image "$dir/$model/ensemble-${ensemble#0x}.flac" ensemble "$ensemble" 60000
done
image "$dir/plus/styles-${styles#0x}-StyleData.bin" styles "$styles" 100000

# The applications are never sent to a device; small stand-ins do.
for name in "updater/PelkUpdater-$updater-setup.exe" "updater/PelkUpdater-$updater.dmg" \
            "manager/PelkManager-$manager-setup.exe" "manager/PelkManager-$manager.dmg"; do
  printf 'Demo stand-in for %s\n' "$(basename "$name")" >"$dir/$name"
done

image "$dir/local/NewUpdate.bin" mcu "$local_mcu" 32768
image "$dir/local/dsp-$local_dsp.ldr" dsp "$local_dsp" 8192
image "$dir/local/PlusStyleData.bin" styles "$local_styles" 100000
image "$dir/local/ensemble-${local_ensemble#0x}.flac" ensemble "$local_ensemble" 60000
{
  echo "Sample files for the Advanced menu (open the File menu with Control held):"
  printf '  %-27s %-22s %s\n' \
    "Install MCU Firmware..." NewUpdate.bin "MCU $local_mcu" \
    "Install DSP Firmware..." "dsp-$local_dsp.ldr" "DSP $local_dsp" \
    "Install Styles..." PlusStyleData.bin "Styles $local_styles (Pelk+ only)" \
    "Install Ensemble Audio..." "ensemble-${local_ensemble#0x}.flac" "Ensemble Audio $local_ensemble"
} >"$dir/local/README.txt"

[ -f "$key" ] || "$tool" keygen "$key" >/dev/null

"$tool" --base-url "$base_url" --out "$dir/update-manifest.xml" --root "$dir" --sign-key "$key" \
  --component "PELK:MP:$mcu:$dir/base/mcu-$mcu-Update.bin" \
  --component "PELK:DSP:$dsp:$dir/base/dsp-$dsp.ldr" \
  --component "PELK:Ensemble:$ensemble:$dir/base/ensemble-${ensemble#0x}.flac" \
  --component "PELK+:MP:$mcu:$dir/plus/mcu-$mcu-Update.bin" \
  --component "PELK+:DSP:$dsp:$dir/plus/dsp-$dsp.ldr" \
  --component "PELK+:Styles:$styles:$dir/plus/styles-${styles#0x}-StyleData.bin" \
  --component "PELK+:Ensemble:$ensemble:$dir/plus/ensemble-${ensemble#0x}.flac" \
  --component "Pelk Updater:Win:$updater:$dir/updater/PelkUpdater-$updater-setup.exe" \
  --component "Pelk Updater:Mac:$updater:$dir/updater/PelkUpdater-$updater.dmg" \
  --component "Pelk Manager:Win:$manager:$dir/manager/PelkManager-$manager-setup.exe" \
  --component "Pelk Manager:Mac:$manager:$dir/manager/PelkManager-$manager.dmg"
