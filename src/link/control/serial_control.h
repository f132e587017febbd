#pragma once

// The serial communications control the window drives (MSComm1). Member names follow the
// control's own: CommPort, Settings, RThreshold, InputLen, OutBufferSize, PortOpen, Output,
// InBufferCount, Input, CommEvent and the OnComm event. Every failure throws SerialError
// with a description meant for the operator; a line gone under the open port throws its own
// kind, PortLostError.

#include "link/control/serial_error.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <cstdint>
#include <functional>

namespace norvak {

// CommEvent values. Receive is raised for data; values above 1000 are error events.
namespace comm_event {
inline constexpr std::int16_t Receive = 2;
inline constexpr std::int16_t Break = 1001;
inline constexpr std::int16_t Frame = 1004;
inline constexpr std::int16_t Overrun = 1006;
inline constexpr std::int16_t RxOver = 1008;
inline constexpr std::int16_t RxParity = 1009;
} // namespace comm_event

class SerialControl {
public:
    virtual ~SerialControl() = default;
    SerialControl(const SerialControl&) = delete;
    SerialControl& operator=(const SerialControl&) = delete;

    virtual void setCommPort(std::int16_t port) = 0;
    virtual void setSettings(const QString& settings) = 0; // "rate,n,8,1"
    virtual void setRThreshold(std::int16_t count) = 0;
    virtual void setInputLen(std::int16_t count) = 0;
    virtual void setOutBufferSize(std::int16_t bytes) = 0;

    [[nodiscard]] virtual bool PortOpen() const = 0;
    virtual void setPortOpen(bool open) = 0;

    // Each byte goes out as itself, in order, at once. Fails while the port is closed, and with
    // PortLostError when the line is gone or does not take the bytes.
    virtual void Output(QByteArrayView bytes) = 0;

    [[nodiscard]] virtual std::int16_t InBufferCount() const = 0;
    // Removes and returns up to InputLen waiting bytes.
    [[nodiscard]] virtual QByteArray Input() = 0;
    [[nodiscard]] virtual std::int16_t CommEvent() const = 0;

    // Raised on the interface thread when RThreshold bytes wait, and for error events.
    std::function<void()> OnComm;
    // Raised on the interface thread when the port was lost while open (adapter removed,
    // device gone); the control has closed the port already.
    std::function<void(const QString& description)> OnPortLost;

protected:
    SerialControl() = default;
};

} // namespace norvak
