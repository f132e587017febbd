#!/usr/bin/env bash
# shellcheck disable=SC2016 # $INSTDIR is NSIS's, written as it stands
# Packages the Windows build (scripts/build-windows.sh) into build/windows/dist/:
#   norvak-flash-VERSION-windows-x86_64.zip        the folder to unpack anywhere
#   norvak-flash-VERSION-windows-x86_64-setup.exe  its installer (NSIS; makensis)
# Both hold the same files: what `cmake --install` puts in the Windows layout
# (packaging/windows/CMakeLists.txt), the programs stripped.
set -euo pipefail

repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="$repo/build/windows"
[[ -f "$build/norvak-version.txt" ]] || {
    echo "No Windows build in $build: run scripts/build-windows.sh first." >&2
    exit 2
}
for tool in makensis zip x86_64-w64-mingw32-strip; do
    command -v "$tool" >/dev/null || {
        echo "package-windows.sh needs $tool (Debian packages nsis, zip, binutils-mingw-w64-x86-64)." >&2
        exit 2
    }
done
version="$(cat "$build/norvak-version.txt")"
name="norvak-flash-$version-windows-x86_64"
dist="$build/dist"
work="$build/package"
stage="$work/$name"

rm -rf "$work" "$dist"
mkdir -p "$work" "$dist"
cmake --install "$build" --prefix "$stage" --strip >/dev/null
x86_64-w64-mingw32-strip --strip-unneeded "$stage"/lib*.dll

# The installer names every file it installs and removes exactly those: no RMDir /r that
# would take a user's own files from the folder with it.
(
    cd "$stage"
    find . -type d ! -name . | sed 's|^\./||' | sort | while read -r dir; do
        printf 'CreateDirectory "$INSTDIR\\%s"\n' "${dir//\//\\}"
    done
    find . -type f | sed 's|^\./||' | sort | while read -r file; do
        printf 'File "/oname=%s" "%s"\n' "${file//\//\\}" "$stage/$file"
    done
) >"$work/install-files.nsh"
(
    cd "$stage"
    find . -type f | sed 's|^\./||' | sort | while read -r file; do
        printf 'Delete "$INSTDIR\\%s"\n' "${file//\//\\}"
    done
    # Deepest folders first.
    find . -type d ! -name . | sed 's|^\./||' | sort -r | while read -r dir; do
        printf 'RMDir "$INSTDIR\\%s"\n' "${dir//\//\\}"
    done
) >"$work/uninstall-files.nsh"

(cd "$work" && zip -q -r -9 "$dist/$name.zip" "$name")
makensis -V2 -NOCD \
    -DVERSION="$version" -DSTAGE="$stage" -DICON="$build/src/norvak-flash.ico" \
    -DINSTALL_LIST="$work/install-files.nsh" -DUNINSTALL_LIST="$work/uninstall-files.nsh" \
    -DOUTFILE="$dist/$name-setup.exe" "$repo/packaging/windows/norvak-flash.nsi"
echo "packaged: $(cd "$dist" && ls -s --block-size=K | tail -n +2 | tr '\n' ' ')"
