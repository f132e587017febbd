#pragma once

// What only the operating system can tell about a serial port: whether its device is there,
// whether we may use it, what it holds that Qt has not read, and whether the line hung up.
// CMake builds one implementation per platform: POSIX ttys, or ports that are no files
// (Windows' COMn).

#include <QSerialPort>
#include <QString>

namespace norvak::line_watch {

// Whether a candidate path names a device; where ports are no files, opening tells.
[[nodiscard]] bool deviceExists(const QString& path);

// Whether we may read and write the path; true where the system cannot be asked.
[[nodiscard]] bool pathAccessible(const QString& path);

// Bytes the system holds for an open port that Qt has not read yet; 0 where it cannot be
// asked.
[[nodiscard]] qint64 bytesHeldBySystem(const QSerialPort& port);

// Whether `error`, reported on an open port, means the line is gone (adapter removed, other
// end closed) rather than a passing condition.
[[nodiscard]] bool lineIsGone(const QSerialPort& port, QSerialPort::SerialPortError error);

// The system's message for a line found gone, in the operator's words where Qt's is stale.
[[nodiscard]] QString lostLineMessage(const QSerialPort& port);

} // namespace norvak::line_watch
