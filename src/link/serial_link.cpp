#include "link/serial_link.h"

#include "mainwindow/frmprog.h"

#include <QLineEdit>
#include <QPushButton>

#include <limits>

namespace norvak {

QString linkSettings(std::int32_t baudRate) {
    return QString::number(baudRate) + QStringLiteral(",n,8,1");
}

std::int32_t parsePortText(const QString& text) {
    const QString trimmed = text.trimmed();
    const auto fail = [&text](const QString& why) {
        throw SerialError(QStringLiteral("Port number \"%1\" %2. Type the number of the serial "
                                         "port, for example 1.")
                              .arg(text, why));
    };
    if (trimmed.isEmpty())
        fail(QStringLiteral("is empty"));
    qsizetype i = 0;
    bool negative = false;
    if (trimmed[0] == u'+' || trimmed[0] == u'-') {
        negative = trimmed[0] == u'-';
        ++i;
    }
    if (i == trimmed.size())
        fail(QStringLiteral("is not a whole number"));
    std::int64_t value = 0;
    for (; i < trimmed.size(); ++i) {
        const char16_t c = trimmed[i].unicode();
        if (c < u'0' || c > u'9')
            fail(QStringLiteral("is not a whole number"));
        value = value * 10 + (c - u'0');
        if (value > std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1)
            fail(QStringLiteral("is too large"));
    }
    value = negative ? -value : value;
    if (value > std::numeric_limits<std::int32_t>::max())
        fail(QStringLiteral("is too large"));
    return static_cast<std::int32_t>(value);
}

namespace {

std::int16_t narrowPort(std::int32_t portNumber) {
    if (portNumber < std::numeric_limits<std::int16_t>::min() ||
        portNumber > std::numeric_limits<std::int16_t>::max())
        throw SerialError(QStringLiteral("Port number %1 is out of range. Type the number of the "
                                         "serial port, for example 1.")
                              .arg(portNumber));
    return static_cast<std::int16_t>(portNumber);
}

} // namespace

void SerialLink::btnCon_Click() {
    if (!PortOpen())
        SetupPort();
    else
        ToggleConnection();
    w_.members.flashState = FlashState::Idle;
    w_.members.restartCountdown = 0;
    w_.btnFlash->setText(QStringLiteral("START PROGRAMMING"));
    if (w_.portOpenAndFileChosen())
        w_.btnFlash->setEnabled(true);
}

void SerialLink::SetupPort() {
    SerialControl& comm = w_.MSComm1();
    if (comm.PortOpen())
        comm.setPortOpen(false);
    w_.members.portNumber = parsePortText(w_.txtComPort->text());
    w_.members.baudRate = linkBaudRate;
    comm.setCommPort(narrowPort(w_.members.portNumber));
    comm.setSettings(linkSettings(w_.members.baudRate));
    comm.setRThreshold(1);
    ToggleConnection();
}

void SerialLink::ToggleConnection() {
    SerialControl& comm = w_.MSComm1();
    try {
        if (!comm.PortOpen()) {
            comm.setOutBufferSize(16);
            comm.setInputLen(1);
            comm.setPortOpen(true);
            lossReported_ = false;
            w_.members.Connected = true;
            w_.btnCon->setText(QStringLiteral("Disconnect"));
        } else {
            w_.members.Connected = false;
            comm.setPortOpen(false);
            w_.btnCon->setText(QStringLiteral("Connect"));
        }
        w_.setStatusText(QStringLiteral("Connect: ") +
                         (w_.members.Connected ? QStringLiteral("True") : QStringLiteral("False")));
    } catch (const SerialError& e) {
        w_.members.Connected = false;
        showErrorCaption(e.description());
        closePortIgnoringFailure();
    }
}

void SerialLink::ClosePort() {
    try {
        w_.MSComm1().setPortOpen(false);
    } catch (const SerialError&) {
        // Closing ignores its failure by design.
    }
}

bool SerialLink::PortOpen() const {
    return w_.MSComm1().PortOpen();
}

void SerialLink::BaudRate(std::int16_t val) {
    w_.members.baudRate = val;
    SerialControl& comm = w_.MSComm1();
    if (comm.PortOpen()) {
        comm.setPortOpen(false);
        comm.setSettings(linkSettings(w_.members.baudRate));
        comm.setPortOpen(true);
    } else {
        comm.setSettings(linkSettings(w_.members.baudRate));
    }
}

void SerialLink::comPort(std::int16_t val) {
    w_.members.portNumber = val;
    SerialControl& comm = w_.MSComm1();
    if (comm.PortOpen()) {
        comm.setPortOpen(false);
        comm.setCommPort(narrowPort(w_.members.portNumber));
        comm.setPortOpen(true);
    } else {
        comm.setCommPort(narrowPort(w_.members.portNumber));
    }
}

void SerialLink::Send(int data, bool invert) {
    SerialControl& comm = w_.MSComm1();
    if (!comm.PortOpen())
        return;
    const int value = invert ? (data ^ 255) : data;
    const char byte = static_cast<char>(static_cast<unsigned char>(value & 0xFF));
    comm.Output(QByteArrayView(&byte, 1));
}

void SerialLink::SendPacket(int cmd, const PacketData& data) {
    SerialControl& comm = w_.MSComm1();
    const auto writeByte = [&comm](long long value) {
        if (value < 0 || value > 255)
            throw SerialError(QStringLiteral("Invalid byte value %1").arg(value));
        const char byte = static_cast<char>(static_cast<unsigned char>(value));
        comm.Output(QByteArrayView(&byte, 1));
    };
    try {
        writeByte(cmd);
        if (data) {
            writeByte(static_cast<long long>(data->size()));
            for (const int element : *data)
                writeByte(element);
        } else {
            writeByte(0);
        }
        writeByte(cmd ^ 255);
    } catch (const SerialError&) {
        // The packet sender drops its failures; the bytes already written stay on the line.
    }
}

void SerialLink::reportPortLost(const QString& description) {
    if (lossReported_)
        return;
    lossReported_ = true;
    w_.members.Connected = false;
    closePortIgnoringFailure();
    showErrorCaption(description);
    w_.btnCon->setText(QStringLiteral("Connect"));
    w_.members.flashState = FlashState::Idle;
    w_.btnFlash->setText(QStringLiteral("START PROGRAMMING"));
    w_.stopAllTimers();
}

void SerialLink::reportConnectFailure(const QString& description) {
    closePortIgnoringFailure();
    showErrorCaption(description);
}

void SerialLink::showErrorCaption(const QString& description) {
    w_.setStatusCaption(QStringLiteral(", Connect: ") + QStringLiteral("  Error ") +
                        w_.toolkit().timeOfDayText() + description);
}

void SerialLink::closePortIgnoringFailure() {
    try {
        SerialControl& comm = w_.MSComm1();
        if (comm.PortOpen())
            comm.setPortOpen(false);
    } catch (const SerialError&) {
        // Whatever failed, the port must end up closed; there is nothing more to do.
    }
}

} // namespace norvak
