#include "link/serial_link.h"

#include "link/control/serial_control.h"
#include "protocol/boot_line.h"
#include "seam/failure_handling.h"

#include <limits>

namespace norvak {

QString linkSettings(std::int32_t baudRate) {
    return QString::number(baudRate) + QLatin1StringView(protocol::settingsAfterRate);
}

namespace {

[[noreturn]] void refusePortText(const QString& text, const QString& why) {
    throw SerialError(QStringLiteral("Port number \"%1\" %2. Type the number of the serial "
                                     "port, for example 1.")
                          .arg(text, why));
}

// The value of `digits`, or why they name no port: a character that is no ASCII digit, or a
// value beyond what a 32-bit number holds (found at the first digit that passes it).
struct Magnitude {
    std::int64_t value = 0;
    QString problem;
};

Magnitude magnitudeOf(QStringView digits) {
    constexpr std::int64_t limit = std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1;
    const QString notWhole = QStringLiteral("is not a whole number");
    if (digits.isEmpty()) {
        return {.value = 0, .problem = notWhole};
    }
    std::int64_t value = 0;
    for (const QChar digit : digits) {
        const char16_t c = digit.unicode();
        if (c < u'0' || c > u'9') {
            return {.value = 0, .problem = notWhole};
        }
        value = value * 10 + (c - u'0');
        if (value > limit) {
            return {.value = 0, .problem = QStringLiteral("is too large")};
        }
    }
    return {.value = value, .problem = {}};
}

} // namespace

std::int32_t parsePortText(const QString& text) {
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty()) {
        refusePortText(text, QStringLiteral("is empty"));
    }
    const bool hasSign = trimmed[0] == u'+' || trimmed[0] == u'-';
    const Magnitude magnitude = magnitudeOf(QStringView(trimmed).sliced(hasSign ? 1 : 0));
    if (!magnitude.problem.isEmpty()) {
        refusePortText(text, magnitude.problem);
    }
    const std::int64_t value = trimmed[0] == u'-' ? -magnitude.value : magnitude.value;
    if (value > std::numeric_limits<std::int32_t>::max()) {
        refusePortText(text, QStringLiteral("is too large"));
    }
    return static_cast<std::int32_t>(value);
}

namespace {

std::int16_t narrowPort(std::int32_t portNumber) {
    if (portNumber < std::numeric_limits<std::int16_t>::min() ||
        portNumber > std::numeric_limits<std::int16_t>::max()) {
        throw SerialError(QStringLiteral("Port number %1 is out of range. Type the number of the "
                                         "serial port, for example 1.")
                              .arg(portNumber));
    }
    return static_cast<std::int16_t>(portNumber);
}

} // namespace

bool SerialLink::btnCon_Click() {
    connectFailure_.reset();
    if (away_) {
        giveUpAwayPort();
        return true;
    }
    return reportingFailure<SerialError>(
        [this] {
            if (!PortOpen()) {
                SetupPort();
            } else {
                ToggleConnection();
            }
        },
        [this](const QString& description) { reportConnectFailure(description); });
}

void SerialLink::SetupPort() {
    if (comm_.PortOpen()) {
        comm_.setPortOpen(false);
    }
    WindowMembers& members = w_.shared();
    members.portNumber = parsePortText(w_.portText());
    members.baudRate = protocol::baudRate;
    comm_.setCommPort(narrowPort(members.portNumber));
    comm_.setSettings(linkSettings(members.baudRate));
    comm_.setRThreshold(1);
    ToggleConnection();
}

void SerialLink::ToggleConnection() {
    bool& connected = w_.shared().Connected;
    reportingFailure<SerialError>(
        [this, &connected] {
            if (!comm_.PortOpen()) {
                comm_.setOutBufferSize(16);
                comm_.setInputLen(1);
                comm_.setPortOpen(true);
                lossReported_ = false;
                away_ = false;
                connected = true;
                w_.setButtonCaption(WindowButton::Connect, disconnectCaption);
            } else {
                connected = false;
                comm_.setPortOpen(false);
                w_.setButtonCaption(WindowButton::Connect, connectCaption);
            }
            w_.setStatusText(QStringLiteral("Connect: ") +
                             (connected ? QStringLiteral("True") : QStringLiteral("False")));
        },
        [this, &connected](const QString& description) {
            connected = false;
            connectFailure_ = description;
            showErrorCaption(description);
            closeIfOpen();
        });
}

