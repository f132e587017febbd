#include "link/control/mscomm.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QMetaObject>
#include <QScopedValueRollback>

#include <algorithm>
#include <array>
#include <cerrno>
#include <limits>
#include <utility>

#ifdef Q_OS_UNIX
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>
#endif

namespace norvak {

namespace {

QString portLabel(int port, const QString& path) {
    return QStringLiteral("Port %1 (%2)").arg(port).arg(path);
}

QString systemSaid(const QString& systemMessage) {
    return systemMessage.isEmpty() ? QString()
                                   : QStringLiteral(" (the system said: %1)").arg(systemMessage);
}

bool deviceExists(const QString& path) {
#ifdef Q_OS_WIN
    Q_UNUSED(path);
    return true; // COMn names are no files; opening tells whether the port is there
#else
    return QFileInfo::exists(path);
#endif
}

// Every byte value once, so that a one-byte Input can hand out a view instead of a copy.
constexpr std::array<char, 256> byteValues = [] {
    std::array<char, 256> values{};
    for (std::size_t i = 0; i < values.size(); ++i) {
        values[i] = static_cast<char>(i);
    }
    return values;
}();

bool pathAccessible(const QString& path) {
#ifdef Q_OS_UNIX
    return ::access(QFile::encodeName(path).constData(), R_OK | W_OK) == 0;
#else
    Q_UNUSED(path);
    return true;
#endif
}

} // namespace

OpenFailure classifyOpenFailure(QSerialPort::SerialPortError error, bool pathAccessible) {
    switch (error) {
    case QSerialPort::DeviceNotFoundError:
        return OpenFailure::NotFound;
    case QSerialPort::PermissionError:
        return pathAccessible ? OpenFailure::InUse : OpenFailure::PermissionDenied;
    case QSerialPort::OpenError:
        return OpenFailure::InUse;
    case QSerialPort::UnsupportedOperationError:
        return OpenFailure::UnsupportedSettings;
    default:
        return OpenFailure::Other;
    }
}

QString describeOpenFailure(int port, const QString& path, OpenFailure failure,
                            const QString& systemMessage, const QString& settings) {
    const QString label = portLabel(port, path);
    const QString said = systemSaid(systemMessage);
    switch (failure) {
    case OpenFailure::NotFound:
        return QStringLiteral("%1: no such device%2. Check the cable and the port number.")
            .arg(label, said);
    case OpenFailure::PermissionDenied:
        return QStringLiteral("%1: permission denied%2. Add your user to the dialout group "
                              "(sudo usermod -aG dialout $USER) and log in again.")
            .arg(label, said);
    case OpenFailure::InUse:
        return QStringLiteral("%1 is in use by another program%2. Close the other program, or "
                              "choose another port number.")
            .arg(label, said);
    case OpenFailure::UnsupportedSettings:
        return QStringLiteral("%1 does not accept the line settings %2%3. Check the port number "
                              "and the settings.")
            .arg(label, settings, said);
    case OpenFailure::Other:
        break;
    }
    return QStringLiteral("%1 could not be opened%2. Check the cable and the port number.")
        .arg(label, said);
}

QString describeNoPortFound(int port, const QStringList& tried) {
    const QString where =
        tried.isEmpty() ? QString() : QStringLiteral(" (tried %1)").arg(tried.join(u", "));
    return QStringLiteral("Port %1: no serial port found%2. Check the cable and the port number.")
        .arg(port)
        .arg(where);
}

MSComm::MSComm(PortCandidates candidates)
    : candidates_(std::move(candidates))
    , settings_(parseSerialSettings(settingsText_)) {
    QObject::connect(&port_, &QSerialPort::readyRead, &port_, [this] { onReadyRead(); });
    QObject::connect(&port_, &QSerialPort::errorOccurred, &port_,
                     [this](QSerialPort::SerialPortError error) { onError(error); });
    receiveGapTimer_.setSingleShot(true);
    receiveGapTimer_.setTimerType(Qt::PreciseTimer);
    QObject::connect(&receiveGapTimer_, &QTimer::timeout, &port_, [this] {
        holdBytesInSystem(false);
        raiseReceiveIfDue();
    });
}

MSComm::~MSComm() {
    // Closing must not call back into a half-destroyed control.
    QObject::disconnect(&port_, nullptr, nullptr, nullptr);
}

void MSComm::setCommPort(std::int16_t port) {
    if (port_.isOpen() && !lost_) {
        throw SerialError(QStringLiteral("%1 is open: close it before choosing another port.")
                              .arg(portLabel(commPort_, devicePath_)));
    }
    if (port < 1) {
        throw SerialError(
            QStringLiteral("Port number %1 is not valid: port numbers start at 1.").arg(port));
    }
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
    if (count < 0) {
        throw SerialError(
            QStringLiteral("RThreshold %1 is not valid: it must not be negative.").arg(count));
    }
    rThreshold_ = count;
    if (PortOpen() && rThreshold_ > 0) {
        scheduleReceiveCheck(); // bytes may be waiting already
    }
}

void MSComm::setInputLen(std::int16_t count) {
    if (count < 0) {
        throw SerialError(
            QStringLiteral("InputLen %1 is not valid: it must not be negative.").arg(count));
    }
    inputLen_ = count;
}

void MSComm::setOutBufferSize(std::int16_t bytes) {
    if (bytes < 0) {
        throw SerialError(
            QStringLiteral("OutBufferSize %1 is not valid: it must not be negative.").arg(bytes));
    }
    outBufferSize_ = bytes;
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
        port_.close(); // lost, the report is still queued
    }
    lost_ = false; // a failed attempt leaves the port plainly closed
    lostDescription_.clear();
    const QString path = findDevice();
    port_.setPortName(path);
    port_.setBaudRate(settings_.baudRate);
    port_.setParity(settings_.parity);
    port_.setDataBits(settings_.dataBits);
    port_.setStopBits(settings_.stopBits);
    port_.setFlowControl(QSerialPort::NoFlowControl);
    if (!port_.open(QIODevice::ReadWrite)) {
        const OpenFailure failure = classifyOpenFailure(port_.error(), pathAccessible(path));
        throw SerialError(
            describeOpenFailure(commPort_, path, failure, port_.errorString(), settingsText_));
    }
    ++opening_;
    checkQueued_ = false;
    dropFetched();
    commEvent_ = 0;
    receiveGapTimer_.stop();
    holdBytesInSystem(false);
    lastReceiveEvent_.invalidate();
}

