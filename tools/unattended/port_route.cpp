#include "tools/unattended/port_route.h"

namespace norvak::unattended {

PortCandidates withDeviceAt(int port, const QString& devicePath, PortCandidates others) {
    return [port, devicePath, others = std::move(others)](int number) -> QStringList {
        if (number == port) {
            return {devicePath};
        }
        return others ? others(number) : QStringList();
    };
}

} // namespace norvak::unattended
