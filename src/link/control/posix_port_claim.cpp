// POSIX devices: the claim is flock() on a descriptor of our own. It conflicts with every
// other open of the same device node whatever name was opened, root's included, and the
// system drops it when the descriptor closes, however the process ended. Who holds a device
// is read from Linux's /proc where it exists.

#include "link/control/port_claim.h"

#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include <cerrno>
#include <filesystem>
#include <optional>
#include <system_error>
#include <vector>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/types.h>
#include <unistd.h>

namespace norvak {

namespace {

int openToClaim(const QString& devicePath) {
    // Non-blocking, so that a tty waiting for its carrier does not hold us; never our
    // controlling terminal.
    const QByteArray path = QFile::encodeName(devicePath);
    int descriptor = -1;
    do {
        descriptor = ::open(path.constData(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    } while (descriptor < 0 && errno == EINTR);
    return descriptor;
}

int lockExclusively(int descriptor) {
    int result = -1;
    do {
        result = ::flock(descriptor, LOCK_EX | LOCK_NB);
    } while (result != 0 && errno == EINTR);
    return result == 0 ? 0 : errno;
}

QByteArray readProcFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The process holding a lock on the device node, from /proc/locks:
// "1: FLOCK  ADVISORY  WRITE 4711 00:05:85 0 EOF", the node as hex major:minor of its file
// system and its inode number. Lines with "->" are openers waiting for the lock.
std::optional<pid_t> lockHolder(const struct stat& node) {
    const QList<QByteArray> lines = readProcFile(QStringLiteral("/proc/locks")).split('\n');
    for (const QByteArray& line : lines) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() < 6 || fields[1] == "->") {
            continue;
        }
        const QList<QByteArray> id = fields[5].split(':');
        bool pidOk = false;
        const long pid = fields[4].toLong(&pidOk);
        if (!pidOk || pid <= 0 || id.size() != 3) {
            continue;
        }
        bool majorOk = false;
        bool minorOk = false;
        bool inodeOk = false;
        const auto fsMajor = id[0].toUInt(&majorOk, 16);
        const auto fsMinor = id[1].toUInt(&minorOk, 16);
        const auto inode = id[2].toULongLong(&inodeOk);
        if (majorOk && minorOk && inodeOk && fsMajor == major(node.st_dev) &&
            fsMinor == minor(node.st_dev) && inode == node.st_ino) {
            return static_cast<pid_t>(pid);
        }
    }
    return std::nullopt;
}

bool hasDeviceOpen(const std::filesystem::path& processDir, dev_t device) {
    std::error_code error;
    std::filesystem::directory_iterator descriptors(processDir / "fd", error);
    for (; !error && descriptors != std::filesystem::directory_iterator();
         descriptors.increment(error)) {
        struct stat target {};
        if (::stat(descriptors->path().c_str(), &target) == 0 && S_ISCHR(target.st_mode) &&
            target.st_rdev == device) {
            return true;
        }
    }
    return false;
}

// The lowest-numbered other process with the character device open; only processes whose
// descriptors we may see (our user's, or all of them as root).
std::optional<pid_t> openerOf(dev_t device) {
    std::error_code error;
    std::filesystem::directory_iterator processes("/proc", error);
    std::optional<pid_t> found;
    for (; !error && processes != std::filesystem::directory_iterator();
         processes.increment(error)) {
        bool isPid = false;
        const auto pid = static_cast<pid_t>(
            QString::fromStdString(processes->path().filename().string()).toLong(&isPid));
        if (!isPid || pid == ::getpid() || (found && pid > *found)) {
            continue;
        }
        if (hasDeviceOpen(processes->path(), device)) {
            found = pid;
        }
    }
    return found;
}

// "norvak-flash-cli (pid 4711)". The system keeps only 15 characters of a program's name;
// the name it was started by completes a cut one.
QString describeProcess(pid_t pid) {
    const QString procDir = QStringLiteral("/proc/%1/").arg(pid);
    QString name = QString::fromLocal8Bit(readProcFile(procDir + QStringLiteral("comm")).trimmed());
    constexpr qsizetype kKeptNameLength = 15;
    if (name.size() == kKeptNameLength) {
        const QByteArray command =
            readProcFile(procDir + QStringLiteral("cmdline")).split('\0').value(0);
        const QString started = QFileInfo(QString::fromLocal8Bit(command)).fileName();
        if (started.startsWith(name)) {
            name = started;
        }
    }
    if (name.isEmpty()) {
        name = QStringLiteral("another program");
    }
    return QStringLiteral("%1 (pid %2)").arg(name).arg(pid);
}

} // namespace

PortClaim::~PortClaim() {
    release();
}

PortClaim::Outcome PortClaim::take(const QString& devicePath) {
    release();
    const int descriptor = openToClaim(devicePath);
    if (descriptor < 0) {
        // A tty in the system's exclusive mode refuses every opener but root.
        return errno == EBUSY ? Outcome::HeldElsewhere : Outcome::NotTaken;
    }
    const int error = lockExclusively(descriptor);
    if (error != 0) {
        ::close(descriptor);
        return error == EWOULDBLOCK ? Outcome::HeldElsewhere : Outcome::NotTaken;
    }
    descriptor_ = descriptor;
    return Outcome::Taken;
}

void PortClaim::release() {
    if (descriptor_ >= 0) {
        ::close(descriptor_); // drops the lock
        descriptor_ = -1;
    }
}

namespace port_claim {

QString devicePath(const QString& path) {
    const QString real = QFileInfo(path).canonicalFilePath();
    return real.isEmpty() ? path : real;
}

QString holderOf(const QString& devicePath) {
    struct stat node {};
    if (::stat(QFile::encodeName(devicePath).constData(), &node) != 0) {
        return {};
    }
    std::optional<pid_t> holder = lockHolder(node);
    if (!holder && S_ISCHR(node.st_mode)) {
        holder = openerOf(node.st_rdev);
    }
    return holder ? describeProcess(*holder) : QString();
}

} // namespace port_claim

} // namespace norvak
