#include "link/control/port_mapping.h"

#include <QtGlobal>

namespace norvak {

PortCandidates defaultPortCandidates() {
    return [](int port) -> QStringList {
        if (port < 1) {
            return {};
        }
#ifdef Q_OS_WIN
        return {QStringLiteral("COM%1").arg(port)};
#else
        const int index = port - 1;
        return {QStringLiteral("/dev/ttyUSB%1").arg(index),
                QStringLiteral("/dev/ttyACM%1").arg(index),
                QStringLiteral("/dev/ttyS%1").arg(index)};
#endif
    };
}

} // namespace norvak
