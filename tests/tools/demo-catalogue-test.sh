#!/usr/bin/env bash
# Writes the demo catalogue and checks what the demo relies on: the updater reads the manifest, every
# device image carries its version marker where the simulated device finds it (before any zero
# byte), DSP images are "0x.." lines, the Styles and Ensemble Audio images fit in two sectors, and the
# local samples have the endings the Advanced menu accepts.
#   demo-catalogue-test.sh SOURCE_DIR PELK_CATALOGUE
set -euo pipefail
source_dir=$1
tool=$2
work=$(mktemp -d "${TMPDIR:-/tmp}/pelk-demo-catalogue-XXXXXX")
trap 'rm -rf "$work"' EXIT
# The demo key is made beside the catalogue, never inside it.
dir=$work/catalogue
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

PELK_CATALOGUE=$tool bash "$source_dir/scripts/make-demo-catalogue.sh" "$dir" http://127.0.0.1:8123 >/dev/null
listing=$("$tool" --check "$dir/update-manifest.xml" --public-key "$work/demo-signing-key.pub")
[ -f "$dir/update-manifest.xml.sig" ] || fail "the demo catalogue is not signed"
[ "$(stat -c %a "$work/demo-signing-key")" = 600 ] || fail "the demo's secret key is not mode 600"
[ "$(wc -l <<<"$listing")" = 11 ] || fail "the manifest lists $(wc -l <<<"$listing") components, not 11"

# The first PELKVER marker of a file, read as the device reads the bytes it receives.
marker() {
  python3 - "$1" <<'PYTHON'
import re, sys
path = sys.argv[1]
data = open(path, "rb").read()
if path.endswith(".ldr"):
    lines = data.decode("ascii").splitlines()
    if not all(re.fullmatch(r"0x[0-9A-Fa-f]{2}", line) for line in lines):
        sys.exit("not one 0x.. byte per line")
    data = bytes(int(line, 16) for line in lines)
visible = data.split(b"\0", 1)[0]
match = re.search(rb"PELKVER=([0-9A-Za-z.]{1,16});", visible)
print(match.group(1).decode() if match else "")
PYTHON
}

# Every device component of the manifest: its image is served below the catalogue and names the
# manifest's version.
while IFS=$'\t' read -r product type version _ url; do
  case "$type" in MP|DSP|Styles|Ensemble) ;; *) continue ;; esac
  file=$dir/${url#http://127.0.0.1:8123/}
  [ -f "$file" ] || { fail "$product $type: $url is not in the catalogue"; continue; }
  found=$(marker "$file") || { fail "$product $type: $file: $found"; continue; }
  [ "$found" = "$version" ] || fail "$product $type $version: the image says '$found'"
  case "$type" in
    Styles|Ensemble) [ "$(stat -c %s "$file")" -le 131072 ] || fail "$product $type: more than two sectors" ;;
  esac
done <<<"$listing"

# Newer than the devices run-demo.sh starts, so that everything is offered.
grep -q $'^PELK+\tMP\t3.2.7\t' <<<"$listing" || fail "no Pelk+ MCU firmware 3.2.7"
grep -q $'^PELK\tEnsemble\t0x20014\t' <<<"$listing" || fail "no Pelk Ensemble Audio 0x20014"
own=$(bash "$source_dir/scripts/project-version.sh" "$source_dir")
grep -q $'^Pelk Updater\tWin\t'"${own//./\\.}"$'\t' <<<"$listing" || fail "the updater is not listed at its own version $own"

for sample in NewUpdate.bin:Update.bin dsp-3.1.3.ldr:.ldr PlusStyleData.bin:StyleData.bin ensemble-20015.flac:.flac; do
  file=$dir/local/${sample%%:*}
  [ -f "$file" ] || { fail "no local sample $file"; continue; }
  [[ "$file" == *"${sample#*:}" ]] || fail "$file does not end in ${sample#*:}"
  [ -n "$(marker "$file")" ] || fail "$file has no version marker"
done

if [ "$failures" -ne 0 ]; then
  echo "$failures demo catalogue check(s) failed"
  exit 1
fi
echo "demo catalogue: 11 components, images marked with their versions, local samples in place"
