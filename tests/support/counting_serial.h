#pragma once

// A serial control that hands everything to the real one and counts what the window writes,
// so that a test can tell the writes after a loss or a close from those before.

#include "link/control/forwarding_serial_control.h"

#include <QByteArray>

namespace norvak::faults {

class CountingSerial final : public ForwardingSerialControl {
public:
    using ForwardingSerialControl::ForwardingSerialControl;

    // Every attempt counts, also one the control refuses.
    void Output(QByteArrayView bytes) override {
        ++outputCalls;
        inner().Output(bytes);
        written.append(bytes);
    }

    int outputCalls = 0;
    QByteArray written; // what the control took, in order
};

} // namespace norvak::faults
