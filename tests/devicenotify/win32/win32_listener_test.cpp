// The device-change listener's Win32 binding against the system's own user32 and ole32 (on
// Linux under Wine): a Unicode top-level window, like the ones Qt makes, is hooked by the
// listener and must see every message exactly as it would without the hook. Prints one line
// per check and "N passed, M failed"; exits 0 only when every check passed.
// Built with mingw-w64 by scripts/check-win32-listener.sh, not by the CMake build.
#include "devicenotify/usb_notification.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <dbt.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

using namespace norvak::devicenotify;

namespace {

constexpr GUID usbDeviceInterfaceClass{
    0xA5DCBF10, 0x6530, 0x11D2, {0x90, 0x1F, 0x00, 0xC0, 0x4F, 0xB9, 0x51, 0xED}};
constexpr UINT privateMessage = WM_APP + 0x2A;
constexpr WPARAM allBitsWParam = 0xFEDC'BA98'7654'3210;
constexpr LPARAM allBitsLParam = static_cast<LPARAM>(0x8123'4567'89AB'CDEF);
constexpr LRESULT privateResult = static_cast<LRESULT>(0xF00D'CAFE'1234'5678);
constexpr LRESULT charResult = 0x5A5A'0000'0000'5A5A;
constexpr LRESULT deviceChangeResult = 0x4242'4242'0000'0001;

struct Arguments {
    HWND window = nullptr;
    UINT message = 0;
    WPARAM wParam = 0;
    LPARAM lParam = 0;
    bool operator==(const Arguments&) const = default;
};

// What the window's own procedure saw of the last message, and what it answered.
struct OriginalProcedureLog {
    int calls = 0;
    Arguments last;
    LRESULT result = 0;
    std::wstring textSet; // the text of the last WM_SETTEXT as it arrived
    GUID arrivedClass{};  // the class of the last device-interface arrival
    std::wstring arrivedName;
};

LRESULT answer(HWND window, UINT message, WPARAM wParam, LPARAM lParam, OriginalProcedureLog& log) {
    switch (message) {
    case WM_SETTEXT:
        log.textSet = reinterpret_cast<const wchar_t*>(lParam);
        return DefWindowProcW(window, message, wParam, lParam);
    case WM_CHAR:
        return charResult;
    case WM_DEVICECHANGE:
        if (wParam == DBT_DEVICEARRIVAL && lParam != 0) {
            const auto* broadcast =
                reinterpret_cast<const DEV_BROADCAST_DEVICEINTERFACE_W*>(lParam);
            if (broadcast->dbcc_devicetype == DBT_DEVTYP_DEVICEINTERFACE) {
                log.arrivedClass = broadcast->dbcc_classguid;
                log.arrivedName = broadcast->dbcc_name;
            }
        }
        return deviceChangeResult;
    case privateMessage:
        return privateResult;
    default:
        return DefWindowProcW(window, message, wParam, lParam);
    }
}

// The window's own procedure: Unicode, as Qt's is. Its log hangs on the window's user data.
LRESULT CALLBACK originalProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* log = reinterpret_cast<OriginalProcedureLog*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (log == nullptr) {
        return DefWindowProcW(window, message, wParam, lParam);
    }
    ++log->calls;
    log->last = {window, message, wParam, lParam};
    log->result = answer(window, message, wParam, lParam, *log);
    return log->result;
}

// The real Win32 calls, watched: every call goes on to user32 unchanged; the watch only notes
// what the listener's hook passed on and what the system answered.
struct Watch {
    int hookCalls = 0;
    Arguments hookPassedOn;
    std::uintptr_t registeredHandle = 0;
    DWORD registrationError = 0;
    bool refuseRegistration = false;
    bool unregisterAccepted = false;

    UsbPlatformCalls calls(const UsbPlatformCalls& real) {
        UsbPlatformCalls watched = real;
        watched.registerDeviceNotification =
            [this, &real](std::uintptr_t window, const FilterRecord& filter, std::uint32_t flags) {
                registeredHandle =
                    refuseRegistration ? 0 : real.registerDeviceNotification(window, filter, flags);
                registrationError = registeredHandle == 0 ? GetLastError() : 0;
                return registeredHandle;
            };
        watched.unregisterDeviceNotification = [this, &real](std::uintptr_t handle) {
            unregisterAccepted = real.unregisterDeviceNotification(handle);
            return unregisterAccepted;
        };
        watched.callWindowProc = [this, &real](std::intptr_t procedure, std::uintptr_t window,
                                               std::uint32_t message, std::uintptr_t wParam,
                                               std::intptr_t lParam) {
            ++hookCalls;
            hookPassedOn = {reinterpret_cast<HWND>(window), message, wParam, lParam};
            return real.callWindowProc(procedure, window, message, wParam, lParam);
        };
        return watched;
    }
};

std::string utf8(const std::wstring& text) {
    if (text.empty()) {
        return {};
    }
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                         nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size,
                        nullptr, nullptr);
    return out;
}

std::string hex(std::uint64_t value) {
    char text[24];
    std::snprintf(text, sizeof text, "%llx", static_cast<unsigned long long>(value));
    return text;
}

// The arguments that differ from the ones sent.
std::string describe(const Arguments& got, const Arguments& sent) {
    std::string differences;
    const auto compare = [&](const char* name, std::uint64_t gotValue, std::uint64_t sentValue) {
        if (gotValue != sentValue) {
            differences += std::string(differences.empty() ? "" : ", ") + name + " " +
                           hex(gotValue) + " instead of " + hex(sentValue);
        }
    };
    compare("window", reinterpret_cast<std::uintptr_t>(got.window),
            reinterpret_cast<std::uintptr_t>(sent.window));
    compare("message", got.message, sent.message);
    compare("wParam", got.wParam, sent.wParam);
    compare("lParam", static_cast<std::uint64_t>(got.lParam),
            static_cast<std::uint64_t>(sent.lParam));
    return differences;
}

class Report {
public:
    // `detail` says what was found instead; it is printed only when the check fails.
    void check(bool passed, const std::string& what, const std::string& detail = {}) {
        std::string line = (passed ? "PASS " : "FAIL ") + what;
        if (!passed && !detail.empty()) {
            line += " (" + detail + ")";
        }
        std::printf("%s\n", line.c_str());
        ++(passed ? passed_ : failed_);
    }
    static void note(const std::string& what) { std::printf("note: %s\n", what.c_str()); }
    int finish() const {
        std::printf("%d passed, %d failed\n", passed_, failed_);
        std::fflush(stdout);
        return failed_ == 0 && passed_ > 0 ? 0 : 1;
    }

private:
    int passed_ = 0;
    int failed_ = 0;
};

// One hooked window: sends each message the way a caller would and checks that the window's
// own procedure got it with the same four arguments and that the caller got its answer.
class HookedWindow {
public:
    HookedWindow(HWND window, OriginalProcedureLog& log, Watch& watch, Report& report)
        : window_(window)
        , log_(log)
        , watch_(watch)
        , report_(report) {}

