// Opening a firmware file: a regular file opens for reading; anything else is an answer with
// the operator's reason, never a failure of the program. Nothing is created, nothing blocks.

#include "firmwarefile/firmware_file.h"
#include "tests/support/reading_as_another_user.h"
#include "tests/support/unreadable_files.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

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
    test::addUnreadableFileRows();
    QTest::newRow("none chosen") << QStringLiteral("none chosen")
                                 << QStringLiteral("no firmware file chosen");
}

void TestFirmwareFile::anUnreadableFileIsRefusedWithItsReason() {
    QFETCH(QString, kind);
    QFETCH(QString, why);
    const QTemporaryDir dir;
    const QString path = kind == "none chosen" ? QString() : test::makeUnreadableFile(dir, kind);
    QVERIFY(kind == "none chosen" || !path.isEmpty());
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
