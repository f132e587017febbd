#include "tools/cli/named_file.h"

#include "tools/cli/shown_text.h"

#include <QFile>

#ifdef Q_OS_LINUX
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>
#endif

namespace norvak::cli {

QString argumentText(const QByteArray& bytes) {
#ifdef Q_OS_WIN
    return QString::fromUtf8(bytes);
#else
    return QFile::decodeName(bytes);
#endif
}

QByteArray argumentBytes(const QString& text) {
#ifdef Q_OS_WIN
    return text.toUtf8();
#else
    return QFile::encodeName(text);
#endif
}

NamedFile::NamedFile(const QByteArray& bytes)
    : path_(argumentText(bytes))
    , shown_(shownName(bytes)) {
#ifdef Q_OS_LINUX
    if (QFile::encodeName(path_) == bytes) {
        return;
    }
    // Not blocking: a FIFO must not hang the program here; the streamer refuses it later.
    descriptor_ = ::open(bytes.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (descriptor_ < 0) {
        failure_ = whyFileNotOpened(errno);
        return;
    }
    path_ = QStringLiteral("/proc/self/fd/%1").arg(descriptor_);
#endif
}

FirmwareOpening NamedFile::open() const {
    if (failure_) {
        return FirmwareOpening(*failure_);
    }
    return openFirmwareFile(path_);
}

QString NamedFile::unreadable(const QString& why) const {
    return QStringLiteral("%1: %2").arg(shown_, why);
}

NamedFile::~NamedFile() {
#ifdef Q_OS_LINUX
    if (descriptor_ >= 0) {
        ::close(descriptor_);
    }
#endif
}

} // namespace norvak::cli
