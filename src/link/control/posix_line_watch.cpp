#include "link/control/line_watch.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>

#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace norvak::line_watch {

bool deviceExists(const QString& path) {
    return QFileInfo::exists(path);
}

bool portPresent(const QString& path) {
    return QFileInfo::exists(path);
}

bool pathAccessible(const QString& path) {
    return ::access(QFile::encodeName(path).constData(), R_OK | W_OK) == 0;
}

qint64 bytesHeldBySystem(const QSerialPort& port) {
    int count = 0;
    if (port.isOpen() && ::ioctl(port.handle(), FIONREAD, &count) == 0) {
        return count;
    }
    return 0;
}

qint64 writeDirectly(QSerialPort& port, QByteArrayView bytes) {
    if (!port.isOpen() || port.bytesToWrite() > 0) {
        return 0; // behind what Qt still holds, the bytes would go out of order
    }
    qint64 written = 0;
    while (written < bytes.size()) {
        // Qt opens the port non-blocking: a full system buffer answers EAGAIN.
        const ssize_t result = ::write(port.handle(), bytes.data() + written,
                                       static_cast<size_t>(bytes.size() - written));
        if (result > 0) {
            written += result;
        } else if (result < 0 && errno == EINTR) {
            continue;
        } else {
            break;
        }
    }
    return written;
}

bool lineIsGone(const QSerialPort& port, QSerialPort::SerialPortError error) {
    if (error != QSerialPort::ResourceError && error != QSerialPort::ReadError &&
        error != QSerialPort::WriteError && error != QSerialPort::UnknownError) {
        return false;
    }
    // Qt reports a full output buffer (EAGAIN) as a resource error too; only a hang-up of
    // the tty (adapter removed, other end closed) means the port is gone.
    pollfd line{port.handle(), POLLOUT, 0};
    if (::poll(&line, 1, 0) < 0) {
        return errno == EBADF;
    }
    return (line.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
}

QString lostLineMessage(const QSerialPort& port) {
    const QString systemMessage = port.errorString();
    // A hung-up line reads as end of file, and Qt then reports whatever errno was left over
    // (EAGAIN, or ENOTTY from a terminal request that failed on the dead line).
    pollfd line{port.handle(), POLLIN, 0};
    const bool hungUp = port.isOpen() && ::poll(&line, 1, 0) > 0 && (line.revents & POLLHUP) != 0;
    if (hungUp || systemMessage == qt_error_string(EAGAIN) ||
        systemMessage == qt_error_string(ENOTTY)) {
        return QStringLiteral("the line hung up");
    }
    return systemMessage;
}

} // namespace norvak::line_watch
