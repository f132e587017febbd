#!/usr/bin/env bash
# The Windows-only code, checked from Linux with the MinGW-w64 cross compiler and Wine:
#  1. compiles the device-change listener and its Win32 binding and links a tiny executable
#     against user32/ole32;
#  2. compiles our other sources with Windows-only branches (Q_OS_WIN, _WIN32), and those that
#     CMake builds only for Windows, for Windows, syntax only: Qt for Windows is not available
#     here, so they are checked against this machine's Qt headers, which catches faults in our
#     branches but not in Qt's Windows API;
#  3. builds tests/devicenotify/win32/win32_listener_test.cpp against the real binding and runs
#     it under Wine (on an Xvfb display) in a throw-away WINEPREFIX, removed afterwards.
# Installs what it needs with apt-get (run as root). Exits non-zero on any failure.
set -euo pipefail

repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
src="$repo/src"
cxx=x86_64-w64-mingw32-g++-posix # the product's compiler: std::thread and std::mutex need posix threads
wine=/usr/lib/wine/wine64 # Debian puts the loader here, not on PATH
wineserver=/usr/lib/wine/wineserver

needed=(g++-mingw-w64-x86-64 wine64 xvfb xauth qt6-base-dev qt6-serialport-dev)
missing=()
for package in "${needed[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
        missing+=("$package")
done
if ((${#missing[@]})); then
    echo "installing ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

out="$(mktemp -d)"
# TMPDIR puts the wineserver's socket folder in the throw-away folder too. No Mono or Gecko:
# a new prefix would otherwise offer to fetch them, and the test needs neither. WINEDEBUG=-all
# keeps Wine's own chatter out of the log; set WINEDEBUG to see it.
wine_env=(TMPDIR="$out" WINEPREFIX="$out/wineprefix" WINEDLLOVERRIDES="mscoree,mshtml="
          WINEDEBUG="${WINEDEBUG:--all}")
boot=""
cleanup() {
    # Ends the wineserver of our own prefix only, waits for its processes, then removes the
    # prefix with everything else.
    if [[ -n "$boot" ]]; then
        env "${wine_env[@]}" "$wineserver" -k 2>/dev/null || true
        wait "$boot" 2>/dev/null || true
        env "${wine_env[@]}" "$wineserver" -w 2>/dev/null || true
    fi
    rm -rf "$out"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# Making the fresh prefix takes longest: Wine makes it while the compiler works.
env "${wine_env[@]}" "$wine" wineboot --init >"$out/wineboot.log" 2>&1 &
boot=$!

step_started=$SECONDS
step_done() { echo "$1 ($((SECONDS - step_started)) s)"; step_started=$SECONDS; }

flags=(-std=c++20 -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wno-sign-conversion -Werror
       -I"$src")

for unit in usb_notification win32_platform; do
    echo "compiling $unit.cpp"
    "$cxx" "${flags[@]}" -c "$src/devicenotify/$unit.cpp" -o "$out/$unit.o"
done

cat >"$out/link_check.cpp" <<'CPP'
#include "devicenotify/usb_notification.h"

int main() {
    using namespace norvak::devicenotify;
    const UsbPlatformCalls* platform = nativeUsbPlatform();
    if (platform == nullptr || platform->usbWindowProc == 0)
        return 1;
    ModuleUsbNotification listener(platform);
    // A null window: the system refuses both calls, which the listener does not examine.
    listener.StartUsbNotification(0);
    listener.StopUsbNotification(0, listener.notificationHandle());
    return 0;
}
CPP
echo "linking link_check.exe"
"$cxx" "${flags[@]}" -c "$out/link_check.cpp" -o "$out/link_check.o"
"$cxx" -static -o "$out/link_check.exe" "$out/link_check.o" "$out/usb_notification.o" \
    "$out/win32_platform.o" -luser32 -lole32
step_done "Win32 listener compiles and links"

qt="/usr/include/$(gcc -print-multiarch)/qt6"
qt_flags=(-isystem "$qt")
for module in QtCore QtGui QtWidgets QtSerialPort; do
    qt_flags+=(-isystem "$qt/$module")
done
mapfile -t windows_units < <(cd "$repo" && grep -rlE 'Q_OS_WIN|_WIN32' --include='*.cpp' src tools |
    grep -v '^src/devicenotify/' | sort)
# Sources that CMake builds for Windows in place of their POSIX counterparts.
windows_units+=(src/link/control/portable_line_watch.cpp)
# The tools name their headers from the project's root ("tools/cli/cli_options.h").
tool_includes=(-I"$repo")
for unit in "${windows_units[@]}"; do
    echo "compiling $unit for Windows (syntax only, this machine's Qt headers)"
    "$cxx" "${flags[@]}" -fsyntax-only "${qt_flags[@]}" "${tool_includes[@]}" "$repo/$unit"
done
step_done "${#windows_units[@]} sources with Windows-only branches compile for Windows"

echo "building win32_listener_test.exe"
"$cxx" "${flags[@]}" -c "$repo/tests/devicenotify/win32/win32_listener_test.cpp" \
    -o "$out/win32_listener_test.o"
"$cxx" -static -o "$out/win32_listener_test.exe" "$out/win32_listener_test.o" \
    "$out/usb_notification.o" "$out/win32_platform.o" -luser32 -lole32
step_done "test program built"

echo "running it under $("$wine" --version) in a fresh prefix"
if ! wait "$boot"; then
    cat "$out/wineboot.log" >&2
    echo "Wine could not make a fresh prefix." >&2
    exit 1
fi
status=0
# Xvfb stays up until Wine's own processes of the prefix have ended. A run that hangs (a dialog
# nobody answers) is ended after two minutes; the cleanup then ends what Wine left.
# shellcheck disable=SC2016 # the inner script expands its own arguments
(cd "$out" && env "${wine_env[@]}" timeout 120 xvfb-run -a bash -c '"$1" win32_listener_test.exe; status=$?
    "$2" -w; exit $status' run "$wine" "$wineserver") >"$out/report.txt" || status=$?
cat "$out/report.txt"
step_done "Wine made the prefix and ran the test"
# The program must also have reached its summary: a crash under Wine can still end with 0.
if ((status != 0)) || ! grep -qE '^[0-9]+ passed, 0 failed' "$out/report.txt"; then
    echo "The Win32 listener failed under Wine (exit status $status)." >&2
    exit 1
fi
echo "Win32 listener passed under Wine ($SECONDS s in all)"