void MSComm::close() {
    receiveGapTimer_.stop();
    holdBytesInSystem(false);
    dropFetched();
    if (!port_.isOpen()) {
        return;
    }
    if (!lost_) {
        flushToSystem(); // what the system still takes goes out; Qt drops the rest
    }
    port_.close();
}

QString MSComm::findDevice() {
    const QStringList tried = candidates_ ? candidates_(commPort_) : QStringList();
    const auto found = std::find_if(tried.cbegin(), tried.cend(), deviceExists);
    devicePath_ = found != tried.cend() ? *found : tried.value(0);
    if (found == tried.cend()) {
        throw SerialError(describeNoPortFound(commPort_, tried));
    }
    return *found;
}

void MSComm::applySettings(const SerialSettings& settings, const QString& text) {
    const bool applied = port_.setBaudRate(settings.baudRate) && port_.setParity(settings.parity) &&
                         port_.setDataBits(settings.dataBits) &&
                         port_.setStopBits(settings.stopBits);
    if (applied) {
        return;
    }
    const QString systemMessage = port_.errorString();
    // Put the line back as it was, so that a rejected text changes nothing.
    port_.setBaudRate(settings_.baudRate);
    port_.setParity(settings_.parity);
    port_.setDataBits(settings_.dataBits);
    port_.setStopBits(settings_.stopBits);
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
    const qint64 accepted = port_.write(bytes.data(), bytes.size());
    throwIfLost();
    if (accepted != bytes.size()) {
        throw SerialError(
            QStringLiteral("%1: the data could not be sent%2. Check the cable.")
                .arg(portLabel(commPort_, devicePath_), systemSaid(port_.errorString())));
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
            throw SerialError(
                QStringLiteral("%1: the device has taken no data for %2 seconds. Check the cable "
                               "and that the device is switched on.")
                    .arg(portLabel(commPort_, devicePath_))
                    .arg(kStallTimeoutMs / 1000));
        }
    }
}

