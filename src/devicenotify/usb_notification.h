#pragma once

// Placeholder: the device-change listener's API as the window calls it.
#include <cstdint>

namespace norvak::devicenotify {

struct UsbPlatformCalls;

class ModuleUsbNotification {
public:
    explicit ModuleUsbNotification(const UsbPlatformCalls* platform) : platform_(platform) {}
    void StartUsbNotification(std::uintptr_t window) { (void)window; }
    void StopUsbNotification(std::uintptr_t window, std::uintptr_t handle) {
        (void)window;
        (void)handle;
    }
    [[nodiscard]] std::uintptr_t notificationHandle() const { return 0; }

private:
    const UsbPlatformCalls* platform_;
};

// The calls of this platform: Win32 on Windows, null (inactive) elsewhere.
inline const UsbPlatformCalls* nativeUsbPlatform() { return nullptr; }

} // namespace norvak::devicenotify
