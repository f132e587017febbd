// Binds the listener's platform calls to user32 and ole32.
#include "devicenotify/usb_notification.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <objbase.h>

#include <cstring>
#include <string>

namespace norvak::devicenotify {
namespace {

static_assert(sizeof(CLSID) == sizeof(Guid));
static_assert(sizeof(LRESULT) == sizeof(std::intptr_t) && sizeof(LPARAM) == sizeof(std::intptr_t));
static_assert(sizeof(WPARAM) == sizeof(std::uintptr_t) && sizeof(HWND) == sizeof(std::uintptr_t));

// The one process-wide state of the listener: a window procedure is a plain C callback without
// user data, so it finds the started module here. Attached at start before the hook, detached
// after the unhook and when the module is destroyed; touched by the GUI thread only.
ModuleUsbNotification* startedModule = nullptr;

// The hook is installed and passes messages on with the Unicode (W) calls. Installed with
// SetWindowLongPtrA it would turn the window into an ANSI window, and the system would then
// convert text messages (WM_SETTEXT, WM_GETTEXT, WM_CHAR, ...) through the ANSI code page on
// their way in and back: the text arrives as a copy, and characters outside the code page arrive
// changed (U+03A9 as "O"). Qt's windows are Unicode; the W calls pass every message on as sent.
LRESULT CALLBACK usbWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (startedModule == nullptr) {
        return DefWindowProcW(window, message, wParam, lParam);
    }
    return startedModule->UsbWindowProc(reinterpret_cast<std::uintptr_t>(window), message, wParam,
                                        lParam);
}

HWND toWindow(std::uintptr_t window) {
    return reinterpret_cast<HWND>(window);
}

std::int32_t clsidFromString(const char16_t* text, Guid& classId) {
    // OLE strings are UTF-16 wchar_t on Windows; copying avoids aliasing char16_t as wchar_t.
    const std::wstring wide(text, text + std::char_traits<char16_t>::length(text));
    CLSID clsid{};
    const HRESULT result = CLSIDFromString(wide.c_str(), &clsid);
    std::memcpy(classId.data(), &clsid, sizeof clsid);
    return static_cast<std::int32_t>(result);
}

std::uintptr_t registerDeviceNotification(std::uintptr_t window, const FilterRecord& filter,
                                          std::uint32_t flags) {
    // The system only reads the filter; its parameter is merely declared non-const.
    HDEVNOTIFY handle = RegisterDeviceNotificationA(
        toWindow(window), const_cast<std::uint8_t*>(filter.data()), flags);
    return reinterpret_cast<std::uintptr_t>(handle);
}

bool unregisterDeviceNotification(std::uintptr_t handle) {
    return UnregisterDeviceNotification(reinterpret_cast<HDEVNOTIFY>(handle)) != FALSE;
}

std::intptr_t setWindowProc(std::uintptr_t window, std::int32_t index, std::intptr_t value) {
    // SetWindowLong keeps only 32 bits, which truncates procedure addresses on 64-bit Windows.
    // SetWindowLongPtrW takes the same index (GWL_WNDPROC = GWLP_WNDPROC = -4) and is
    // SetWindowLongW itself on 32-bit Windows.
    return SetWindowLongPtrW(toWindow(window), index, value);
}

std::intptr_t callWindowProc(std::intptr_t procedure, std::uintptr_t window, std::uint32_t message,
                             std::uintptr_t wParam, std::intptr_t lParam) {
    return CallWindowProcW(reinterpret_cast<WNDPROC>(procedure), toWindow(window), message, wParam,
                           lParam);
}

} // namespace

const UsbPlatformCalls* nativeUsbPlatform() {
    static const UsbPlatformCalls calls{
        .clsidFromString = clsidFromString,
        .registerDeviceNotification = registerDeviceNotification,
        .unregisterDeviceNotification = unregisterDeviceNotification,
        .setWindowProc = setWindowProc,
        .callWindowProc = callWindowProc,
        .usbWindowProc = reinterpret_cast<std::intptr_t>(&usbWindowProc),
        .attachModule = [](ModuleUsbNotification& module) { startedModule = &module; },
        .detachModule =
            [](const ModuleUsbNotification& module) {
                if (startedModule == &module) {
                    startedModule = nullptr;
                }
            },
    };
    return &calls;
}

} // namespace norvak::devicenotify
