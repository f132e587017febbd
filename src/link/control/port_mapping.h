#pragma once

// Maps the control's port number to the device paths that may stand for it.

#include <QStringList>

#include <functional>

namespace norvak {

// Device paths for port n, most likely first. The control opens the first that exists.
using PortCandidates = std::function<QStringList(int port)>;

// Windows: port n is COMn. Linux: USB adapters first, then built-in UARTs:
// /dev/ttyUSB(n-1), /dev/ttyACM(n-1), /dev/ttyS(n-1). Port numbers below 1 map to nothing.
[[nodiscard]] PortCandidates defaultPortCandidates();

} // namespace norvak
