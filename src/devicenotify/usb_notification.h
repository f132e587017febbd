#pragma once

// The device-change listener: registers the main window for USB device-interface
// notifications and hooks the window procedure so that every message still reaches the
// window's own procedure. The logic talks to the system only through UsbPlatformCalls, so the
// same code runs on Windows (user32/ole32) and, with a recording table, under test elsewhere.
#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>

namespace norvak::devicenotify {

class ModuleUsbNotification;

// A class identifier in its in-memory layout (Data1..Data3 little-endian, Data4 as bytes).
using Guid = std::array<std::uint8_t, 16>;

// The notification filter as the system reads it: size, device type, reserved, class GUID and
// room for a name. The listener hands over 111 bytes, more than the system's minimal record.
inline constexpr std::size_t filterRecordSize = 111;
using FilterRecord = std::array<std::uint8_t, filterRecordSize>;

// The system calls the listener makes, shaped after their Win32 counterparts. Window handles
// and notification handles travel as std::uintptr_t, window procedures as std::intptr_t. The
// table must outlive every module that uses it.
struct UsbPlatformCalls {
    // CLSIDFromString: `text` is a null-terminated UTF-16 string; returns the HRESULT.
    std::function<std::int32_t(const char16_t* text, Guid& classId)> clsidFromString;
    // RegisterDeviceNotificationA: returns the notification handle, 0 on failure.
    std::function<std::uintptr_t(std::uintptr_t window, const FilterRecord& filter,
                                 std::uint32_t flags)>
        registerDeviceNotification;
    // UnregisterDeviceNotification: returns whether the system accepted the handle.
    std::function<bool(std::uintptr_t handle)> unregisterDeviceNotification;
    // SetWindowLongPtrW: stores `value` at `index`, returns the previous value. The W forms
    // here and in callWindowProc keep a Unicode window Unicode, so no text is converted.
    std::function<std::intptr_t(std::uintptr_t window, std::int32_t index, std::intptr_t value)>
        setWindowProc;
    // CallWindowProcW: runs `procedure` for the message and returns its result.
    std::function<std::intptr_t(std::intptr_t procedure, std::uintptr_t window,
                                std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam)>
        callWindowProc;
    // The address of the platform's window procedure that forwards to the started module.
    std::intptr_t usbWindowProc = 0;
    // Optional: tells the platform which module its window procedure forwards to. Attached
    // before the hook is installed; detached after it is removed and when the module goes.
    std::function<void(ModuleUsbNotification& module)> attachModule;
    std::function<void(const ModuleUsbNotification& module)> detachModule;
};

// The window calls these by their established names.
class ModuleUsbNotification {
public:
    // A null platform leaves the listener inactive: every operation does nothing.
    explicit ModuleUsbNotification(const UsbPlatformCalls* platform)
        : platform_(platform) {}
    ~ModuleUsbNotification();
    ModuleUsbNotification(const ModuleUsbNotification&) = delete;
    ModuleUsbNotification& operator=(const ModuleUsbNotification&) = delete;
    ModuleUsbNotification(ModuleUsbNotification&&) = delete;
    ModuleUsbNotification& operator=(ModuleUsbNotification&&) = delete;

    // Registers `window` for USB device-interface notifications, then hooks its procedure.
    // No result is examined: a failed registration still hooks. Start once per window: a
    // second start would find the listener itself as the previous procedure.
    void StartUsbNotification(std::uintptr_t window);
    // Unregisters `handle` (passed as given, even 0), then restores the previous procedure.
    void StopUsbNotification(std::uintptr_t window, std::uintptr_t handle);
    // The hooked window procedure: hands every message, unchanged, to the previous procedure
    // and returns its result unchanged.
    std::intptr_t UsbWindowProc(std::uintptr_t window, std::uint32_t message, std::uintptr_t wParam,
                                std::intptr_t lParam) const;

    [[nodiscard]] std::uintptr_t notificationHandle() const { return notificationHandle_; }
    [[nodiscard]] std::intptr_t previousWindowProc() const { return previousWindowProc_; }
    [[nodiscard]] const FilterRecord& filterRecord() const { return filterRecord_; }

private:
    void buildFilterRecord();

    const UsbPlatformCalls* platform_;
    std::intptr_t previousWindowProc_ = 0;
    std::uintptr_t notificationHandle_ = 0;
    // The system reads the size and type fields as 32-bit words.
    alignas(std::uint32_t) FilterRecord filterRecord_{};
};

// The calls of this platform: the Win32 table on Windows, nullptr (inactive) elsewhere.
const UsbPlatformCalls* nativeUsbPlatform();

} // namespace norvak::devicenotify
