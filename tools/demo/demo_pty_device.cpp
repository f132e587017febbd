// The demo's device behind a pseudo-terminal (systems with pseudo-terminals only).

#include "tools/demo/demo_device.h"
#include "tools/demo/demo_setup.h"

#include "link/control/mscomm.h"
#include "tools/simdevice/simdevice.h"

namespace norvak::demo {

namespace {

class PseudoTerminalDemoDevice final : public DemoDevice {
public:
    explicit PseudoTerminalDemoDevice(const SimDeviceConfig& config)
        : device_(config) {}

    [[nodiscard]] std::unique_ptr<SerialControl> makeSerialControl(Toolkit& toolkit,
                                                                   int port) override {
        return std::make_unique<MSComm>(toolkit, withSimulatedPort(port, location()));
    }
    [[nodiscard]] QString location() const override {
        return QString::fromStdString(device_.slavePath());
    }
    void dropRecording() override { static_cast<void>(device_.takeRecording()); }

private:
    SimDevice device_;
};

} // namespace

std::unique_ptr<DemoDevice> makePseudoTerminalDevice(const SimDeviceConfig& config) {
    return std::make_unique<PseudoTerminalDemoDevice>(config);
}

} // namespace norvak::demo
