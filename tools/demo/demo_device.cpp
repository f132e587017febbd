#include "tools/demo/demo_device.h"

#include "tools/simdevice/in_process_device.h"
#include "tools/simdevice/in_process_serial.h"

#include <system_error>

namespace norvak::demo {

namespace {

class InProcessDemoDevice final : public DemoDevice {
public:
    explicit InProcessDemoDevice(const SimDeviceConfig& config)
        : device_(config) {}

    [[nodiscard]] std::unique_ptr<SerialControl> makeSerialControl(Toolkit& toolkit,
                                                                   int port) override {
        return std::make_unique<InProcessSerial>(toolkit, device_, static_cast<std::int16_t>(port));
    }
    [[nodiscard]] QString location() const override { return QStringLiteral("in this process"); }
    void dropRecording() override { static_cast<void>(device_.takeRecording()); }

private:
    InProcessDevice device_;
};

} // namespace

std::unique_ptr<DemoDevice> makeInProcessDevice(const SimDeviceConfig& config) {
    return std::make_unique<InProcessDemoDevice>(config);
}

#if !NORVAK_DEMO_PSEUDO_TERMINAL
std::unique_ptr<DemoDevice> makePseudoTerminalDevice(const SimDeviceConfig&) {
    throw std::system_error(std::make_error_code(std::errc::function_not_supported),
                            "this build has no pseudo-terminal device");
}
#endif

} // namespace norvak::demo