qint64 MSComm::bytesHeldBySystem() const {
#ifdef Q_OS_UNIX
    int count = 0;
    if (port_.isOpen() && ::ioctl(port_.handle(), FIONREAD, &count) == 0) {
        return count;
    }
#endif
    return 0;
}

qint64 MSComm::fetchedBytes() const {
    return (fetched_.size() - fetchedAt_) + port_.bytesAvailable();
}

qint64 MSComm::waitingBytes() const {
    return fetchedBytes() + bytesHeldBySystem();
}

std::int16_t MSComm::InBufferCount() const {
    if (!PortOpen()) {
        return 0;
    }
    qint64 count = fetchedBytes();
    if (count == 0) {
        count = bytesHeldBySystem();
    }
    constexpr qint64 limit = std::numeric_limits<std::int16_t>::max();
    return static_cast<std::int16_t>(std::min(count, limit));
}

bool MSComm::fetchBlock() {
    if (fetchedAt_ < fetched_.size()) {
        return true;
    }
    if (port_.bytesAvailable() == 0 && bytesHeldBySystem() > 0) {
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
        if (!fetchBlock()) {
            return {};
        }
        const auto byte = static_cast<unsigned char>(fetched_[fetchedAt_++]);
        ++inputTaken_;
        return QByteArray::fromRawData(&byteValues[byte], 1);
    }
    const qint64 wanted = inputLen_ > 0 ? inputLen_ : std::numeric_limits<qint64>::max();
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

void MSComm::onReadyRead() {
    // Within the gap the end of the gap makes the check: a stream delivered a few bytes at a
    // time then costs no more than Qt's own read. Otherwise the check runs from the event
    // loop, outside Qt's readyRead (see the header).
    if (receiveGapTimer_.isActive()) {
        return;
    }
    scheduleReceiveCheck();
}

void MSComm::raiseReceiveIfDue() {
    if (raiseDepth_ >= kMaxReceiveNesting || !PortOpen() || rThreshold_ <= 0 || !OnComm) {
        return; // at the bound, the check after a returning handler announces what waits
    }
    const qint64 before = waitingBytes();
    if (before < rThreshold_ || deferReceiveEvent()) {
        return;
    }
    lastReceiveEvent_.start();
    // Raised from a queued check just before the end of the gap: the handler reads at once.
    receiveGapTimer_.stop();
    holdBytesInSystem(false);
    const quint64 takenBefore = inputTaken_;
    {
        const QScopedValueRollback depth(raiseDepth_, raiseDepth_ + 1);
        commEvent_ = comm_event::Receive;
        const auto handler = OnComm; // the handler may replace OnComm
        handler();
    }
    const qint64 after = PortOpen() ? waitingBytes() : 0;
    const auto taken = static_cast<qint64>(inputTaken_ - takenBefore);
    const qint64 arrived = after - before + taken;
    // Bytes may have come that no nested event announced (the nesting bound), and a handler
    // limited by InputLen may leave some behind. A handler that took nothing while nothing
    // new came has seen what waits: raising again would only spin.
    if (after >= rThreshold_ && rThreshold_ > 0 && (arrived > 0 || taken > 0)) {
        scheduleReceiveCheck();
    }
}

void MSComm::holdBytesInSystem(bool hold) {
    // Qt stops reading once its buffer holds readBufferSize bytes, and setting the size
    // starts it reading again. Within the gap the bytes wait in the system (a pseudo-terminal
    // or a USB adapter then holds the sender back; a serial line's system buffer takes far
    // more than a gap's worth), so that a stream the system hands on in many small
    // deliveries wakes the thread once per event instead of once per delivery.
    port_.setReadBufferSize(hold ? std::max<qint64>(1, port_.bytesAvailable()) : 0);
}

bool MSComm::deferReceiveEvent() {
    if (!lastReceiveEvent_.isValid()) {
        return false;
    }
    const auto since = std::chrono::nanoseconds(lastReceiveEvent_.nsecsElapsed());
    if (since >= kReceiveEventGap) {
        return false;
    }
    if (!receiveGapTimer_.isActive()) {
        receiveGapTimer_.start(
            std::chrono::ceil<std::chrono::milliseconds>(kReceiveEventGap - since));
        holdBytesInSystem(true);
    }
    return true;
}

void MSComm::scheduleReceiveCheck() {
    if (checkQueued_) {
        return;
    }
    checkQueued_ = true;
    QMetaObject::invokeMethod(
        &port_,
        [this, opening = opening_] {
            if (opening != opening_) {
                return;
            }
            checkQueued_ = false;
            raiseReceiveIfDue();
        },
        Qt::QueuedConnection);
}

void MSComm::onError(QSerialPort::SerialPortError error) {
    if (lost_ || !port_.isOpen()) {
        return;
    }
    if (!lineIsGone(error)) {
        // When Input has fetched the bytes in the same event-loop pass in which Qt's read
        // notifier fired, Qt reads nothing, blames a stale errno and, for EAGAIN, stops
        // listening for good. Setting the read buffer size arms the notifier again.
        port_.setReadBufferSize(port_.readBufferSize());
        return;
    }
    QString systemMessage = port_.errorString();
#ifdef Q_OS_UNIX
    // A hung-up line reads as end of file, and Qt then reports a stale errno.
    if (systemMessage == qt_error_string(EAGAIN)) {
        systemMessage = QStringLiteral("the line hung up");
    }
#endif
    markLost(systemMessage);
}

bool MSComm::lineIsGone(QSerialPort::SerialPortError error) const {
    if (error != QSerialPort::ResourceError && error != QSerialPort::ReadError &&
        error != QSerialPort::WriteError && error != QSerialPort::UnknownError) {
        return false;
    }
#ifdef Q_OS_UNIX
    // Qt reports a full output buffer (EAGAIN) as a resource error too; only a hang-up of
    // the tty (adapter removed, other end closed) means the port is gone.
    pollfd line{port_.handle(), POLLOUT, 0};
    if (::poll(&line, 1, 0) < 0) {
        return errno == EBADF;
    }
    return (line.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
#else
    return error == QSerialPort::ResourceError;
#endif
}

void MSComm::markLost(const QString& systemMessage) {
    lost_ = true;
    lostDescription_ = QStringLiteral("%1: the connection to the device was lost%2. Check the "
                                      "cable and the adapter, then open the port again.")
                           .arg(portLabel(commPort_, devicePath_), systemSaid(systemMessage));
    // Closed and reported from the event loop: never from inside Qt's own notification
    // handling nor from inside Output, which throws instead.
    QMetaObject::invokeMethod(
        &port_,
        [this, opening = opening_, description = lostDescription_] {
            if (opening != opening_) {
                return; // opened again meanwhile
            }
            if (port_.isOpen()) {
                port_.close();
            }
            if (OnPortLost) {
                const auto handler = OnPortLost;
                handler(description);
            }
        },
        Qt::QueuedConnection);
}

void MSComm::throwIfLost() const {
    if (lost_) {
        throw SerialError(lostDescription_);
    }
}

} // namespace norvak
