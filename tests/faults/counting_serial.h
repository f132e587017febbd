#pragma once

// A serial control that hands everything to the real one and counts what the window writes,
// so that a test can tell the writes after a loss or a close from those before.

#include "link/serial_control.h"

#include <QByteArray>

#include <memory>
#include <utility>

namespace norvak::faults {

class CountingSerial final : public SerialControl {
public:
    explicit CountingSerial(std::unique_ptr<SerialControl> inner)
        : inner_(std::move(inner)) {
        // Copies of the handlers: a handler may replace itself while it runs.
        inner_->OnComm = [this] {
            if (const auto handler = OnComm)
                handler();
        };
        inner_->OnPortLost = [this](const QString& description) {
            if (const auto handler = OnPortLost)
                handler(description);
        };
    }
    ~CountingSerial() override {
        inner_->OnComm = nullptr;
        inner_->OnPortLost = nullptr;
    }
    CountingSerial(const CountingSerial&) = delete;
    CountingSerial& operator=(const CountingSerial&) = delete;

    void setCommPort(std::int16_t port) override { inner_->setCommPort(port); }
    void setSettings(const QString& settings) override { inner_->setSettings(settings); }
    void setRThreshold(std::int16_t count) override { inner_->setRThreshold(count); }
    void setInputLen(std::int16_t count) override { inner_->setInputLen(count); }
    void setOutBufferSize(std::int16_t bytes) override { inner_->setOutBufferSize(bytes); }
    [[nodiscard]] bool PortOpen() const override { return inner_->PortOpen(); }
    void setPortOpen(bool open) override { inner_->setPortOpen(open); }
    // Every attempt counts, also one the control refuses.
    void Output(QByteArrayView bytes) override {
        ++outputCalls;
        inner_->Output(bytes);
        written.append(bytes);
    }
    [[nodiscard]] std::int16_t InBufferCount() const override { return inner_->InBufferCount(); }
    [[nodiscard]] QByteArray Input() override { return inner_->Input(); }
    [[nodiscard]] std::int16_t CommEvent() const override { return inner_->CommEvent(); }

    int outputCalls = 0;
    QByteArray written; // what the control took, in order

private:
    std::unique_ptr<SerialControl> inner_;
};

} // namespace norvak::faults
