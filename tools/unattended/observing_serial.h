#pragma once

// A serial control that hands everything to the real one and tells an observer what the
// window took off the line, what it wrote and when the line went away, so that a program driving
// the window can show the device's own text as it comes and count the lines that went out. It adds
// nothing to the line and holds nothing back.

#include "link/control/forwarding_serial_control.h"

#include <QByteArray>
#include <QByteArrayView>

#include <functional>
#include <memory>
#include <utility>

namespace norvak::unattended {

struct SerialObserver {
    // Bytes the window took with one Input (the window takes them one at a time).
    std::function<void(const QByteArray& bytes)> received;
    // A receive event's handler has returned: what it took belongs together.
    std::function<void()> receiveEventEnded;
    // Bytes the system accepted from one Output.
    std::function<void(QByteArrayView bytes)> sent;
    // The line went away under the open port (hung up, adapter pulled), whatever the system
    // said of it.
    std::function<void()> portLost;
};

class ObservingSerial final : public ForwardingSerialControl {
public:
    ObservingSerial(std::unique_ptr<SerialControl> inner, SerialObserver observer)
        : ForwardingSerialControl(std::move(inner))
        , observer_(std::move(observer)) {}

    [[nodiscard]] QByteArray Input() override {
        QByteArray bytes = inner().Input();
        if (!bytes.isEmpty() && observer_.received) {
            observer_.received(bytes);
        }
        return bytes;
    }

    void Output(QByteArrayView bytes) override {
        inner().Output(bytes); // a refusal throws: nothing went out
        if (observer_.sent) {
            observer_.sent(bytes);
        }
    }

protected:
    void relayComm() override {
        ForwardingSerialControl::relayComm();
        if (observer_.receiveEventEnded) {
            observer_.receiveEventEnded();
        }
    }

    void relayPortLost(const QString& description) override {
        if (observer_.portLost) {
            observer_.portLost();
        }
        ForwardingSerialControl::relayPortLost(description);
    }

private:
    SerialObserver observer_;
};

} // namespace norvak::unattended