    LRESULT send(UINT message, WPARAM wParam, LPARAM lParam, const std::string& what) {
        const Arguments sent{window_, message, wParam, lParam};
        const int hookCallsBefore = watch_.hookCalls;
        log_.calls = 0;
        const LRESULT result = SendMessageW(window_, message, wParam, lParam);
        report_.check(watch_.hookCalls == hookCallsBefore + 1 && watch_.hookPassedOn == sent,
                      what + ": passed through the listener's hook with the same four arguments",
                      describe(watch_.hookPassedOn, sent));
        report_.check(log_.calls == 1 && log_.last == sent,
                      what + ": reached the window's own procedure with the same four arguments",
                      describe(log_.last, sent));
        report_.check(log_.calls == 1 && result == log_.result,
                      what + ": the caller got the window's own result unchanged");
        return result;
    }

    void setAndReadText(const std::wstring& text) {
        const std::string what = "WM_SETTEXT \"" + utf8(text) + "\"";
        send(WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()), what);
        report_.check(log_.textSet == text,
                      what + ": the window's own procedure got the text unchanged",
                      "got \"" + utf8(log_.textSet) + "\"");

        std::vector<wchar_t> buffer(text.size() + 8, L'#');
        const std::string reading = "WM_GETTEXT after \"" + utf8(text) + "\"";
        const LRESULT length =
            send(WM_GETTEXT, buffer.size(), reinterpret_cast<LPARAM>(buffer.data()), reading);
        report_.check(length == static_cast<LRESULT>(text.size()) &&
                          std::wstring(buffer.data()) == text,
                      reading + ": reads the text back", "got \"" + utf8(buffer.data()) + "\"");
        std::fill(buffer.begin(), buffer.end(), L'#');
        GetWindowTextW(window_, buffer.data(), static_cast<int>(buffer.size()));
        report_.check(std::wstring(buffer.data()) == text,
                      "GetWindowTextW after \"" + utf8(text) + "\": reads the text back",
                      "got \"" + utf8(buffer.data()) + "\"");
    }

