#pragma once

// Firmware files the streamer cannot read, one of each kind, with the reason it gives.

#include <QFile>
#include <QString>
#include <QTemporaryDir>
#include <QTest>

#include <utility>

#ifdef Q_OS_LINUX
#include <sys/stat.h>
#endif

namespace norvak::test {

// Adds the rows "kind" and "why" of a data-driven test: each kind of unreadable file.
inline void addUnreadableFileRows() {
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("why");
    const std::pair<const char*, const char*> rows[] = {
        {"missing", "no such file"},
        {"missing folder", "no such file"},
        {"below a file", "no such file"},
        {"folder", "is a folder, not a file"},
#ifdef Q_OS_LINUX
        // Windows has no FIFO or device in its file system, and no read-only rights that
        // keep its owner out.
        {"fifo", "not a regular file"},
        {"device", "not a regular file"},
        {"no permission", "no permission to read it"},
#endif
    };
    for (const auto& [kind, why] : rows) {
        QTest::newRow(kind) << QString::fromLatin1(kind) << QString::fromLatin1(why);
    }
}

// Makes a file of `kind` in `dir` and returns its path; empty when it could not be made. A
// file without read permission keeps out everyone but root, and root too while
// ReadingAsAnotherUser is in force: its folder lets anyone in.
inline QString makeUnreadableFile(const QTemporaryDir& dir, const QString& kind) {
    const QString file = dir.filePath(QStringLiteral("fw.srec"));
    {
        QFile written(file);
        if (!written.open(QIODevice::WriteOnly) || written.write("S0030000FC\r\n") <= 0) {
            return {};
        }
    }
    if (kind == "missing folder") {
        return dir.filePath(QStringLiteral("nofolder/fw.srec"));
    }
    if (kind == "below a file") {
        return file + QStringLiteral("/fw.srec");
    }
    if (kind == "folder") {
        return dir.path();
    }
#ifdef Q_OS_LINUX
    if (kind == "fifo") {
        // No writer: an opening that waited for one would never return.
        const QString fifo = dir.filePath(QStringLiteral("fifo.srec"));
        return ::mkfifo(QFile::encodeName(fifo).constData(), 0600) == 0 ? fifo : QString();
    }
    if (kind == "device") {
        return QStringLiteral("/dev/zero");
    }
    if (kind == "no permission") {
        const bool made =
            QFile::setPermissions(dir.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                  QFileDevice::ExeOwner | QFileDevice::ExeOther) &&
            QFile::setPermissions(file, QFileDevice::WriteOwner);
        return made ? file : QString();
    }
#endif
    return dir.filePath(QStringLiteral("missing.srec"));
}

} // namespace norvak::test
