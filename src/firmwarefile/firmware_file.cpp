#include "firmwarefile/firmware_file.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace norvak {

QString whyFileNotOpened(int error) {
    switch (error) {
    case ENOENT:
    case ENOTDIR:
        return QStringLiteral("no such file");
    case EACCES:
    case EPERM:
        return QStringLiteral("no permission to read it");
    case EISDIR:
        return QStringLiteral("is a folder, not a file");
    default:
        return qt_error_string(error);
    }
}

namespace {

#ifdef Q_OS_UNIX

// Opened without blocking, so that a pipe or a device put in the file's place cannot hold the
// window, and kept only when it is a regular file.
int openRegularFile(const QString& path) {
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        throw FirmwareFileError(whyFileNotOpened(errno));
    }
    struct stat status {};
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        const bool folder = S_ISDIR(status.st_mode);
        ::close(fd);
        throw FirmwareFileError(folder ? QStringLiteral("is a folder, not a file")
                                       : QStringLiteral("not a regular file"));
    }
    // A regular file never blocks; reads go on as for any file.
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}

#endif

} // namespace

std::unique_ptr<QFile> openFirmwareFile(const QString& path) {
    if (path.isEmpty()) {
        throw FirmwareFileError(QStringLiteral("no firmware file chosen"));
    }
    auto file = std::make_unique<QFile>(path);
#ifdef Q_OS_UNIX
    const int fd = openRegularFile(path);
    if (!file->open(fd, QIODevice::ReadOnly | QIODevice::Unbuffered,
                    QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        throw FirmwareFileError(file->errorString());
    }
#else
    // A FIFO or a device would block or never end; a folder has no lines.
    if (const QFileInfo info(path); !info.isFile()) {
        throw FirmwareFileError(!info.exists() ? QStringLiteral("no such file")
                                : info.isDir() ? QStringLiteral("is a folder, not a file")
                                               : QStringLiteral("not a regular file"));
    }
    if (!file->open(QIODevice::ReadOnly | QIODevice::Unbuffered)) {
        throw FirmwareFileError(file->errorString());
    }
#endif
    if (file->isSequential()) {
        throw FirmwareFileError(QStringLiteral("not a regular file"));
    }
    return file;
}

} // namespace norvak
