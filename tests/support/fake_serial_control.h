#pragma once

// A serial control for tests: it records every member written, in order, and every write to
// the line; the test feeds it received bytes and error events, which reach the window through
// the virtual event loop as they would through the real one.

#include "link/control/serial_control.h"

#include <QByteArray>
#include <QList>
#include <QStringList>

#include <chrono>
#include <functional>
#include <optional>

namespace norvak::test {

class VirtualToolkit;

class FakeSerialControl final : public SerialControl {
public:
    explicit FakeSerialControl(VirtualToolkit& toolkit)
        : toolkit_(toolkit) {}

    void setCommPort(std::int16_t port) override;
    void setSettings(const QString& settings) override;
    void setRThreshold(std::int16_t count) override;
    void setInputLen(std::int16_t count) override;
    void setOutBufferSize(std::int16_t bytes) override;
    [[nodiscard]] bool PortOpen() const override { return open_; }
    void setPortOpen(bool open) override;
    void Output(QByteArrayView bytes) override;
    [[nodiscard]] std::int16_t InBufferCount() const override;
    [[nodiscard]] QByteArray Input() override;
    [[nodiscard]] std::int16_t CommEvent() const override { return commEvent_; }

    // --- What the test sees ---
    QStringList memberWrites;  // "CommPort=4", "Settings=57600,n,8,1", "PortOpen=true", ...
    QByteArray wire;           // every byte written to the line, in order
    QList<QByteArray> outputs; // each Output call separately
    QList<std::chrono::milliseconds> outputTimes; // when each of them was made, virtual time
    std::int16_t commPort = 0;
    QString settings;

    // --- What the test injects ---
    // The device sends bytes: they wait in the receive buffer and OnComm is raised through
    // the event loop.
    void receive(const QByteArray& bytes);
    // An error event (CommEvent above 1000) while `bytes` wait.
    void raiseError(std::int16_t event, const QByteArray& bytes = {});
    // An event that brings no data (a modem-line change).
    void raiseEmptyEvent();
    // Runs after each Output call has been recorded.
    std::function<void(QByteArrayView)> onOutput;
    // Opening fails with this description.
    std::optional<QString> openFailure;
    // Writes on the open port fail with this description (the adapter is going away): a lost
    // port.
    std::optional<QString> outputFailure;
    // Writes on the open port fail with a serial error that is no lost port.
    std::optional<QString> otherOutputFailure;
    // The serial layer notices the adapter has gone: the port closes and OnPortLost is raised.
    void pullAdapter(const QString& description);

private:
    void raise(std::int16_t event);

    VirtualToolkit& toolkit_;
    bool open_ = false;
    std::int16_t rThreshold_ = 0;
    std::int16_t inputLen_ = 0;
    std::int16_t commEvent_ = 0;
    QByteArray inbox_;
};

} // namespace norvak::test
