#!/usr/bin/env bash
# Cross-builds the Windows programs (x86_64, mingw-w64) into build/windows/: norvak-flash.exe,
# norvak-flash-cli.exe, norvak-flash-demo.exe and the test programs that need no
# pseudo-terminal, all in build/windows/bin/ beside the DLLs they load, so that they run there
# (under Wine too). Then packages them (scripts/package-windows.sh) unless --no-package.
#
# Qt for Windows (6.4, built for mingw-w64 x86_64) is taken from, first found:
#   NORVAK_QT_WINDOWS=DIR|ARCHIVE   a Qt folder (holding lib/cmake/Qt6) or its .tar.xz archive
#   shared/windows/qt-6.4.2-mingw-w64-x86_64.tar.xz beside the clone (../shared/windows)
# An archive is unpacked once into build/qt-windows/. --build-qt builds that Qt from its
# sources instead (scripts/build-qt-windows.sh, about 25 minutes on two cores).
# Needs: g++-mingw-w64-x86-64 (posix), qt6-base-dev-tools (the host's moc/rcc/uic, same Qt
# version), cmake, ninja-build, ImageMagick (the icon).
set -euo pipefail

repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="$repo/build/windows"
package=1
build_qt=0
for argument in "$@"; do
    case "$argument" in
    --no-package) package=0 ;;
    --build-qt) build_qt=1 ;;
    -h | --help)
        sed -n '2,15p' "${BASH_SOURCE[0]}" | sed 's/^# \{0,1\}//'
        exit 0
        ;;
    *)
        echo "build-windows.sh: unknown argument $argument (try --help)" >&2
        exit 2
        ;;
    esac
done

archive_name="qt-6.4.2-mingw-w64-x86_64"
unpacked="$repo/build/qt-windows"

# The folder of shared/windows next to the clone, or next to one of its parents (a worktree
# lies a level deeper than the clone).
find_shared_windows() {
    local dir="$repo"
    for _ in 1 2 3; do
        dir="$(dirname "$dir")"
        if [[ -f "$dir/shared/windows/$archive_name.tar.xz" ]]; then
            echo "$dir/shared/windows/$archive_name.tar.xz"
            return
        fi
    done
}

# Unpacks an archive once: a stamp holds the archive's size and time.
unpack_qt() {
    local archive="$1" stamp="$unpacked/.unpacked-from" key
    key="$(stat -c '%n %s %Y' "$archive")"
    if [[ ! -f "$stamp" || "$(cat "$stamp")" != "$key" ]]; then
        echo "unpacking $archive into $unpacked" >&2
        rm -rf "$unpacked"
        mkdir -p "$unpacked"
        tar xf "$archive" -C "$unpacked"
        echo "$key" >"$stamp"
    fi
    local top
    top="$(find "$unpacked" -mindepth 3 -maxdepth 4 -type d -path '*/lib/cmake/Qt6' | head -n 1)"
    [[ -n "$top" ]] || { echo "$archive holds no lib/cmake/Qt6" >&2; exit 1; }
    dirname "$(dirname "$(dirname "$top")")"
}

if ((build_qt)); then
    "$repo/scripts/build-qt-windows.sh" "$repo/build/qt-windows-built"
    qt="$repo/build/qt-windows-built/$archive_name"
elif [[ -n "${NORVAK_QT_WINDOWS:-}" ]]; then
    if [[ -d "$NORVAK_QT_WINDOWS" ]]; then
        qt="$(cd "$NORVAK_QT_WINDOWS" && pwd)"
    elif [[ -f "$NORVAK_QT_WINDOWS" ]]; then
        qt="$(unpack_qt "$(realpath "$NORVAK_QT_WINDOWS")")"
    else
        echo "NORVAK_QT_WINDOWS=$NORVAK_QT_WINDOWS is neither a folder nor a file." >&2
        exit 2
    fi
elif shared="$(find_shared_windows)" && [[ -n "$shared" ]]; then
    qt="$(unpack_qt "$shared")"
else
    cat >&2 <<MSG
Qt for Windows not found. Provide one of:
  NORVAK_QT_WINDOWS=/path/to/$archive_name        (a folder holding lib/cmake/Qt6)
  NORVAK_QT_WINDOWS=/path/to/$archive_name.tar.xz (its archive)
  ../shared/windows/$archive_name.tar.xz beside the clone
or build it from source with: $0 --build-qt
MSG
    exit 2
fi
if [[ ! -d "$qt/lib/cmake/Qt6" ]]; then
    echo "$qt holds no lib/cmake/Qt6: not a Qt folder." >&2
    exit 2
fi
echo "Qt for Windows: $qt"

started=$SECONDS
export NORVAK_QT_WINDOWS_DIR="$qt"
mkdir -p "$build"
# Another Qt than the build was configured with: its cached package paths must go too.
cached="$(sed -n 's/^NORVAK_QT_WINDOWS_DIR:[A-Z]*=//p' "$build/CMakeCache.txt" 2>/dev/null || true)"
fresh=()
if [[ -n "$cached" && "$cached" != "$qt" ]]; then
    echo "Qt for Windows changed (was $cached): configuring afresh"
    fresh=(--fresh)
fi
cmake --preset windows "${fresh[@]}" -DNORVAK_QT_WINDOWS_DIR="$qt" >"$build/configure.log" 2>&1 || {
    cat "$build/configure.log" >&2
    exit 1
}
cmake --build "$build"

# The DLLs the programs load, next to them in bin/: what the package ships, plus Qt Test and
# the offscreen platform for the test programs.
bin="$build/bin"
cmake --install "$build" --prefix "$build/stage" >/dev/null
for item in "$build/stage"/*.dll "$build/stage/platforms" "$build/stage/styles"; do
    cp -a "$item" "$bin/"
done
cp "$qt/bin/Qt6Test.dll" "$bin/"
cp "$qt/plugins/platforms/qoffscreen.dll" "$bin/platforms/"
rm -rf "$bin/firmware"
cp -a "$build/stage/firmware" "$bin/"
echo "built in $((SECONDS - started)) s: $(cd "$bin" && ls ./*.exe | sed 's|^\./||' | tr '\n' ' ')"

if ((package)); then
    "$repo/scripts/package-windows.sh"
fi
