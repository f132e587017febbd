// A firmware file that cannot be read is refused by the command line (`check` and `program`)
// with the very reason the window's streamer puts in its caption: both ask openFirmwareFile.

#include "tests/cli/cli_process.h"
#include "tests/support/reading_as_another_user.h"
#include "tests/support/unreadable_files.h"
#include "tests/support/window_rig.h"

#include <QTemporaryDir>
#include <QTest>

#ifdef Q_OS_LINUX
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
    test::addUnreadableFileRows();
}

void TestCliUnreadable::theCommandLineAndTheWindowGiveOneReason() {
    QFETCH(QString, kind);
    QFETCH(QString, why);
    const QTemporaryDir dir;
    const QString path = test::makeUnreadableFile(dir, kind);
    QVERIFY(!path.isEmpty());
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
