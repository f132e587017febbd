#pragma once

// A serial control that hands everything to the real one and tells an observer what the
// window took off the line, so that a program driving the window can show the device's own
// text as it comes. It adds nothing to the line and holds nothing back.

#include "link/serial_control.h"

#include <QByteArray>

#include <functional>
#include <memory>
#include <utility>

namespace norvak::unattended {

class ObservingSerial final : public SerialControl {
public:
    using ReceiveObserver = std::function<void(const QByteArray& bytes)>;

    ObservingSerial(std::unique_ptr<SerialControl> inner, ReceiveObserver onReceived)
        : inner_(std::move(inner))
        , onReceived_(std::move(onReceived)) {
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
    ~ObservingSerial() override {
        inner_->OnComm = nullptr;
        inner_->OnPortLost = nullptr;
    }
    ObservingSerial(const ObservingSerial&) = delete;
    ObservingSerial& operator=(const ObservingSerial&) = delete;

    void setCommPort(std::int16_t port) override { inner_->setCommPort(port); }
    void setSettings(const QString& settings) override { inner_->setSettings(settings); }
    void setRThreshold(std::int16_t count) override { inner_->setRThreshold(count); }
    void setInputLen(std::int16_t count) override { inner_->setInputLen(count); }
    void setOutBufferSize(std::int16_t bytes) override { inner_->setOutBufferSize(bytes); }
    [[nodiscard]] bool PortOpen() const override { return inner_->PortOpen(); }
    void setPortOpen(bool open) override { inner_->setPortOpen(open); }
    void Output(QByteArrayView bytes) override { inner_->Output(bytes); }
    [[nodiscard]] std::int16_t InBufferCount() const override { return inner_->InBufferCount(); }
    [[nodiscard]] QByteArray Input() override {
        QByteArray bytes = inner_->Input();
        if (!bytes.isEmpty() && onReceived_)
            onReceived_(bytes);
        return bytes;
    }
    [[nodiscard]] std::int16_t CommEvent() const override { return inner_->CommEvent(); }

private:
    std::unique_ptr<SerialControl> inner_;
    ReceiveObserver onReceived_;
};

} // namespace norvak::unattended
