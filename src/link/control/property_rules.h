#pragma once

// What every serial control refuses in its properties, in the operator's words: the real
// control over Qt Serial Port and the simulated device in the same process say the same.

#include "link/control/serial_error.h"

#include <QString>

#include <cstdint>

namespace norvak::property_rules {

inline void requirePortNumber(std::int16_t port) {
    if (port < 1) {
        throw SerialError(
            QStringLiteral("Port number %1 is not valid: port numbers start at 1.").arg(port));
    }
}

// `property` is the control's own name for it: "RThreshold", "InputLen", "OutBufferSize".
inline void requireNotNegative(const char* property, std::int16_t value) {
    if (value < 0) {
        throw SerialError(QStringLiteral("%1 %2 is not valid: it must not be negative.")
                              .arg(QLatin1StringView(property))
                              .arg(value));
    }
}

} // namespace norvak::property_rules
