#pragma once

// A port number that leads to one device path, whatever the system's mapping says: how a
// program driving the window reaches a device by its path (a simulated device's
// pseudo-terminal, an adapter's /dev/serial/by-id link) through the window's port box.

#include "link/control/port_mapping.h"

#include <QString>

namespace norvak::unattended {

// Port `port` opens `devicePath`; every other number maps as `others` maps it.
[[nodiscard]] PortCandidates withDeviceAt(int port, const QString& devicePath,
                                          PortCandidates others = defaultPortCandidates());

} // namespace norvak::unattended
