#!/usr/bin/env bash
# Builds Qt 6.4.2 for Windows (x86_64, mingw-w64, shared) from source, as the prebuilt archive
# was built: qtbase from Debian bookworm's qt6-base source package, Qt Serial Port from its
# release archive. About 25 minutes on two cores.
#   build-qt-windows.sh PREFIX_PARENT    installs into PREFIX_PARENT/qt-6.4.2-mingw-w64-x86_64
# Sources are looked for in NORVAK_QT_SOURCES (default: ../shared/windows beside the clone):
#   qt6-base_6.4.2+dfsg.orig.tar.xz (fetched with apt-get source --download-only qt6-base when
#   missing; needs a deb-src entry for bookworm) and qtserialport-everywhere-src-6.4.2.tar.xz.
# Needs: g++-mingw-w64-x86-64, qt6-base-dev, qt6-base-dev-tools, cmake, ninja-build.
set -euo pipefail

repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
parent="$(realpath -m "${1:?usage: build-qt-windows.sh PREFIX_PARENT}")"
prefix="$parent/qt-6.4.2-mingw-w64-x86_64"
sources="${NORVAK_QT_SOURCES:-$(dirname "$repo")/shared/windows}"
work="$parent/qt-build"
mkdir -p "$work" "$prefix"

base="$sources/qt6-base_6.4.2+dfsg.orig.tar.xz"
if [[ ! -f "$base" ]]; then
    (cd "$work" && apt-get source --download-only qt6-base=6.4.2+dfsg-10)
    base="$work/qt6-base_6.4.2+dfsg.orig.tar.xz"
fi
serial="$sources/qtserialport-everywhere-src-6.4.2.tar.xz"
[[ -f "$serial" ]] || { echo "missing $serial" >&2; exit 2; }

# The compilers alone: qtbase is built before there is a Qt to point at.
cat >"$work/qt-toolchain.cmake" <<'CMAKE'
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
CMAKE
tar xf "$base" -C "$work"
tar xf "$serial" -C "$work"

# qtbase: only what the programs use. tabletevent is off: Debian's source has no wintab.
mkdir -p "$work/build-qtbase"
(cd "$work/build-qtbase" &&
    cmake "$work/qtbase-everywhere-src-6.4.2" -G Ninja \
        -DCMAKE_TOOLCHAIN_FILE="$work/qt-toolchain.cmake" \
        -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
        -DCMAKE_INSTALL_PREFIX="$prefix" -DCMAKE_BUILD_TYPE=Release -DBUILD_SHARED_LIBS=ON \
        -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF -DFEATURE_sql=OFF -DFEATURE_network=OFF \
        -DFEATURE_dbus=OFF -DFEATURE_opengl=OFF -DFEATURE_tabletevent=OFF \
        -DFEATURE_printsupport=OFF -DFEATURE_concurrent=OFF -DFEATURE_xml=OFF -DINPUT_opengl=no &&
    cmake --build . --parallel 2 && cmake --install .) ||
    { echo "qtbase failed" >&2; exit 1; }
mkdir -p "$work/build-qtserialport"
(cd "$work/build-qtserialport" &&
    "$prefix/bin/qt-cmake" "$work/qtserialport-everywhere-src-6.4.2" -G Ninja \
        -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF &&
    cmake --build . && cmake --install .)
cp "$work/qt-toolchain.cmake" "$prefix/mingw-w64-x86_64.cmake"
find "$prefix" -name '*.dll' -exec x86_64-w64-mingw32-strip --strip-unneeded {} +
rm -rf "$work"
echo "Qt for Windows in $prefix"