    void typeCharacter(wchar_t character) {
        send(WM_CHAR, character, 1, "WM_CHAR '" + utf8(std::wstring(1, character)) + "'");
    }

    void arriveUsbDevice() {
        const std::wstring name = L"\\\\?\\USB#VID_0403&PID_6001#NV0001#"
                                  L"{a5dcbf10-6530-11d2-901f-00c04fb951ed}";
        // The broadcast as the system builds it: the header followed by the name in place.
        std::vector<std::byte> storage(sizeof(DEV_BROADCAST_DEVICEINTERFACE_W) +
                                       name.size() * sizeof(wchar_t));
        auto* broadcast = reinterpret_cast<DEV_BROADCAST_DEVICEINTERFACE_W*>(storage.data());
        broadcast->dbcc_size = static_cast<DWORD>(storage.size());
        broadcast->dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
        broadcast->dbcc_classguid = usbDeviceInterfaceClass;
        std::memcpy(broadcast->dbcc_name, name.c_str(), (name.size() + 1) * sizeof(wchar_t));
        log_.arrivedName.clear();
        const std::string what = "WM_DEVICECHANGE DBT_DEVICEARRIVAL of a USB device interface";
        send(WM_DEVICECHANGE, DBT_DEVICEARRIVAL, reinterpret_cast<LPARAM>(broadcast), what);
        report_.check(IsEqualGUID(log_.arrivedClass, usbDeviceInterfaceClass) &&
                          log_.arrivedName == name,
                      what + ": the window's own procedure read the class and the device name");
    }

    // The same message posted to the queue and dispatched, as the event loop does.
    void postAndDispatchPrivate() {
        const std::string what = "private message, posted and dispatched";
        const int hookCallsBefore = watch_.hookCalls;
        log_.calls = 0;
        PostMessageW(window_, privateMessage, allBitsWParam, allBitsLParam);
        MSG message{};
        const bool got = PeekMessageW(&message, window_, privateMessage, privateMessage, PM_REMOVE);
        const LRESULT result = got ? DispatchMessageW(&message) : 0;
        const Arguments sent{window_, privateMessage, allBitsWParam, allBitsLParam};
        report_.check(got && watch_.hookCalls == hookCallsBefore + 1 && watch_.hookPassedOn == sent,
                      what + ": passed through the listener's hook with the same four arguments");
        report_.check(log_.calls == 1 && log_.last == sent,
                      what + ": reached the window's own procedure with all 64 bits");
        report_.check(result == privateResult, what + ": the dispatcher got the result unchanged");
    }

private:
    HWND window_;
    OriginalProcedureLog& log_;
    Watch& watch_;
    Report& report_;
};

HWND createUnicodeWindow(HINSTANCE instance, OriginalProcedureLog& log) {
    HWND window = CreateWindowExW(0, L"NorvakListenerTest", L"Norvak Flash Programmer",
                                  WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT, 400, 300,
                                  nullptr, nullptr, instance, nullptr);
    if (window != nullptr) {
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&log));
    }
    return window;
}

