#include "devicenotify/usb_notification.h"

#include <algorithm>

namespace norvak::devicenotify {
namespace {

// The interface class of USB devices; the boot program's adapter announces itself with it.
constexpr char16_t usbDeviceInterfaceClass[] = u"{A5DCBF10-6530-11D2-901F-00C04FB951ED}";
constexpr std::uint32_t deviceTypeDeviceInterface = 5;
constexpr std::uint32_t notifyForWindowHandle = 0;
constexpr std::int32_t windowProcIndex = -4;

constexpr std::size_t sizeOffset = 0;
constexpr std::size_t deviceTypeOffset = 4;
constexpr std::size_t reservedOffset = 8;
constexpr std::size_t classGuidOffset = 12;

void putLittleEndian32(FilterRecord& record, std::size_t offset, std::uint32_t value) {
    for (std::size_t i = 0; i < 4; ++i) {
        record[offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
    }
}

} // namespace

ModuleUsbNotification::~ModuleUsbNotification() {
    // The platform's window procedure must never reach a module that is gone.
    if (platform_ != nullptr && platform_->detachModule) {
        platform_->detachModule(*this);
    }
}

void ModuleUsbNotification::buildFilterRecord() {
    filterRecord_.fill(0);
    Guid classId{};
    // The result is not examined: a failed conversion leaves a zero class in the record.
    platform_->clsidFromString(usbDeviceInterfaceClass, classId);
    putLittleEndian32(filterRecord_, sizeOffset, static_cast<std::uint32_t>(filterRecordSize));
    putLittleEndian32(filterRecord_, deviceTypeOffset, deviceTypeDeviceInterface);
    putLittleEndian32(filterRecord_, reservedOffset, 0);
    std::ranges::copy(classId, filterRecord_.begin() + classGuidOffset);
}

void ModuleUsbNotification::StartUsbNotification(std::uintptr_t window) {
    if (platform_ == nullptr) {
        return;
    }
    buildFilterRecord();
    notificationHandle_ =
        platform_->registerDeviceNotification(window, filterRecord_, notifyForWindowHandle);
    if (platform_->attachModule) {
        platform_->attachModule(*this);
    }
    previousWindowProc_ =
        platform_->setWindowProc(window, windowProcIndex, platform_->usbWindowProc);
}

void ModuleUsbNotification::StopUsbNotification(std::uintptr_t window, std::uintptr_t handle) {
    if (platform_ == nullptr) {
        return;
    }
    // Neither result is examined: the procedure is restored even if unregistering failed.
    platform_->unregisterDeviceNotification(handle);
    platform_->setWindowProc(window, windowProcIndex, previousWindowProc_);
    if (platform_->detachModule) {
        platform_->detachModule(*this);
    }
}

std::intptr_t ModuleUsbNotification::UsbWindowProc(std::uintptr_t window, std::uint32_t message,
                                                   std::uintptr_t wParam,
                                                   std::intptr_t lParam) const {
    if (platform_ == nullptr) {
        return 0;
    }
    return platform_->callWindowProc(previousWindowProc_, window, message, wParam, lParam);
}

} // namespace norvak::devicenotify
