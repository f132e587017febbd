#include "mainwindow/termination_signals.h"

#include <QSocketNotifier>

namespace norvak {

namespace {
constexpr int signalExitBase = 128;
} // namespace

// The signals keep their default action here; Windows sends a window program none of them.
void TerminationSignals::block() {}
bool TerminationSignals::pending() {
    return false;
}
TerminationSignals::TerminationSignals() = default;
TerminationSignals::~TerminationSignals() = default;

int TerminationSignals::exitStatus(int normalStatus) const {
    return first_ == 0 ? normalStatus : signalExitBase + first_;
}

void TerminationSignals::readSignals() {}

} // namespace norvak
