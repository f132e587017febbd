#pragma once

// What the serial control tells the operator when a port cannot be used: which port, what
// went wrong, what the system said and what to do about it.

#include <QSerialPort>
#include <QString>
#include <QStringList>

namespace norvak {

// Why an open failed, as the operator needs to hear it.
enum class OpenFailure { NotFound, PermissionDenied, InUse, UnsupportedSettings, Other };

// Qt reports a lock held by another program like a permission problem; only a path we may
// read and write tells it apart.
[[nodiscard]] OpenFailure classifyOpenFailure(QSerialPort::SerialPortError error,
                                              bool pathAccessible);

// "Port 1 (/dev/ttyUSB0): permission denied ..." with what to do about it.
[[nodiscard]] QString describeOpenFailure(int port, const QString& path, OpenFailure failure,
                                          const QString& systemMessage,
                                          const QString& settings = {});

// "Port 1 (/dev/ttyUSB0) is in use by ModemManager (pid 812) ...": `holder` names the program
// where the system tells, else "another program" stands for it.
[[nodiscard]] QString describePortInUse(int port, const QString& path, const QString& holder,
                                        const QString& systemMessage = {});

// "Port 7: no serial port found (tried /dev/ttyUSB6, /dev/ttyACM6, /dev/ttyS6)".
[[nodiscard]] QString describeNoPortFound(int port, const QStringList& tried);

// Another port was chosen while this one is open.
[[nodiscard]] QString describePortStillOpen(int port, const QString& path);
// The system took fewer bytes than were written.
[[nodiscard]] QString describeSendFailure(int port, const QString& path,
                                          const QString& systemMessage);
// The line has taken nothing for `seconds`.
[[nodiscard]] QString describeStalledLine(int port, const QString& path, int seconds);
// The adapter was removed or the other end went away while the port was open.
[[nodiscard]] QString describeLostConnection(int port, const QString& path,
                                             const QString& systemMessage);

} // namespace norvak
