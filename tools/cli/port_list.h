#pragma once

// The serial ports of the system with the number that reaches each through the window's port
// box, by the window's own mapping.

#include "link/control/port_mapping.h"

#include <QString>

#include <functional>
#include <optional>
#include <vector>

namespace norvak::cli {

struct PortEntry {
    std::optional<int> number; // none: no number of the port box reaches this device
    QString path;              // as --device takes it: the device file, or COMn on Windows
    QString description;
    QString manufacturer;
    std::optional<quint16> vendorId;
    std::optional<quint16> productId;
    QString serialNumber;
};

// The number n whose first existing candidate is `path`, or none. Only the n that the path's
// trailing digits suggest (ttyUSB3 -> 4, COM3 -> 3) are tried.
[[nodiscard]] std::optional<int> portNumberFor(const QString& path,
                                               const PortCandidates& candidates,
                                               const std::function<bool(const QString&)>& exists);

// Every port Qt Serial Port knows, by number, those without one last.
[[nodiscard]] std::vector<PortEntry> systemPorts();

[[nodiscard]] QString portsText(const std::vector<PortEntry>& ports);
[[nodiscard]] QByteArray portsJson(const std::vector<PortEntry>& ports);

} // namespace norvak::cli
