#include "link/control/mscomm.h"

#include "link/control/line_watch.h"
#include "link/control/port_claim.h"
#include "link/control/property_rules.h"

#include <QDeadlineTimer>
#include <QMetaObject>

#include <algorithm>
#include <array>
#include <limits>
#include <utility>

namespace norvak {

namespace {

// Every byte value once, so that a one-byte Input can hand out a view instead of a copy.
constexpr std::array<char, 256> byteValues = [] {
    std::array<char, 256> values{};
    for (std::size_t i = 0; i < values.size(); ++i) {
        values[i] = static_cast<char>(i);
    }
    return values;
}();

} // namespace

MSComm::MSComm(Toolkit& toolkit, PortCandidates candidates)
    : candidates_(std::move(candidates))
    , settings_(parseSerialSettings(settingsText_))
    , pump_(toolkit, receiveLine()) {
    QObject::connect(&port_, &QSerialPort::readyRead, &port_, [this] { pump_.bytesArrived(); });
    QObject::connect(&port_, &QSerialPort::errorOccurred, &port_,
                     [this](QSerialPort::SerialPortError error) { onError(error); });
}

MSComm::~MSComm() {
    // Closing must not call back into a half-destroyed control.
    QObject::disconnect(&port_, nullptr, nullptr, nullptr);
}

ReceiveLine MSComm::receiveLine() {
    return {
        .canRaise = [this] { return PortOpen() && OnComm; },
        .waitingBytes = [this] { return waitingBytes(); },
        .bytesTaken = [this] { return inputTaken_; },
        .holdBytesInSystem = [this](bool hold) { holdBytesInSystem(hold); },
        .raise =
            [this] {
                commEvent_ = comm_event::Receive;
                const auto handler = OnComm; // the handler may replace OnComm
                handler();
            },
    };
}

void MSComm::setCommPort(std::int16_t port) {
    if (port_.isOpen() && !lost_) {
        throw SerialError(describePortStillOpen(commPort_, devicePath_));
    }
    property_rules::requirePortNumber(port);
    commPort_ = port;
}

void MSComm::setSettings(const QString& settings) {
    const SerialSettings parsed = parseSerialSettings(settings);
    if (port_.isOpen()) {
        applySettings(parsed, settings);
    }
    settings_ = parsed;
    settingsText_ = settings;
}

void MSComm::setRThreshold(std::int16_t count) {
    property_rules::requireNotNegative("RThreshold", count);
    pump_.setThreshold(count);
    if (PortOpen() && count > 0) {
        pump_.checkSoon(); // bytes may be waiting already
    }
}

void MSComm::setInputLen(std::int16_t count) {
    property_rules::requireNotNegative("InputLen", count);
    inputLen_ = count;
}

void MSComm::setOutBufferSize(std::int16_t bytes) {
    property_rules::requireNotNegative("OutBufferSize", bytes);
}

bool MSComm::PortOpen() const {
    return port_.isOpen() && !lost_;
}

void MSComm::setPortOpen(bool open) {
    if (open) {
        this->open();
    } else {
        close();
    }
}

void MSComm::open() {
    if (PortOpen()) {
        return;
    }
    if (port_.isOpen()) {
        closePort(); // lost, the report is still queued
    }
    lost_ = false; // a failed attempt leaves the port plainly closed
    lostDescription_.clear();
    const QString path = findDevice();
    // Every name of one device opens it by one path, so that Qt's lock file, which is named
    // after the path, is one per device too.
    const QString device = port_claim::devicePath(path);
    if (claim_.take(device) == PortClaim::Outcome::HeldElsewhere) {
        throw SerialError(describePortInUse(commPort_, path, port_claim::holderOf(device)));
    }
    port_.setPortName(device);
    setLine(settings_);
    port_.setFlowControl(QSerialPort::NoFlowControl);
    if (!port_.open(QIODevice::ReadWrite)) {
        claim_.release();
        throw SerialError(describeFailedOpen(path, device));
    }
    ++opening_;
    dropFetched();
    commEvent_ = 0;
    pump_.reset();
}

void MSComm::close() {
    pump_.reset();
    dropFetched();
    if (!port_.isOpen()) {
        return;
    }
    if (!lost_) {
        flushToSystem(); // what the system still takes goes out; Qt drops the rest
    }
    closePort();
}

void MSComm::closePort() {
    port_.close();
    claim_.release(); // after Qt let go of the line: the next opener finds it free
}

QString MSComm::describeFailedOpen(const QString& path, const QString& device) const {
    const OpenFailure failure =
        classifyOpenFailure(port_.error(), line_watch::pathAccessible(device));
    if (failure == OpenFailure::InUse) {
        return describePortInUse(commPort_, path, port_claim::holderOf(device),
                                 port_.errorString());
    }
    return describeOpenFailure(commPort_, path, failure, port_.errorString(), settingsText_);
}

QString MSComm::findDevice() {
    const QStringList tried = candidates_ ? candidates_(commPort_) : QStringList();
    const auto found = std::find_if(tried.cbegin(), tried.cend(), line_watch::deviceExists);
    devicePath_ = found != tried.cend() ? *found : tried.value(0);
    if (found == tried.cend()) {
        throw SerialError(describeNoPortFound(commPort_, tried));
    }
    return *found;
}

void MSComm::setLine(const SerialSettings& settings) {
    port_.setBaudRate(settings.baudRate);
    port_.setParity(settings.parity);
    port_.setDataBits(settings.dataBits);
    port_.setStopBits(settings.stopBits);
}

void MSComm::applySettings(const SerialSettings& settings, const QString& text) {
    const bool applied = port_.setBaudRate(settings.baudRate) && port_.setParity(settings.parity) &&
                         port_.setDataBits(settings.dataBits) &&
                         port_.setStopBits(settings.stopBits);
    if (applied) {
        return;
    }
    const QString systemMessage = port_.errorString();
    setLine(settings_); // put the line back as it was, so that a rejected text changes nothing
    throw SerialError(describeOpenFailure(commPort_, devicePath_, OpenFailure::UnsupportedSettings,
                                          systemMessage, text));
}

void MSComm::requireOpen(const char* action) const {
    throwIfLost();
    if (!PortOpen()) {
        throw SerialError(QStringLiteral("Port %1 is closed: open it before %2.")
                              .arg(commPort_)
                              .arg(QLatin1StringView(action)));
    }
}

void MSComm::Output(QByteArrayView bytes) {
    requireOpen("sending");
    if (bytes.isEmpty()) {
        return;
    }
    const QByteArrayView rest = bytes.sliced(line_watch::writeDirectly(port_, bytes));
    if (rest.isEmpty()) {
        return;
    }
    const qint64 accepted = port_.write(rest.data(), rest.size());
    throwIfLost();
    if (accepted != rest.size()) {
        // A write refused by a hung-up line carries a stale errno: say the device went.
        if (line_watch::lineIsGone(port_, port_.error())) {
            throw PortLostError(
                describeLostConnection(commPort_, devicePath_, line_watch::lostLineMessage(port_)));
        }
        // A line that refuses bytes is as good as gone.
        throw PortLostError(describeSendFailure(commPort_, devicePath_, port_.errorString()));
    }
    flushToSystem();
    throwIfLost();
    waitUntilDrained();
}

void MSComm::flushToSystem() {
    // One flush writes one block of Qt's buffer; go on while the system takes more.
    while (port_.bytesToWrite() > 0 && !lost_) {
        const qint64 before = port_.bytesToWrite();
        port_.flush();
        if (port_.bytesToWrite() >= before) {
            return; // the system buffer is full: the line is slower than we write
        }
    }
}

void MSComm::waitUntilDrained() {
    QDeadlineTimer stall(kStallTimeoutMs);
    qint64 pending = port_.bytesToWrite();
    while (pending > kMaxPendingBytes) {
        port_.waitForBytesWritten(static_cast<int>(std::max<qint64>(stall.remainingTime(), 0)));
        throwIfLost();
        flushToSystem();
        throwIfLost();
        const qint64 now = port_.bytesToWrite();
        if (now < pending) {
            stall.setRemainingTime(kStallTimeoutMs);
            pending = now;
        } else if (stall.hasExpired()) {
            throw PortLostError(
                describeStalledLine(commPort_, devicePath_, kStallTimeoutMs / 1000));
        }
    }
}

qint64 MSComm::fetchedBytes() const {
    return (fetched_.size() - fetchedAt_) + port_.bytesAvailable();
}

qint64 MSComm::waitingBytes() const {
    return PortOpen() ? fetchedBytes() + line_watch::bytesHeldBySystem(port_) : 0;
}

std::int16_t MSComm::InBufferCount() const {
    if (!PortOpen()) {
        return 0;
    }
    qint64 count = fetchedBytes();
    if (count == 0) {
        count = line_watch::bytesHeldBySystem(port_);
    }
    constexpr qint64 limit = std::numeric_limits<std::int16_t>::max();
    return static_cast<std::int16_t>(std::min(count, limit));
}

bool MSComm::fetchBlock() {
    if (fetchedAt_ < fetched_.size()) {
        return true;
    }
    if (port_.bytesAvailable() == 0 && line_watch::bytesHeldBySystem(port_) > 0) {
        holdBytesInSystem(false);  // a handler reading within the gap takes it all
        port_.waitForReadyRead(0); // fetch what the system holds; readyRead is only queued
    }
    const qint64 block = std::min(port_.bytesAvailable(), qint64{kFetchBlock});
    fetched_.resize(block); // keeps its capacity: no allocation once the first block came
    const qint64 got = block > 0 ? port_.read(fetched_.data(), block) : 0;
    fetched_.resize(std::max<qint64>(got, 0));
    fetchedAt_ = 0;
    return !fetched_.isEmpty();
}

void MSComm::dropFetched() {
    fetched_.clear();
    fetchedAt_ = 0;
}

QByteArray MSComm::Input() {
    requireOpen("reading");
    if (inputLen_ == 1) {
        return inputOneByte();
    }
    return inputUpTo(inputLen_ > 0 ? inputLen_ : std::numeric_limits<qint64>::max());
}

QByteArray MSComm::inputOneByte() {
    if (!fetchBlock()) {
        return {};
    }
    const auto byte = static_cast<unsigned char>(fetched_[fetchedAt_++]);
    ++inputTaken_;
    return QByteArray::fromRawData(&byteValues[byte], 1);
}

QByteArray MSComm::inputUpTo(qint64 wanted) {
    QByteArray taken;
    while (taken.size() < wanted && fetchBlock()) {
        const qint64 part = std::min(wanted - taken.size(), fetched_.size() - fetchedAt_);
        taken.append(fetched_.constData() + fetchedAt_, part);
        fetchedAt_ += part;
        if (inputLen_ == 0 && port_.bytesAvailable() == 0) {
            break; // all that was fetched: asking the system again could go on forever
        }
    }
    inputTaken_ += static_cast<quint64>(taken.size());
    return taken;
}

void MSComm::holdBytesInSystem(bool hold) {
    // Qt stops reading once its buffer holds readBufferSize bytes, and setting the size
    // starts it reading again. Within the gap the bytes wait in the system (a pseudo-terminal
    // or a USB adapter then holds the sender back; a serial line's system buffer takes far
    // more than a gap's worth), so that a stream the system hands on in many small
    // deliveries wakes the thread once per event instead of once per delivery.
    port_.setReadBufferSize(hold ? std::max<qint64>(1, port_.bytesAvailable()) : 0);
}

void MSComm::onError(QSerialPort::SerialPortError error) {
    if (lost_ || !port_.isOpen()) {
        return;
    }
    if (!line_watch::lineIsGone(port_, error)) {
        // When Input has fetched the bytes in the same event-loop pass in which Qt's read
        // notifier fired, Qt reads nothing, blames a stale errno and, for EAGAIN, stops
        // listening for good. Setting the read buffer size arms the notifier again.
        port_.setReadBufferSize(port_.readBufferSize());
        return;
    }
    markLost(line_watch::lostLineMessage(port_));
}

void MSComm::markLost(const QString& systemMessage) {
    lost_ = true;
    lostDescription_ = describeLostConnection(commPort_, devicePath_, systemMessage);
    // Closed and reported from the event loop: never from inside Qt's own notification
    // handling nor from inside Output, which throws instead.
    QMetaObject::invokeMethod(
        &port_,
        [this, opening = opening_, description = lostDescription_] {
            reportLost(opening, description);
        },
        Qt::QueuedConnection);
}

void MSComm::reportLost(quint64 opening, const QString& description) {
    if (opening != opening_) {
        return; // opened again meanwhile
    }
    if (port_.isOpen()) {
        closePort();
    }
    if (OnPortLost) {
        const auto handler = OnPortLost;
        handler(description);
    }
}

void MSComm::throwIfLost() const {
    if (lost_) {
        throw PortLostError(lostDescription_);
    }
}

} // namespace norvak