bool isOriginalProcedure(HWND window) {
    return GetWindowLongPtrW(window, GWLP_WNDPROC) ==
           reinterpret_cast<LONG_PTR>(&originalProcedure);
}

// A window's life with the listener: start, the messages of the checks, stop, and one more
// message that must no longer pass the hook.
void runWindowLife(HINSTANCE instance, bool refuseRegistration, Report& report) {
    const std::string round = refuseRegistration ? " [registration refused]" : "";
    OriginalProcedureLog log;
    HWND window = createUnicodeWindow(instance, log);
    report.check(window != nullptr && IsWindowUnicode(window) && isOriginalProcedure(window),
                 "CreateWindowExW made a Unicode window with its own procedure" + round);
    if (window == nullptr) {
        return;
    }

    Watch watch;
    watch.refuseRegistration = refuseRegistration;
    const UsbPlatformCalls calls = watch.calls(*nativeUsbPlatform());
    ModuleUsbNotification listener(&calls);
    const auto handle = reinterpret_cast<std::uintptr_t>(window);
    listener.StartUsbNotification(handle);

    if (refuseRegistration) {
        report.check(listener.notificationHandle() == 0,
                     "StartUsbNotification keeps the null handle of a refused registration" +
                         round);
    } else if (listener.notificationHandle() != 0) {
        report.check(listener.notificationHandle() == watch.registeredHandle,
                     "StartUsbNotification: RegisterDeviceNotificationA gave a handle, kept");
    } else {
        Report::note("this system refused RegisterDeviceNotificationA (error " +
                     std::to_string(watch.registrationError) + "): checking the failure path");
    }
    report.check(GetWindowLongPtrW(window, GWLP_WNDPROC) == calls.usbWindowProc &&
                     listener.previousWindowProc() ==
                         reinterpret_cast<std::intptr_t>(&originalProcedure),
                 "StartUsbNotification hooked the listener in front of the window's own" + round);
    report.check(IsWindowUnicode(window) != FALSE,
                 "the hooked window is still a Unicode window" + round);

    HookedWindow hooked(window, log, watch, report);
    if (!refuseRegistration) {
        for (const wchar_t* text : {L"Käyttöohje", L"ä ö å", L"€", L"ő Ω ✓"}) {
            hooked.setAndReadText(text);
        }
        for (const wchar_t character : {L'ä', L'€', L'Ω'}) {
            hooked.typeCharacter(character);
        }
        hooked.arriveUsbDevice();
        hooked.postAndDispatchPrivate();
    }
    hooked.send(privateMessage, allBitsWParam, allBitsLParam,
                "private message, all 64 bits of wParam and lParam" + round);

    listener.StopUsbNotification(handle, listener.notificationHandle());
    if (listener.notificationHandle() != 0) {
        report.check(watch.unregisterAccepted, "StopUsbNotification: the handle was unregistered");
    }
    report.check(isOriginalProcedure(window) && IsWindowUnicode(window),
                 "after StopUsbNotification the window's own procedure is back" + round);
    const int hookCallsBefore = watch.hookCalls;
    log.calls = 0;
    const LRESULT result = SendMessageW(window, privateMessage, allBitsWParam, allBitsLParam);
    report.check(watch.hookCalls == hookCallsBefore && log.calls == 1 && result == privateResult,
                 "after StopUsbNotification messages reach the window without the hook" + round);
    DestroyWindow(window);
}

} // namespace

int main() {
    Report report;
    using WineVersion = const char*(CDECL*)();
    if (const auto wineVersion = reinterpret_cast<WineVersion>(reinterpret_cast<void*>(
            GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version")))) {
        Report::note(std::string("running under Wine ") + wineVersion());
    }
    Report::note("ANSI code page " + std::to_string(GetACP()));

    const HINSTANCE instance = GetModuleHandleW(nullptr);
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = originalProcedure;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = L"NorvakListenerTest";
    report.check(RegisterClassExW(&windowClass) != 0, "RegisterClassExW of a Unicode class");

    runWindowLife(instance, false, report);
    runWindowLife(instance, true, report);
    return report.finish();
}
