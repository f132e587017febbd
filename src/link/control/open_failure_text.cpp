#include "link/control/open_failure_text.h"

namespace norvak {

namespace {

QString portLabel(int port, const QString& path) {
    return QStringLiteral("Port %1 (%2)").arg(port).arg(path);
}

QString systemSaid(const QString& systemMessage) {
    return systemMessage.isEmpty() ? QString()
                                   : QStringLiteral(" (the system said: %1)").arg(systemMessage);
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
        return describePortInUse(port, path, {}, systemMessage);
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

QString describePortInUse(int port, const QString& path, const QString& holder,
                          const QString& systemMessage) {
    const QString who = holder.isEmpty() ? QStringLiteral("another program") : holder;
    return QStringLiteral("%1 is in use by %2%3. Close the other program, or choose another port "
                          "number.")
        .arg(portLabel(port, path), who, systemSaid(systemMessage));
}

QString describeNoPortFound(int port, const QStringList& tried) {
    const QString where =
        tried.isEmpty() ? QString() : QStringLiteral(" (tried %1)").arg(tried.join(u", "));
    return QStringLiteral("Port %1: no serial port found%2. Check the cable and the port number.")
        .arg(port)
        .arg(where);
}

QString describePortStillOpen(int port, const QString& path) {
    return QStringLiteral("%1 is open: close it before choosing another port.")
        .arg(portLabel(port, path));
}

QString describeSendFailure(int port, const QString& path, const QString& systemMessage) {
    return QStringLiteral("%1: the data could not be sent%2. Check the cable.")
        .arg(portLabel(port, path), systemSaid(systemMessage));
}

QString describeStalledLine(int port, const QString& path, int seconds) {
    return QStringLiteral("%1: the device has taken no data for %2 seconds. Check the cable "
                          "and that the device is switched on.")
        .arg(portLabel(port, path))
        .arg(seconds);
}

QString describeLostConnection(int port, const QString& path, const QString& systemMessage) {
    return QStringLiteral("%1: the connection to the device was lost%2. Check the cable and the "
                          "adapter, then open the port again.")
        .arg(portLabel(port, path), systemSaid(systemMessage));
}

} // namespace norvak
