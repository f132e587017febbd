#pragma once

// A serial control that hands every member to another one and relays its events. Wrappers that
// watch what passes (the command line's observer, the tests' and benchmarks' recorders) derive
// from it and override only what they add.

#include "link/control/serial_control.h"

#include <memory>
#include <utility>

namespace norvak {

class ForwardingSerialControl : public SerialControl {
public:
    explicit ForwardingSerialControl(std::unique_ptr<SerialControl> inner)
        : inner_(std::move(inner)) {
        inner_->OnComm = [this] {
            relayComm();
        };
        inner_->OnPortLost = [this](const QString& description) {
            relayPortLost(description);
        };
    }
    ~ForwardingSerialControl() override {
        inner_->OnComm = nullptr;
        inner_->OnPortLost = nullptr;
    }
    ForwardingSerialControl(const ForwardingSerialControl&) = delete;
    ForwardingSerialControl& operator=(const ForwardingSerialControl&) = delete;

    void setCommPort(std::int16_t port) override { inner_->setCommPort(port); }
    void setSettings(const QString& settings) override { inner_->setSettings(settings); }
    void setRThreshold(std::int16_t count) override { inner_->setRThreshold(count); }
    void setInputLen(std::int16_t count) override { inner_->setInputLen(count); }
    void setOutBufferSize(std::int16_t bytes) override { inner_->setOutBufferSize(bytes); }
    [[nodiscard]] bool PortOpen() const override { return inner_->PortOpen(); }
    void setPortOpen(bool open) override { inner_->setPortOpen(open); }
    void Output(QByteArrayView bytes) override { inner_->Output(bytes); }
    [[nodiscard]] std::int16_t InBufferCount() const override { return inner_->InBufferCount(); }
    [[nodiscard]] QByteArray Input() override { return inner_->Input(); }
    [[nodiscard]] std::int16_t CommEvent() const override { return inner_->CommEvent(); }

protected:
    [[nodiscard]] SerialControl& inner() { return *inner_; }

    // The inner control raised OnComm; a wrapper may raise it otherwise.
    virtual void relayComm() {
        // A copy of the handler: it may replace itself while it runs.
        if (const auto handler = OnComm) {
            handler();
        }
    }

    // The inner control lost its port (the line hung up, the adapter went); a wrapper may
    // note it.
    virtual void relayPortLost(const QString& description) {
        // A copy of the handler: it may replace itself while it runs.
        if (const auto handler = OnPortLost) {
            handler(description);
        }
    }

private:
    std::unique_ptr<SerialControl> inner_;
};

} // namespace norvak
