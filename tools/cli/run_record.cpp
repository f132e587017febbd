#include "tools/cli/run_record.h"

#include "firmwarefile/firmware_file.h"
#include "firmwarefile/line_reader.h"
#include "programming/firmware_streamer.h"
#include "protocol/boot_line.h"
#include "tools/cli/named_file.h"

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSerialPortInfo>

namespace norvak::cli {

namespace {

// The SHA-256 of what `file` holds from its start, read in pieces; empty when a read fails.
QString sha256Of(QFile& file) {
    QCryptographicHash hash(QCryptographicHash::Sha256);
    return hash.addData(&file) ? QString::fromLatin1(hash.result().toHex()) : QString();
}

QJsonValue orNull(const QString& text) {
    return text.isEmpty() ? QJsonValue() : QJsonValue(text);
}

QJsonValue orNull(std::optional<qint64> number) {
    // A JSON number is a double: exact for every count and time a run can reach.
    return number ? QJsonValue(static_cast<double>(*number)) : QJsonValue();
}

QJsonValue hexOrNull(std::optional<quint16> id) {
    return id ? QJsonValue(QString::number(*id, 16).rightJustified(4, QLatin1Char('0')))
              : QJsonValue();
}

bool isOne(QByteArrayView bytes, char protocolCharacter) {
    return bytes.size() == 1 && bytes.front() == protocolCharacter;
}

} // namespace

FirmwareFacts firmwareFacts(const QString& path, const NamedFile& file) {
    FirmwareFacts facts;
    facts.path = path;
    const FirmwareOpening hashing = file.open();
    if (!hashing.isOpen()) {
        return facts;
    }
    facts.size = hashing.file().size();
    facts.sha256 = sha256Of(hashing.file());
    const FirmwareOpening counting = file.open();
    if (counting.isOpen()) {
        try {
            facts.lines = FirmwareStreamer::countLines(counting.file());
        } catch (const FirmwareFileError&) {
            // Unknown: the run itself says why the file could not be read.
        }
    }
    return facts;
}

AdapterFacts adapterFacts(const QString& devicePath) {
    AdapterFacts facts;
    if (devicePath.isEmpty()) {
        return facts;
    }
    const QString device = QFileInfo(devicePath).canonicalFilePath();
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
        const QString listed = QFileInfo(info.systemLocation()).canonicalFilePath();
        if (listed.isEmpty() || (listed != device && info.systemLocation() != devicePath)) {
            continue;
        }
        if (info.hasVendorIdentifier()) {
            facts.vendorId = info.vendorIdentifier();
        }
        if (info.hasProductIdentifier()) {
            facts.productId = info.productIdentifier();
        }
        facts.serialNumber = info.serialNumber();
        facts.systemLocation = info.systemLocation();
        break;
    }
    return facts;
}

RunTally::RunTally(Clock clock)
    : clock_(std::move(clock)) {}

void RunTally::startPressed() {
    if (!started_) {
        started_ = clock_();
    }
}

void RunTally::received(QByteArrayView bytes, FlashState state) {
    switch (state) {
    case FlashState::Sending:
        dotsReceived_ += isOne(bytes, protocol::lineAccepted) ? 1 : 0;
        break;
    case FlashState::WaitingForBoot:
        if (!bootAnswered_ && isOne(bytes, protocol::bootPrompt)) {
            bootAnswered_ = clock_();
        }
        break;
    case FlashState::WaitingForReady:
        if (!readyForFile_ && isOne(bytes, protocol::readyForFile)) {
            readyForFile_ = clock_();
        }
        break;
    case FlashState::Idle:
        break;
    }
}

void RunTally::sent(QByteArrayView bytes) {
    linesSent_ += bytes.count(protocol::lineEnd);
}

void RunTally::ended() {
    if (!ended_) {
        ended_ = clock_();
    }
}

std::optional<qint64> RunTally::millisecondsBetween(std::optional<TimePoint> from,
                                                    std::optional<TimePoint> to) {
    if (!from || !to) {
        return std::nullopt;
    }
    return std::chrono::duration_cast<std::chrono::milliseconds>(*to - *from).count();
}

std::optional<qint64> RunTally::startToBootMs() const {
    return millisecondsBetween(started_, bootAnswered_);
}

std::optional<qint64> RunTally::readyToEndMs() const {
    return millisecondsBetween(readyForFile_, ended_);
}

QString isoUtc(const QDateTime& time) {
    return time.toUTC().toString(Qt::ISODateWithMs);
}

QByteArray recordLine(const RunRecord& record) {
    const QJsonObject adapter{
        {QStringLiteral("vendorId"), hexOrNull(record.adapter.vendorId)},
        {QStringLiteral("productId"), hexOrNull(record.adapter.productId)},
        {QStringLiteral("serialNumber"), orNull(record.adapter.serialNumber)},
        {QStringLiteral("systemLocation"), orNull(record.adapter.systemLocation)},
    };
    const QJsonObject firmware{
        {QStringLiteral("path"), record.firmware.path},
        {QStringLiteral("size"), orNull(record.firmware.size)},
        {QStringLiteral("sha256"), orNull(record.firmware.sha256)},
        {QStringLiteral("lines"), orNull(record.firmware.lines)},
    };
    const QJsonObject object{
        {QStringLiteral("startedAt"), isoUtc(record.startedAt)},
        {QStringLiteral("endedAt"), isoUtc(record.endedAt)},
        {QStringLiteral("host"), record.host},
        {QStringLiteral("port"), record.port ? QJsonValue(*record.port) : QJsonValue()},
        {QStringLiteral("device"), orNull(record.device)},
        {QStringLiteral("usb"), orNull(record.usb)},
        {QStringLiteral("devicePath"), orNull(record.devicePath)},
        {QStringLiteral("adapter"), adapter},
        {QStringLiteral("firmware"), firmware},
        {QStringLiteral("speedMs"), record.speedMs},
        {QStringLiteral("outcome"), record.outcome},
        {QStringLiteral("exitStatus"), record.exitStatus},
        {QStringLiteral("description"), record.description},
        {QStringLiteral("linesSent"), orNull(record.linesSent)},
        {QStringLiteral("dotsReceived"), orNull(record.dotsReceived)},
        {QStringLiteral("startToBootMs"), orNull(record.startToBootMs)},
        {QStringLiteral("readyToEndMs"), orNull(record.readyToEndMs)},
        {QStringLiteral("version"), record.version},
    };
    // Compact JSON escapes every line end inside a text: the record stays one line.
    return QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n';
}

} // namespace norvak::cli
