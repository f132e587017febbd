// Where serial ports are no files (Windows' COMn): Qt alone tells what happens to the line.

#include "link/control/line_watch.h"

#include <QSerialPortInfo>

namespace norvak::line_watch {

bool deviceExists(const QString& path) {
    Q_UNUSED(path);
    return true; // COMn names are no files; opening tells whether the port is there
}

bool portPresent(const QString& path) {
    // Found among the ports the system lists now (by name, as COMn).
    return !QSerialPortInfo(path).isNull();
}

bool pathAccessible(const QString& path) {
    Q_UNUSED(path);
    return true;
}

qint64 bytesHeldBySystem(const QSerialPort& port) {
    Q_UNUSED(port);
    return 0;
}

qint64 writeDirectly(QSerialPort& port, QByteArrayView bytes) {
    Q_UNUSED(port);
    Q_UNUSED(bytes);
    return 0;
}

bool lineIsGone(const QSerialPort& port, QSerialPort::SerialPortError error) {
    Q_UNUSED(port);
    return error == QSerialPort::ResourceError;
}

QString lostLineMessage(const QSerialPort& port) {
    return port.errorString();
}

} // namespace norvak::line_watch
