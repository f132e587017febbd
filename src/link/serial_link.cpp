#include "link/serial_link.h"

#include "link/control/serial_control.h"
#include "protocol/boot_line.h"
#include "seam/failure_handling.h"

#include <QLocale>

#include <cmath>
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

// Whether `text` is a decimal number in plain ASCII: a sign, digits with an optional fraction
// ("4", "4.0", ".5", "4."), an optional exponent ("4e0"). Other scripts' digits, hexadecimal,
// group separators, "inf" and "nan" hold no number here.
bool holdsDecimalNumber(QStringView text) {
    qsizetype at = 0;
    const auto digitsFrom = [&text, &at] {
        const qsizetype start = at;
        while (at < text.size() && text[at] >= u'0' && text[at] <= u'9') {
            ++at;
        }
        return at - start;
    };
    if (at < text.size() && (text[at] == u'+' || text[at] == u'-')) {
        ++at;
    }
    qsizetype mantissaDigits = digitsFrom();
    if (at < text.size() && text[at] == u'.') {
        ++at;
        mantissaDigits += digitsFrom();
    }
    if (mantissaDigits == 0) {
        return false;
    }
    if (at < text.size() && (text[at] == u'e' || text[at] == u'E')) {
        ++at;
        if (at < text.size() && (text[at] == u'+' || text[at] == u'-')) {
            ++at;
        }
        if (digitsFrom() == 0) {
            return false;
        }
    }
    return at == text.size();
}

// The nearest whole number, a half to the even one (4.5 gives 4, 5.5 gives 6), as the
// conversion of a text to a whole number has always rounded.
double nearestWhole(double value) {
    const double down = std::floor(value);
    const double fraction = value - down;
    if (fraction > 0.5) {
        return down + 1;
    }
    if (fraction < 0.5) {
        return down;
    }
    return std::fmod(down, 2.0) == 0.0 ? down : down + 1;
}

} // namespace

std::int32_t parsePortText(const QString& text) {
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty()) {
        refusePortText(text, QStringLiteral("is empty"));
    }
    if (!holdsDecimalNumber(trimmed)) {
        refusePortText(text, QStringLiteral("is not a whole number"));
    }
    bool converted = false;
    const double value = QLocale::c().toDouble(trimmed, &converted);
    // The form is checked above: what the conversion refuses lies beyond a double's range.
    const double whole = converted ? nearestWhole(value) : std::numeric_limits<double>::infinity();
    if (whole < std::numeric_limits<std::int32_t>::min() ||
        whole > std::numeric_limits<std::int32_t>::max()) {
        refusePortText(text, QStringLiteral("is too large"));
    }
    return static_cast<std::int32_t>(whole);
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
