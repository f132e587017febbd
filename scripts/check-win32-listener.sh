#!/usr/bin/env bash
# Compile check of the device-change listener for Windows: builds the logic and its Win32
# binding with the MinGW-w64 cross compiler and links a tiny executable against user32/ole32.
# Needs no Qt. Exits non-zero on any failure.
set -euo pipefail

repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
src="$repo/src"
cxx=x86_64-w64-mingw32-g++

if ! command -v "$cxx" >/dev/null 2>&1; then
    echo "installing g++-mingw-w64-x86-64"
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq g++-mingw-w64-x86-64
fi

out="$(mktemp -d)"
trap 'rm -rf "$out"' EXIT

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

echo "Win32 listener compiles and links"
