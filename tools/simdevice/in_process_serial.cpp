#include "tools/simdevice/in_process_serial.h"

#include "link/control/open_failure_text.h"
#include "link/control/property_rules.h"
#include "link/control/serial_settings.h"

#include <algorithm>
#include <limits>
#include <string>

namespace norvak {

namespace {

// Bytes already read stay in front of the inbox until there are this many of them.
constexpr qsizetype kInboxCompaction = 4096;

} // namespace

InProcessSerial::InProcessSerial(Toolkit& toolkit, InProcessDevice& device, std::int16_t port)
    : toolkit_(toolkit)
    , device_(device)
    , devicePort_(port)
    , lostReport_(toolkit.makeTimer(Milliseconds{0}))
    , pump_(toolkit, receiveLine()) {
    for (std::size_t i = 0; i < kWakeSteps.size(); ++i) {
        wake_[i] = toolkit.makeTimer(Milliseconds{kWakeSteps[i]});
        wake_[i]->onTick([this] { catchUp(); });
    }
    lostReport_->onTick([this] {
        lostReport_->setEnabled(false);
        reportLost();
    });
    device_.onChangedFromOutside = [this] {
        catchUp();
    };
}

InProcessSerial::~InProcessSerial() {
    device_.onChangedFromOutside = nullptr;
}

ReceiveLine InProcessSerial::receiveLine() {
    return {
        .canRaise = [this] { return PortOpen() && OnComm; },
        .waitingBytes =
            [this] {
                catchUp();
                return PortOpen() ? waiting() : qint64{0};
            },
        .bytesTaken = [this] { return inputTaken_; },
        // The answers wait at the host's end either way: there is no reader to hold back.
        .holdBytesInSystem = [](bool) {},
        .raise =
            [this] {
                commEvent_ = comm_event::Receive;
                const auto handler = OnComm; // the handler may replace OnComm
                handler();
            },
    };
}

void InProcessSerial::setCommPort(std::int16_t port) {
    if (PortOpen()) {
        throw SerialError(describePortStillOpen(commPort_, devicePath));
    }
    property_rules::requirePortNumber(port);
    commPort_ = port;
}

void InProcessSerial::setSettings(const QString& settings) {
    static_cast<void>(parseSerialSettings(settings)); // refuses what a real port refuses
    settingsText_ = settings;
}

void InProcessSerial::setRThreshold(std::int16_t count) {
    property_rules::requireNotNegative("RThreshold", count);
    pump_.setThreshold(count);
    if (PortOpen() && count > 0) {
        pump_.checkSoon(); // bytes may be waiting already
    }
}

void InProcessSerial::setInputLen(std::int16_t count) {
    property_rules::requireNotNegative("InputLen", count);
    inputLen_ = count;
}

void InProcessSerial::setOutBufferSize(std::int16_t bytes) {
    property_rules::requireNotNegative("OutBufferSize", bytes);
}

void InProcessSerial::setPortOpen(bool open) {
    if (open == PortOpen()) {
        return;
    }
    pump_.reset();
    lostReport_->setEnabled(false);
    open_ = false;
    lost_ = false;
    lostDescription_.clear();
    catchUp(); // what the device said while the port was closed is lost
    inbox_.clear();
    inboxAt_ = 0;
    if (!open) {
        return;
    }
    if (commPort_ != devicePort_ || device_.lineGoneAt()) {
        const QStringList tried =
            commPort_ == devicePort_ ? QStringList{devicePath} : QStringList{};
        throw SerialError(describeNoPortFound(commPort_, tried));
    }
    open_ = true;
    commEvent_ = 0;
}

void InProcessSerial::requireOpen(const char* action) const {
    if (lost_) {
        throw PortLostError(lostDescription_);
    }
    if (!PortOpen()) {
        throw SerialError(QStringLiteral("Port %1 is closed: open it before %2.")
                              .arg(commPort_)
                              .arg(QLatin1StringView(action)));
    }
}

void InProcessSerial::Output(QByteArrayView bytes) {
    catchUp();
    requireOpen("sending");
    device_.hostSends(std::string_view(bytes.data(), static_cast<std::size_t>(bytes.size())),
                      toolkit_.monotonicNow());
    catchUp();
}

std::int16_t InProcessSerial::InBufferCount() const {
    if (!PortOpen()) {
        return 0;
    }
    catchUp();
    constexpr qint64 limit = std::numeric_limits<std::int16_t>::max();
    return PortOpen() ? static_cast<std::int16_t>(std::min(waiting(), limit)) : 0;
}

QByteArray InProcessSerial::Input() {
    catchUp();
    requireOpen("reading");
    const qint64 count = inputLen_ > 0 ? std::min<qint64>(inputLen_, waiting()) : waiting();
    QByteArray taken = inbox_.mid(inboxAt_, count);
    inboxAt_ += count;
    inputTaken_ += static_cast<quint64>(count);
    if (inboxAt_ == inbox_.size()) {
        inbox_.clear();
        inboxAt_ = 0;
    } else if (inboxAt_ >= kInboxCompaction) {
        inbox_.remove(0, inboxAt_);
        inboxAt_ = 0;
    }
    return taken;
}

void InProcessSerial::catchUp() const {
    const InProcessDevice::TimePoint now = toolkit_.monotonicNow();
    device_.advance(now);
    const std::string delivered = device_.takeDelivered();
    if (!delivered.empty() && PortOpen()) {
        inbox_.append(delivered.data(), static_cast<qsizetype>(delivered.size()));
        pump_.bytesArrived();
    }
    noticeLineGone(now);
    armWake(now);
}

void InProcessSerial::noticeLineGone(InProcessDevice::TimePoint now) const {
    const auto goneAt = device_.lineGoneAt();
    if (!goneAt || !PortOpen()) {
        return;
    }
    // The last answer was on the line before it went: the host may read it first.
    if (waiting() > 0 && now < *goneAt + kHangUpGrace) {
        return;
    }
    lost_ = true;
    lostDescription_ = describeLostConnection(commPort_, devicePath,
                                              QStringLiteral("the simulated device hung up"));
    // Closed and reported from the event loop, never from inside a member call.
    lostReport_->setEnabled(true);
}

void InProcessSerial::armWake(InProcessDevice::TimePoint now) const {
    std::optional<InProcessDevice::TimePoint> due = device_.nextEvent();
    if (device_.lineGoneAt() && PortOpen()) {
        due = now + Milliseconds{1}; // until the host has read the last answer
    }
    std::size_t chosen = kWakeSteps.size(); // none
    if (due) {
        const auto delay = *due - now;
        chosen = kWakeSteps.size() - 1;
        for (std::size_t i = 0; i < kWakeSteps.size(); ++i) {
            if (Milliseconds{kWakeSteps[i]} <= delay) {
                chosen = i;
                break;
            }
        }
    }
    for (std::size_t i = 0; i < wake_.size(); ++i) {
        // Enabling the running timer again keeps its phase: it ticks no later than needed.
        wake_[i]->setEnabled(i == chosen);
    }
}

void InProcessSerial::reportLost() {
    if (!lost_ || !open_) {
        return;
    }
    open_ = false;
    pump_.reset();
    if (OnPortLost) {
        const auto handler = OnPortLost; // the handler may replace itself
        handler(lostDescription_);
    }
}

} // namespace norvak
