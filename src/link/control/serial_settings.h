#pragma once

// The line settings text of the serial control: "rate,parity,data,stop", e.g. the link's own
// rate followed by ",n,8,1".

#include <QSerialPort>
#include <QString>

namespace norvak {

struct SerialSettings {
    qint32 baudRate = 9600;
    QSerialPort::Parity parity = QSerialPort::NoParity;
    QSerialPort::DataBits dataBits = QSerialPort::Data8;
    QSerialPort::StopBits stopBits = QSerialPort::OneStop;

    friend bool operator==(const SerialSettings&, const SerialSettings&) = default;
};

// Parses exactly four comma-separated fields: a positive decimal rate, parity n/e/o/m/s
// (either case), data bits 5..8 and stop bits 1, 1.5 or 2. No blanks anywhere.
// Throws SerialError describing what is wrong.
[[nodiscard]] SerialSettings parseSerialSettings(const QString& text);

} // namespace norvak
