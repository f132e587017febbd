// Where serial ports are no files (Windows' COMn): the system lets one program at a time open
// a port, which is the whole claim; who holds it the system does not tell.

#include "link/control/port_claim.h"

namespace norvak {

PortClaim::~PortClaim() = default;

PortClaim::Outcome PortClaim::take(const QString& devicePath) {
    Q_UNUSED(devicePath);
    descriptor_ = -1;
    return Outcome::NotTaken;
}

void PortClaim::release() {
    descriptor_ = -1;
}

namespace port_claim {

QString devicePath(const QString& path) {
    return path;
}

QString holderOf(const QString& devicePath) {
    Q_UNUSED(devicePath);
    return {};
}

} // namespace port_claim

} // namespace norvak
