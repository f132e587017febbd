#pragma once

// What only the operating system can tell about a serial port: whether its device is there,
// whether we may use it, what it holds that Qt has not read, and whether the line hung up;
// and writing to it without Qt's buffer where the system allows.
// CMake builds one implementation per platform: POSIX ttys, or ports that are no files
// (Windows' COMn).

#include <QByteArrayView>
#include <QSerialPort>
#include <QString>

namespace norvak::line_watch {

// Whether a candidate path names a device; where ports are no files, opening tells.
[[nodiscard]] bool deviceExists(const QString& path);

// Whether the port's device is there now, without opening it: a cheap look, made again and
// again while a program waits for a port to appear.
[[nodiscard]] bool portPresent(const QString& path);

// Whether we may read and write the path; true where the system cannot be asked.
[[nodiscard]] bool pathAccessible(const QString& path);

// Bytes the system holds for an open port that Qt has not read yet; 0 where it cannot be
// asked.
[[nodiscard]] qint64 bytesHeldBySystem(const QSerialPort& port);

// Writes to an open port whose Qt buffer is empty as much of `bytes` as the system takes at
// once, and returns how much that was; 0 where ports are no files. Qt's own write arms a
// write notifier for every piece and disarms it on the next pass of the event loop: two
// wake-ups of the loop for every line of a file. What is not taken, and any failure, is left
// to Qt's write, which reports it.
[[nodiscard]] qint64 writeDirectly(QSerialPort& port, QByteArrayView bytes);

// Whether `error`, reported on an open port, means the line is gone (adapter removed, other
// end closed) rather than a passing condition.
[[nodiscard]] bool lineIsGone(const QSerialPort& port, QSerialPort::SerialPortError error);

// The system's message for a line found gone, in the operator's words where Qt's is stale.
[[nodiscard]] QString lostLineMessage(const QSerialPort& port);

} // namespace norvak::line_watch
