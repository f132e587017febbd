#include "firmwarefile/firmware_file.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <utility>
#include <variant>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace norvak {

namespace {

const QString noSuchFile = QStringLiteral("no such file");
const QString aFolder = QStringLiteral("is a folder, not a file");
const QString notARegularFile = QStringLiteral("not a regular file");

} // namespace

QString whyFileNotOpened(int error) {
    switch (error) {
    case ENOENT:
    case ENOTDIR:
        return noSuchFile;
    case EACCES:
    case EPERM:
        return QStringLiteral("no permission to read it");
    case EISDIR:
        return aFolder;
    default:
        return qt_error_string(error);
    }
}

#ifdef Q_OS_UNIX

namespace {

// Opened without blocking, so that a pipe or a device put in the file's place cannot hold the
// window, and kept only when it is a regular file. The descriptor, or why there is none.
std::variant<int, QString> openRegularFile(const QString& path) {
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return whyFileNotOpened(errno);
    }
    struct stat status {};
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        const bool folder = S_ISDIR(status.st_mode);
        ::close(fd);
        return folder ? aFolder : notARegularFile;
    }
    // A regular file never blocks; reads go on as for any file.
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}

} // namespace

#endif

FirmwareOpening openFirmwareFile(const QString& path) {
    if (path.isEmpty()) {
        return FirmwareOpening(QStringLiteral("no firmware file chosen"));
    }
    auto file = std::make_unique<QFile>(path);
#ifdef Q_OS_UNIX
    const auto opened = openRegularFile(path);
    if (const auto* why = std::get_if<QString>(&opened)) {
        return FirmwareOpening(*why);
    }
    const int fd = std::get<int>(opened);
    if (!file->open(fd, QIODevice::ReadOnly | QIODevice::Unbuffered,
                    QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return FirmwareOpening(file->errorString());
    }
#else
    // A FIFO or a device would block or never end; a folder has no lines.
    if (const QFileInfo info(path); !info.isFile()) {
        return FirmwareOpening(!info.exists() ? noSuchFile
                               : info.isDir() ? aFolder
                                              : notARegularFile);
    }
    if (!file->open(QIODevice::ReadOnly | QIODevice::Unbuffered)) {
        return FirmwareOpening(file->errorString());
    }
#endif
    if (file->isSequential()) {
        return FirmwareOpening(notARegularFile);
    }
    return FirmwareOpening(std::move(file));
}

} // namespace norvak
