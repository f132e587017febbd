// A firmware file that cannot be read is refused by the command line (`check` and `program`)
// with the very reason the window's streamer puts in its caption: both ask openFirmwareFile.

#include "tests/cli/cli_process.h"
#include "tests/support/reading_as_another_user.h"
#include "tests/support/window_rig.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#ifdef Q_OS_LINUX
#include <sys/stat.h>
#include <unistd.h>
#endif

using namespace norvak;
using namespace norvak::clitest;
using namespace std::chrono_literals;

class TestCliUnreadable : public QObject {
    Q_OBJECT

private slots:
    void theCommandLineAndTheWindowGiveOneReason_data();
    void theCommandLineAndTheWindowGiveOneReason();
};

namespace {

const QString captionStart =
    QStringLiteral("Norvak Flash Programmer, Cannot read the firmware file: ");

// The reason the window's streamer gives when the boot program asks for the file at `path`.
QString windowReason(const QString& path, bool asAnotherUser) {
    test::WindowRig rig;
    rig.pressConnect();
    rig.chooseFile(path);
    rig.pressStart();
    rig.receive(">");
    rig.tick(333ms);
    rig.receive("_");
    {
#ifdef Q_OS_LINUX
        const test::ReadingAsAnotherUser asNobody(asAnotherUser);
#else
        Q_UNUSED(asAnotherUser);
#endif
        rig.tick(1000ms);
    }
    const QString caption = rig.caption();
    return caption.startsWith(captionStart) ? caption.mid(captionStart.size()) : caption;
}

// Runs the command line to its end; as "nobody" when `asAnotherUser` and run by root, for
// root reads whatever the permissions say.
std::unique_ptr<QProcess> runCli(const QStringList& arguments, bool asAnotherUser) {
    auto process = std::make_unique<QProcess>();
    process->setProgram(cliPath);
    process->setArguments(arguments);
#ifdef Q_OS_LINUX
    if (asAnotherUser && ::geteuid() == 0) {
        process->setChildProcessModifier([] {
            constexpr uid_t nobody = 65534;
            if (::setgid(nobody) != 0 || ::setuid(nobody) != 0) {
                ::_exit(127);
            }
        });
    }
#else
    Q_UNUSED(asAnotherUser);
#endif
    process->start();
    return process;
}

} // namespace

void TestCliUnreadable::theCommandLineAndTheWindowGiveOneReason_data() {
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("why");
    const std::pair<const char*, const char*> rows[] = {
        {"missing", "no such file"},
        {"missing folder", "no such file"},
        {"folder", "is a folder, not a file"},
#ifdef Q_OS_LINUX
        {"fifo", "not a regular file"},
        {"device", "not a regular file"},
        {"no permission", "no permission to read it"},
#endif
    };
    for (const auto& [kind, why] : rows) {
        QTest::newRow(kind) << QString::fromLatin1(kind) << QString::fromLatin1(why);
    }
}

void TestCliUnreadable::theCommandLineAndTheWindowGiveOneReason() {
    QFETCH(QString, kind);
    QFETCH(QString, why);
    const QTemporaryDir dir;
    QString path = dir.filePath(QStringLiteral("missing.srec"));
    if (kind == "missing folder") {
        path = dir.filePath(QStringLiteral("nofolder/fw.srec"));
    } else if (kind == "folder") {
        path = dir.path();
    }
#ifdef Q_OS_LINUX
    if (kind == "fifo") {
        path = dir.filePath(QStringLiteral("fifo.srec"));
        QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
    } else if (kind == "device") {
        path = QStringLiteral("/dev/zero");
    } else if (kind == "no permission") {
        // Only the file's own rights keep the other user out, not its folder's.
        QVERIFY(QFile::setPermissions(dir.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                      QFileDevice::ExeOwner |
                                                      QFileDevice::ExeOther));
        path = dir.filePath(QStringLiteral("fw.srec"));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QVERIFY(file.write("S0030000FC\r\n") > 0);
        file.close();
        QVERIFY(QFile::setPermissions(path, QFileDevice::WriteOwner));
    }
#endif
    const bool asAnotherUser = kind == "no permission";
    const QString reason = path + QStringLiteral(": ") + why;
    QCOMPARE(windowReason(path, asAnotherUser), reason);

    const auto check =
        runCli({QStringLiteral("check"), QStringLiteral("--json"), path}, asAnotherUser);
    QCOMPARE(finish(*check), 5);
    const QJsonObject checked = QJsonDocument::fromJson(check->readAllStandardOutput()).object();
    QCOMPARE(checked[QStringLiteral("error")].toString(), reason);

    const auto program = runCli({QStringLiteral("program"), QStringLiteral("--device"),
                                 dir.filePath(QStringLiteral("no-device")),
                                 QStringLiteral("--file"), path, QStringLiteral("--json")},
                                asAnotherUser);
    QCOMPARE(finish(*program), 5);
    const Events events = parseEvents(program->readAllStandardOutput());
    QVERIFY2(events.error.isEmpty(), qPrintable(events.error));
    QCOMPARE(events.list.size(), 1);
    QCOMPARE(events.list[0][QStringLiteral("outcome")].toString(),
             QStringLiteral("file-unreadable"));
    QCOMPARE(events.list[0][QStringLiteral("text")].toString(), reason);
}

QTEST_MAIN(TestCliUnreadable)
#include "test_cli_unreadable.moc"
