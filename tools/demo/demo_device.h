#pragma once

// The simulated device behind the demo's port number: in the demo's own process, behind the
// serial control the window drives (on every system), or behind a pseudo-terminal that the
// window opens as it opens an adapter (where the system has pseudo-terminals).

#include "link/control/serial_control.h"
#include "seam/toolkit.h"
#include "tools/simdevice/sim_types.h"

#include <QString>

#include <memory>

namespace norvak::demo {

// Whether this build has the device behind a pseudo-terminal.
inline constexpr bool pseudoTerminalDeviceBuilt = NORVAK_DEMO_PSEUDO_TERMINAL != 0;

class DemoDevice {
public:
    virtual ~DemoDevice() = default;
    DemoDevice(const DemoDevice&) = delete;
    DemoDevice& operator=(const DemoDevice&) = delete;

    // The serial control the window drives: port number `port` reaches the device.
    [[nodiscard]] virtual std::unique_ptr<SerialControl> makeSerialControl(Toolkit& toolkit,
                                                                           int port) = 0;
    // Where the device answers, for the operator: a pseudo-terminal's path, or the process.
    [[nodiscard]] virtual QString location() const = 0;
    // Drops the traffic recorded so far: the demo has no use for it, and it would only grow.
    virtual void dropRecording() = 0;

protected:
    DemoDevice() = default;
};

// The device in the demo's own process; its serial control opens only port `port`.
[[nodiscard]] std::unique_ptr<DemoDevice> makeInProcessDevice(const SimDeviceConfig& config);

// The device behind a new pseudo-terminal; throws std::system_error when none can be made.
// Only where pseudoTerminalDeviceBuilt.
[[nodiscard]] std::unique_ptr<DemoDevice> makePseudoTerminalDevice(const SimDeviceConfig& config);

} // namespace norvak::demo
