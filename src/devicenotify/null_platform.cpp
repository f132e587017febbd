#include "devicenotify/usb_notification.h"

namespace norvak::devicenotify {

// Device-change notifications exist on Windows only; elsewhere the listener stays inactive.
const UsbPlatformCalls* nativeUsbPlatform() {
    return nullptr;
}

} // namespace norvak::devicenotify
