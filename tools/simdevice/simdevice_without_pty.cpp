// The simulated device where the system has no pseudo-terminals (Windows): it cannot start.
// Only what a program that meets the failure still reaches is defined.

#include "simdevice.h"

#include <system_error>

namespace norvak {

struct SimDevice::Impl {
    SimDeviceConfig config;
    std::string slavePath;
};

SimDevice::SimDevice(SimDeviceConfig /*config*/) {
    throw std::system_error(std::make_error_code(std::errc::function_not_supported),
                            "this system has no pseudo-terminals");
}

SimDevice::~SimDevice() = default;

const std::string& SimDevice::slavePath() const noexcept {
    return impl_->slavePath;
}

const SimDeviceConfig& SimDevice::config() const noexcept {
    return impl_->config;
}

SimRecording SimDevice::takeRecording() {
    return {};
}

} // namespace norvak
