#!/usr/bin/env bash
# Makes what a Windows build needs on this Debian machine, once: the mingw-w64 compilers, Wine and
# NSIS from Debian, and hidapi, libsodium, libarchive and Qt cross-built for 64-bit Windows from Debian's own
# source packages, into a cache folder named after their versions (Qt's Windows platform plug-in too,
# when the Qt there came without it).
#   scripts/windows-toolchain.sh           prints the folder (last line of its output) when done
# PELK_WINDOWS_CACHE   where the folders are kept (default ~/.cache/pelk-windows)
# PELK_QT_ARCHIVE      a prebuilt qt5-mingw archive to unpack instead of building Qt, used only when
#                      its sha256 is the one below; looked for in shared/toolchains beside the tree
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$PWD

triplet=x86_64-w64-mingw32
qt_version=5.15.8
qt_archive_sha256=89b4d216dceb0e59b50b516421611479d6e3a570917629faa83cd65884089572

step_started=0
step() { step_started=$(date +%s); echo "== $1"; }
step_done() { echo "   $1: $(( $(date +%s) - step_started )) s"; }

export DEBIAN_FRONTEND=noninteractive
sudo=""
[ "$(id -u)" = 0 ] || sudo=sudo

step "Debian packages"
packages=(g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix mingw-w64-tools wine wine64 nsis dpkg-dev
  cmake ninja-build make autoconf automake libtool pkg-config xz-utils perl python3)
missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
done
if [ ${#missing[@]} -gt 0 ]; then
  # A mirror caught syncing fails one index now and then: the others are still read, and an
  # install that needed the missing one fails below, with its name.
  $sudo apt-get update -qq || echo "   warning: apt-get update could not read every index" >&2
  $sudo apt-get install -y -qq "${missing[@]}" >/dev/null
fi
# The source packages come from the same archive as the binary ones: a deb-src entry for each
# suite the machine already uses, added once.
if ! apt-get indextargets --format '$(CREATED_BY)' 2>/dev/null | grep -q '^Sources$'; then
  sources=/etc/apt/sources.list.d/pelk-deb-src.sources
  for list in /etc/apt/sources.list.d/debian.sources; do
    [ -f "$list" ] || continue
    sed -n '/^Types:/,/^$/p' "$list" | sed 's/^Types: .*/Types: deb-src/' | $sudo tee "$sources" >/dev/null
  done
  if [ ! -s "$sources" ] 2>/dev/null; then
    . /etc/os-release
    printf 'Types: deb-src\nURIs: http://deb.debian.org/debian\nSuites: %s %s-updates\nComponents: main\nSigned-By: /usr/share/keyrings/debian-archive-keyring.gpg\n\nTypes: deb-src\nURIs: http://deb.debian.org/debian-security\nSuites: %s-security\nComponents: main\nSigned-By: /usr/share/keyrings/debian-archive-keyring.gpg\n' \
      "$VERSION_CODENAME" "$VERSION_CODENAME" "$VERSION_CODENAME" | $sudo tee "$sources" >/dev/null
  fi
  $sudo apt-get update -qq || echo "   warning: apt-get update could not read every index" >&2
fi
step_done packages

source_version() {
  apt-cache showsrc --only-source "$1" 2>/dev/null | sed -n 's/^Version: //p' | sort -V | tail -n1
}
hidapi_version=$(source_version hidapi)
sodium_version=$(source_version libsodium)
archive_version=$(source_version libarchive)
qtbase_version=$(source_version qtbase-opensource-src)
[ -n "$hidapi_version" ] && [ -n "$sodium_version" ] && [ -n "$archive_version" ] \
  || { echo "no source packages of hidapi, libsodium or libarchive" >&2; exit 1; }

cache_root=${PELK_WINDOWS_CACHE:-$HOME/.cache/pelk-windows}
prefix=$cache_root/hidapi-${hidapi_version%%[-+]*}_sodium-${sodium_version%%[-+]*}_archive-${archive_version%%[-+]*}_qt-$qt_version
mkdir -p "$prefix"
work=$cache_root/src
mkdir -p "$work"
jobs=${PELK_JOBS:-2}

# Fetches and unpacks a source package once; prints its folder.
fetch_source() {
  local name=$1 version=$2 folder
  folder=$work/$name-$version
  if [ ! -d "$folder" ]; then
    rm -rf "$folder.tmp" && mkdir -p "$folder.tmp"
    (cd "$folder.tmp" && apt-get source -qq "$name=$version" >/dev/null 2>&1)
    mv "$(find "$folder.tmp" -mindepth 1 -maxdepth 1 -type d | head -n1)" "$folder"
    rm -rf "$folder.tmp"
  fi
  echo "$folder"
}

toolchain_file=$repo/cmake/mingw-w64.cmake

step "hidapi $hidapi_version"
if [ ! -f "$prefix/hidapi/.done" ]; then
  source_dir=$(fetch_source hidapi "$hidapi_version")
  rm -rf "$work/build-hidapi"
  # hidapi's Windows backend only: the HID class driver through SetupAPI and hid.dll.
  cmake -S "$source_dir" -B "$work/build-hidapi" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain_file" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix/hidapi" -DBUILD_SHARED_LIBS=ON \
    -DHIDAPI_WITH_TESTS=OFF -DHIDAPI_BUILD_HIDTEST=OFF >/dev/null
  cmake --build "$work/build-hidapi" -j "$jobs" >/dev/null
  cmake --install "$work/build-hidapi" >/dev/null
  touch "$prefix/hidapi/.done"
fi
step_done hidapi

step "libsodium $sodium_version"
if [ ! -f "$prefix/libsodium/.done" ]; then
  source_dir=$(fetch_source libsodium "$sodium_version")
  # Debian's source keeps only configure.ac: the script is made here.
  [ -x "$source_dir/configure" ] || (cd "$source_dir" && autoreconf -fi >/dev/null 2>&1)
  rm -rf "$work/build-sodium" && mkdir -p "$work/build-sodium"
  (cd "$work/build-sodium" && "$source_dir/configure" --host=$triplet --prefix="$prefix/libsodium" \
      --disable-static --enable-shared CC=$triplet-gcc-posix >/dev/null \
    && make -j "$jobs" >/dev/null && make install >/dev/null)
  touch "$prefix/libsodium/.done"
fi
step_done libsodium
step "libarchive $archive_version"
if [ ! -f "$prefix/libarchive/.done" ]; then
  source_dir=$(fetch_source libarchive "$archive_version")
  rm -rf "$work/build-archive"
  # The library alone, reading and writing tar with no compression and no optional library: an
  # update bundle for Windows is a plain tar.
  off=()
  for feature in TEST TAR CPIO CAT OPENSSL MBEDTLS NETTLE LIBB2 LZ4 LZO LZMA ZSTD ZLIB BZip2 LIBXML2 \
    EXPAT PCREPOSIX CNG ICONV ACL XATTR; do
    off+=("-DENABLE_$feature=OFF")
  done
  cmake -S "$source_dir" -B "$work/build-archive" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain_file" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix/libarchive" "${off[@]}" >/dev/null
  cmake --build "$work/build-archive" -j "$jobs" --target archive >/dev/null
  mkdir -p "$prefix/libarchive/bin" "$prefix/libarchive/lib" "$prefix/libarchive/include"
  cp "$work/build-archive/bin/libarchive.dll" "$prefix/libarchive/bin/"
  cp "$work/build-archive/libarchive/libarchive.dll.a" "$prefix/libarchive/lib/"
  cp "$source_dir/libarchive/archive.h" "$source_dir/libarchive/archive_entry.h" "$prefix/libarchive/include/"
  touch "$prefix/libarchive/.done"
fi
step_done libarchive

step "Qt $qt_version"
if [ ! -f "$prefix/qt5-mingw/.done" ]; then
  archive=${PELK_QT_ARCHIVE:-}
  if [ -z "$archive" ]; then
    for candidate in "$repo/../shared/toolchains" /work/shared/toolchains; do
      [ -f "$candidate/qt5.15.8-mingw-w64.tar.xz" ] && { archive=$candidate/qt5.15.8-mingw-w64.tar.xz; break; }
    done
  fi
  if [ -n "$archive" ] && [ "${qtbase_version%%[-+]*}" = "$qt_version" ] \
    && echo "$qt_archive_sha256  $archive" | sha256sum -c --status; then
    echo "   unpacking $archive"
    rm -rf "$prefix/qt5-mingw"
    tar -xJf "$archive" -C "$prefix"
  else
    # Built from Debian's qtbase source: about half an hour on two cores.
    echo "   building Qt from qtbase-opensource-src $qtbase_version"
    source_dir=$(fetch_source qtbase-opensource-src "$qtbase_version")
    # Schannel links -lSecur32 -lCrypt32; mingw-w64's import libraries are lower case.
    libs=$work/qt-libs && mkdir -p "$libs"
    for lib in Secur32 Crypt32; do
      ln -sf "/usr/$triplet/lib/lib${lib,,}.a" "$libs/lib$lib.a"
    done
    rm -rf "$work/build-qt" && mkdir -p "$work/build-qt"
    (cd "$work/build-qt" && "$source_dir/configure" -prefix "$prefix/qt5-mingw" -xplatform win32-g++ \
        -device-option CROSS_COMPILE=$triplet- -opensource -confirm-license -release -shared \
        -nomake examples -nomake tests -no-opengl -no-dbus -no-icu -qt-zlib -qt-pcre -qt-libpng \
        -qt-libjpeg -qt-freetype -qt-harfbuzz -schannel -no-openssl -no-sql-sqlite -no-sql-odbc \
        -no-feature-tabletevent -L "$libs" >/dev/null \
      && make -j "$jobs" >/dev/null && make install >/dev/null)
  fi
  # Qt's CMake files insist that qmake exists, though a CMake build never runs it; an archive
  # without it gets a stand-in that says so.
  if [ ! -e "$prefix/qt5-mingw/bin/qmake" ]; then
    printf '#!/bin/sh\necho "qmake is not part of this Qt; build with CMake" >&2\nexit 1\n' >"$prefix/qt5-mingw/bin/qmake"
    chmod +x "$prefix/qt5-mingw/bin/qmake"
  fi
  # The same for the win32-g++ mkspec its CMake files name as an include folder: Debian's Qt of
  # the same version ships it.
  if [ ! -d "$prefix/qt5-mingw/mkspecs/win32-g++" ]; then
    host_specs=$(qmake -query QT_HOST_DATA 2>/dev/null || echo /usr/lib/x86_64-linux-gnu/qt5)/mkspecs
    [ -d "$host_specs/win32-g++" ] || host_specs=/usr/lib/x86_64-linux-gnu/qt5/mkspecs
    cp -r "$host_specs/win32-g++" "$prefix/qt5-mingw/mkspecs/"
    [ -d "$prefix/qt5-mingw/mkspecs/common" ] || cp -r "$host_specs/common" "$prefix/qt5-mingw/mkspecs/"
  fi
  touch "$prefix/qt5-mingw/.done"
fi
step_done Qt

# Each Qt DLL must find in Qt5Gui.dll every name it takes from it. A Qt5Widgets.dll built for
# another configuration than Qt5Gui.dll (the prebuilt archive's: tablet events on in it, off in Gui
# and the headers) runs on the offscreen platform, but its widgets' tables of virtual functions are
# not the ones the headers describe, and the window dies on Windows' first native event. It is
# made again from the same qtbase source, configured as the archive was, against the cached
# Core and Gui: Qt's own Makefile for src/widgets alone.
gui_names_missing() { # DLL: the names it imports from Qt5Gui.dll that Qt5Gui.dll does not export
  local objdump=$triplet-objdump
  comm -23 \
    <("$objdump" -p "$1" | awk '/DLL Name:/ { gui = ($3 == "Qt5Gui.dll") } gui && /^\t+[0-9a-f]+\t +[0-9]+ / { print $3 }' | sort -u) \
    <("$objdump" -p "$prefix/qt5-mingw/bin/Qt5Gui.dll" | awk '/^\t+\[ *[0-9]+\]/ { print $NF }' | sort -u)
}
step "Qt Widgets against this Qt's Gui"
if [ -n "$(gui_names_missing "$prefix/qt5-mingw/bin/Qt5Widgets.dll")" ]; then
  echo "   Qt5Widgets.dll takes from Qt5Gui.dll what it lacks: $(gui_names_missing "$prefix/qt5-mingw/bin/Qt5Widgets.dll" | head -n3 | tr '\n' ' ')"
  [ "${qtbase_version%%[-+]*}" = "$qt_version" ] \
    || { echo "qtbase-opensource-src is $qtbase_version, not Qt $qt_version: no matching Widgets source" >&2; exit 1; }
  source_dir=$(fetch_source qtbase-opensource-src "$qtbase_version")
  libs=$work/qt-libs && mkdir -p "$libs"
  for lib in Secur32 Crypt32; do
    ln -sf "/usr/$triplet/lib/lib${lib,,}.a" "$libs/lib$lib.a"
  done
  # The archive's configure line; a tree already configured with it (a run cut short) goes on.
  options=(-prefix "$prefix/qt5-mingw" -xplatform win32-g++ -device-option CROSS_COMPILE=$triplet- -opensource
    -confirm-license -release -shared -nomake examples -nomake tests -no-opengl -no-dbus -no-icu -qt-zlib
    -qt-pcre -qt-libpng -qt-libjpeg -qt-freetype -qt-harfbuzz -schannel -no-openssl -no-sql-sqlite
    -no-sql-odbc -no-feature-tabletevent -L "$libs")
  tree=$work/build-qtwidgets
  if [ "$(cat "$tree/pelk-configure" 2>/dev/null)" != "$source_dir ${options[*]}" ] || [ ! -f "$tree/src/widgets/Makefile" ]; then
    rm -rf "$tree" && mkdir -p "$tree"
    (cd "$tree" && "$source_dir/configure" "${options[@]}" >/dev/null && make sub-src-qmake_all >/dev/null)
    echo "$source_dir ${options[*]}" >"$tree/pelk-configure"
  fi
  # Built against the headers the cache holds: the configuration must be theirs.
  for header in corelib:QtCore/qtcore-config.h gui:QtGui/qtgui-config.h widgets:QtWidgets/qtwidgets-config.h; do
    cmp -s "$tree/src/${header%%:*}/$(basename "$header")" "$prefix/qt5-mingw/include/${header#*:}" \
      || { echo "the configured ${header#*:} differs from the cached Qt's" >&2; exit 1; }
  done
  # The cached Qt's host tools and its Core and Gui stand in for the ones a whole build would make.
  mkdir -p "$tree/lib"
  cp -p "$prefix/qt5-mingw/bin/moc" "$prefix/qt5-mingw/bin/uic" "$prefix/qt5-mingw/bin/rcc" "$tree/bin/"
  cp -p "$prefix/qt5-mingw/lib/libQt5Core.a" "$prefix/qt5-mingw/lib/libQt5Gui.a" "$prefix/qt5-mingw/lib/Qt5Core.prl" \
    "$prefix/qt5-mingw/lib/Qt5Gui.prl" "$tree/lib/"
  make -C "$tree/src/widgets" -j "$jobs" release >"$tree/make.log" 2>&1 || { tail -n 20 "$tree/make.log" >&2; exit 1; }
  cp "$tree/lib/Qt5Widgets.dll" "$prefix/qt5-mingw/bin/"
  cp "$tree/lib/libQt5Widgets.a" "$prefix/qt5-mingw/lib/"
  [ -z "$(gui_names_missing "$prefix/qt5-mingw/bin/Qt5Widgets.dll")" ] \
    || { echo "the rebuilt Qt5Widgets.dll still takes names Qt5Gui.dll lacks" >&2; exit 1; }
fi
step_done "Qt Widgets"

# A Qt without its Windows platform plug-in (the prebuilt archive has only the offscreen and
# minimal ones) runs everything here but opens no window on a Windows desktop: the plug-in is built
# from the same qtbase source against it (cmake/qwindows), once, into its plugins/platforms/.
step "Qt's Windows platform plug-in"
if [ ! -f "$prefix/qt5-mingw/plugins/platforms/qwindows.dll" ]; then
  [ "${qtbase_version%%[-+]*}" = "$qt_version" ] \
    || { echo "qtbase-opensource-src is $qtbase_version, not Qt $qt_version: no matching plug-in source" >&2; exit 1; }
  source_dir=$(fetch_source qtbase-opensource-src "$qtbase_version")
  launcher=()
  command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
  rm -rf "$work/build-qwindows"
  # Qt's CMake files insist on the DLL of each plug-in file they find: one left by an earlier
  # build whose DLL is gone would stop the configuring.
  rm -f "$prefix/qt5-mingw/lib/cmake/Qt5Gui/Qt5Gui_QWindowsIntegrationPlugin.cmake"
  cmake -S "$repo/cmake/qwindows" -B "$work/build-qwindows" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain_file" \
    -DCMAKE_BUILD_TYPE=Release -DPELK_WINDOWS_PREFIX="$prefix" -DQTBASE_SOURCE_DIR="$source_dir" \
    "${launcher[@]}" >/dev/null
  cmake --build "$work/build-qwindows" -j "$jobs" >/dev/null
  cmake --install "$work/build-qwindows" --strip --prefix "$prefix/qt5-mingw" >/dev/null
fi
step_done "Windows platform plug-in"

echo "$prefix"
