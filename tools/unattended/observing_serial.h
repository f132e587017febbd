#pragma once

// A serial control that hands everything to the real one and tells an observer what the
// window took off the line, so that a program driving the window can show the device's own
// text as it comes. It adds nothing to the line and holds nothing back.

#include "link/control/forwarding_serial_control.h"

#include <QByteArray>

#include <functional>
#include <memory>
#include <utility>

namespace norvak::unattended {

class ObservingSerial final : public ForwardingSerialControl {
public:
    using ReceiveObserver = std::function<void(const QByteArray& bytes)>;

    ObservingSerial(std::unique_ptr<SerialControl> inner, ReceiveObserver onReceived)
        : ForwardingSerialControl(std::move(inner))
        , onReceived_(std::move(onReceived)) {}

    [[nodiscard]] QByteArray Input() override {
        QByteArray bytes = inner().Input();
        if (!bytes.isEmpty() && onReceived_) {
            onReceived_(bytes);
        }
        return bytes;
    }

private:
    ReceiveObserver onReceived_;
};

} // namespace norvak::unattended
