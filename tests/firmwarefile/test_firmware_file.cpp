// Opening a firmware file: a regular file opens for reading; anything else is an answer with
// the operator's reason, never a failure of the program. Nothing is created, nothing blocks.

#include "firmwarefile/firmware_file.h"
#include "tests/support/reading_as_another_user.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#ifdef Q_OS_LINUX
#include <sys/stat.h>
#endif

using namespace norvak;

class TestFirmwareFile : public QObject {
    Q_OBJECT

private slots:
    void aRegularFileOpensForReadingOnly();
    void anUnreadableFileIsRefusedWithItsReason_data();
    void anUnreadableFileIsRefusedWithItsReason();
};

void TestFirmwareFile::aRegularFileOpensForReadingOnly() {
    const QTemporaryDir dir;
    for (const QByteArray& contents : {QByteArray("S0030000FC\r\nS9030000FC\r\n"), QByteArray()}) {
        const QString path = dir.filePath(QStringLiteral("fw.srec"));
        QFile written(path);
        QVERIFY(written.open(QIODevice::WriteOnly | QIODevice::Truncate));
        QCOMPARE(written.write(contents), contents.size());
        written.close();

        const FirmwareOpening opening = openFirmwareFile(path);
        QVERIFY(opening.isOpen());
        QFile& file = opening.file();
        QVERIFY(file.isReadable());
        QVERIFY(!file.isWritable());
        QVERIFY(!file.isSequential());
        QCOMPARE(file.size(), contents.size());
        QCOMPARE(file.readAll(), contents);
    }
}

void TestFirmwareFile::anUnreadableFileIsRefusedWithItsReason_data() {
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("why");
    const std::pair<const char*, const char*> rows[] = {
        {"none chosen", "no firmware file chosen"},
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

void TestFirmwareFile::anUnreadableFileIsRefusedWithItsReason() {
    QFETCH(QString, kind);
    QFETCH(QString, why);
    const QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("fw.srec"));
    {
        QFile written(file);
        QVERIFY(written.open(QIODevice::WriteOnly));
        QVERIFY(written.write("S0030000FC\r\n") > 0);
    }
    QString path = dir.filePath(QStringLiteral("missing.srec"));
    if (kind == "none chosen") {
        path.clear();
    } else if (kind == "missing folder") {
        path = dir.filePath(QStringLiteral("nofolder/fw.srec"));
    } else if (kind == "below a file") {
        path = file + QStringLiteral("/fw.srec");
    } else if (kind == "folder") {
        path = dir.path();
    }
#ifdef Q_OS_LINUX
    if (kind == "fifo") {
        // No writer: an opening that waited for one would never return.
        path = dir.filePath(QStringLiteral("fifo.srec"));
        QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
    } else if (kind == "device") {
        path = QStringLiteral("/dev/zero");
    } else if (kind == "no permission") {
        // The folder lets anyone in: only the file's own rights keep the reader out.
        QVERIFY(QFile::setPermissions(dir.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                      QFileDevice::ExeOwner |
                                                      QFileDevice::ExeOther));
        path = file;
        QVERIFY(QFile::setPermissions(path, QFileDevice::WriteOwner));
    }
#endif
    const QStringList before = QDir(dir.path()).entryList(QDir::AllEntries | QDir::System);
    const FirmwareOpening opening = [&] {
#ifdef Q_OS_LINUX
        const test::ReadingAsAnotherUser asNobody(kind == "no permission");
#endif
        return openFirmwareFile(path);
    }();
    QVERIFY(!opening.isOpen());
    QCOMPARE(opening.whyNot(), why);
    QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::System), before);
}

QTEST_GUILESS_MAIN(TestFirmwareFile)
#include "test_firmware_file.moc"