void SerialLink::ClosePort() {
    // Closing ignores its failure by design.
    ignoringFailure<SerialError>([this] { comm_.setPortOpen(false); });
}

bool SerialLink::PortOpen() const {
    return comm_.PortOpen();
}

void SerialLink::BaudRate(std::int16_t val) {
    w_.shared().baudRate = val;
    const QString settings = linkSettings(val);
    if (comm_.PortOpen()) {
        comm_.setPortOpen(false);
        comm_.setSettings(settings);
        comm_.setPortOpen(true);
    } else {
        comm_.setSettings(settings);
    }
}

void SerialLink::comPort(std::int16_t val) {
    w_.shared().portNumber = val;
    if (comm_.PortOpen()) {
        comm_.setPortOpen(false);
        comm_.setCommPort(narrowPort(val));
        comm_.setPortOpen(true);
    } else {
        comm_.setCommPort(narrowPort(val));
    }
}

void SerialLink::Send(int data, bool invert) {
    if (!comm_.PortOpen()) {
        return;
    }
    const int value = invert ? (data ^ 255) : data;
    const char byte = static_cast<char>(static_cast<unsigned char>(value & 0xFF));
    comm_.Output(QByteArrayView(&byte, 1));
}

void SerialLink::SendPacket(int cmd, const PacketData& data) {
    const auto writeByte = [this](long long value) {
        if (value < 0 || value > 255) {
            throw SerialError(QStringLiteral("Invalid byte value %1").arg(value));
        }
        const char byte = static_cast<char>(static_cast<unsigned char>(value));
        comm_.Output(QByteArrayView(&byte, 1));
    };
    // The packet sender drops its failures; the bytes already written stay on the line.
    droppingFailure<SerialError>([&writeByte, cmd, &data] {
        writeByte(cmd);
        if (data) {
            writeByte(static_cast<long long>(data->size()));
            for (const int element : *data) {
                writeByte(element);
            }
        } else {
            writeByte(0);
        }
        writeByte(cmd ^ 255);
    });
}

bool SerialLink::reportPortLost(const QString& description) {
    if (lossReported_) {
        return false;
    }
    lossReported_ = true;
    away_ = false;
    w_.shared().Connected = false;
    closeIfOpen();
    showErrorCaption(description);
    w_.setButtonCaption(WindowButton::Connect, connectCaption);
    return true;
}

bool SerialLink::leavePortAway() {
    if (away_ || lossReported_) {
        return false;
    }
    away_ = true;
    // A lost port no longer counts as open, but its line and claim are still held.
    ClosePort();
    return true;
}

void SerialLink::giveUpAwayPort() {
    // The caption still said "Disconnect": the press disconnects a port that is closed already.
    away_ = false;
    w_.shared().Connected = false;
    w_.setButtonCaption(WindowButton::Connect, connectCaption);
    w_.setStatusText(QStringLiteral("Connect: False"));
}

bool SerialLink::reopenAwayPort() {
    if (!away_) {
        return comm_.PortOpen();
    }
    // The port number and the settings stay with the serial control from the Connect press.
    const bool reopened = droppingFailure<SerialError>([this] {
        comm_.setOutBufferSize(16);
        comm_.setInputLen(1);
        comm_.setPortOpen(true);
    });
    away_ = !reopened || !comm_.PortOpen();
    return !away_;
}

void SerialLink::reportConnectFailure(const QString& description) {
    connectFailure_ = description;
    closeIfOpen();
    showErrorCaption(description);
}

void SerialLink::showErrorCaption(const QString& description) {
    w_.setStatusCaption(QStringLiteral(", Connect: ") + QStringLiteral("  Error ") +
                        w_.toolkit().timeOfDayText() + description);
}

void SerialLink::closeIfOpen() {
    // Whatever failed, the port must end up closed; there is nothing more to do.
    if (comm_.PortOpen()) {
        ClosePort();
    }
}

} // namespace norvak
