// Bad input from the operator and the disk: port texts that are no port, a port in use or
// without permission, and firmware paths and files that are no firmware, or that change
// under the run (during its yields, or between its counting and its sending pass).

#include "link/control/mscomm.h"
#include "protocol/boot_line.h"
#include "tests/faults/open_hook.h"
#include "tests/support/device_rig.h"
#include "tests/support/pty_pair.h"
#include "tests/support/virtual_toolkit.h"
#include "tests/support/window_rig.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace norvak;
using namespace norvak::faults;
using namespace norvak::test;
using namespace std::chrono_literals;

class TestFaultsBadInput : public QObject {
    Q_OBJECT

private slots:
    void portTextsThatAreNoPortAreRefused_data();
    void portTextsThatAreNoPortAreRefused();
    void decimalPortTextsOpenTheNearestPort_data();
    void decimalPortTextsOpenTheNearestPort();
    void aPortInUseIsRefusedAsSuch();
    void aPortWithoutPermissionIsRefusedAsSuch();

    void pathsThatAreNoFirmwareEndTheRunWithTheReason_data();
    void pathsThatAreNoFirmwareEndTheRunWithTheReason();
    void oddFilesAreSentByTheLineRule_data();
    void oddFilesAreSentByTheLineRule();
    void aFileChangedDuringTheRun_data();
    void aFileChangedDuringTheRun();
    void aFileChangedBetweenThePasses_data();
    void aFileChangedBetweenThePasses();
};

namespace {

// --- The port box ---

// A window whose port 1 is a pseudo-terminal; other numbers map as on any Linux machine.
class PortRig : public WindowView {
public:
    PortRig() { attach(window_); }

    PtyPair line;
    VirtualToolkit toolkit;

    void connectWith(const QString& text) {
        setPortText(text);
        pressConnect();
    }

private:
    frmProg window_{toolkit,
                    std::make_unique<MSComm>(toolkit,
                                             [this](int port) {
                                                 return port == 1 ? QStringList{line.slavePath()}
                                                                  : defaultPortCandidates()(port);
                                             }),
                    nullptr};
};

void verifyRefused(const PortRig& rig, const QString& why) {
    const QString caption = rig.caption();
    QVERIFY2(errorCaption.match(caption).hasMatch(), qPrintable(caption));
    QVERIFY2(caption.contains(why), qPrintable(caption));
    QVERIFY(!rig.portOpen());
    QVERIFY(!rig.connected());
    QCOMPARE(rig.caption(Button::Connect), QStringLiteral("Connect"));
}

// --- Firmware files ---

// Names, sizes, times and contents of everything in a folder.
QStringList snapshot(const QString& folder) {
    QStringList entries;
    for (const QFileInfo& info : QDir(folder).entryInfoList(QDir::AllEntries | QDir::System |
                                                            QDir::Hidden | QDir::NoDotAndDotDot)) {
        QString entry = info.fileName() + ' ' + QString::number(info.size()) + ' ' +
                        QString::number(info.lastModified().toMSecsSinceEpoch());
        if (info.isFile()) {
            QFile file(info.filePath());
            if (file.open(QIODevice::ReadOnly)) {
                entry +=
                    ' ' + QCryptographicHash::hash(file.readAll(), QCryptographicHash::Md5).toHex();
            }
        }
        entries << entry;
    }
    return entries;
}

// A run on the virtual clock: connect, choose the file, START, the prompt and "_", and then a
// device that keeps the watchdog at bay with a dot every 200 ms.
class FileRun {
public:
    void start(const QString& path) {
        rig.pressConnect();
        rig.chooseFile(path);
        rig.pressStart();
        rig.receive(">");
        rig.tick(333ms);
        rig.receive("_");
        wireAtStart_ = rig.serial->wire.size();
        keepDotsComing();
    }
    // Runs the clock on until the streamer has started and ended (or `limit` has passed).
    void runToTheEnd(std::chrono::milliseconds limit = 600'000ms) {
        for (auto run = 0ms; run < limit; run += 1000ms) {
            rig.tick(1000ms);
            if (rig.timerOn(TimerRole::FileSender) || rig.streaming()) {
                continue;
            }
            break;
        }
        dots_ = false;
    }
    [[nodiscard]] QByteArray sent() const { return rig.serial->wire.mid(wireAtStart_); }
    // The rig's folder for files (it holds a probe file the test wrote to find it).
    [[nodiscard]] const QString& dir() const { return dir_; }

    WindowRig rig;

private:
    void keepDotsComing() {
        rig.toolkit.after(200ms, [this] {
            if (!dots_) {
                return;
            }
            rig.serial->receive(".");
            keepDotsComing();
        });
    }

    QString dir_ = QFileInfo(rig.writeFile(QStringLiteral(".probe"), {})).path();
    qsizetype wireAtStart_ = 0;
    bool dots_ = true;
};

// Lines of 1000 characters, numbered, each with its CR LF.
QByteArray bigFirmware(int lines) {
    QByteArray file;
    for (int i = 0; i < lines; ++i) {
        file += "S1" + QByteArray::number(i).rightJustified(6, '0') + QByteArray(992, 'D') + "\r\n";
    }
    return file;
}

QByteArray smallFirmware(int lines, char tag = 'A') {
    QByteArray file;
    for (int i = 0; i < lines; ++i) {
        file += "S1" + QByteArray(1, tag) + QByteArray::number(i).rightJustified(5, '0') + "\r\n";
    }
    return file;
}

void writeOver(const QString& path, const QByteArray& contents) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        file.write(contents) != contents.size()) {
        qFatal("cannot write %s", qPrintable(path));
    }
}

} // namespace

// ---------------------------------------------------------------------------------------

void TestFaultsBadInput::portTextsThatAreNoPortAreRefused_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("why");
    const QString notANumber = QStringLiteral("is not a whole number");
    QTest::newRow("empty") << ""
                           << "is empty";
    QTest::newRow("blank") << " "
                           << "is empty";
    QTest::newRow("abc") << "abc" << notANumber;
    QTest::newRow("4abc") << "4abc" << notANumber;
    QTest::newRow("4,5") << "4,5" << notANumber;
    QTest::newRow("4.5.1") << "4.5.1" << notANumber;
    QTest::newRow("lone point") << "." << notANumber;
    QTest::newRow("exponent without digits") << "4e" << notANumber;
    QTest::newRow("inf") << "inf" << notANumber;
    QTest::newRow("0x10") << "0x10" << notANumber;
    QTest::newRow("-1") << "-1"
                        << "port numbers start at 1";
    QTest::newRow("0") << "0"
                       << "port numbers start at 1";
    QTest::newRow("32767") << "32767"
                           << "no serial port found";
    QTest::newRow("32768") << "32768"
                           << "out of range";
    QTest::newRow("99999999999") << "99999999999"
                                 << "is too large";
    QTest::newRow("arabic-indic 4") << QStringLiteral("\u0664") << notANumber;
    QTest::newRow("fullwidth 4") << QStringLiteral("\uFF14") << notANumber;
    QTest::newRow("mathematical bold 1") << QStringLiteral("\U0001D7CF") << notANumber;
}

void TestFaultsBadInput::portTextsThatAreNoPortAreRefused() {
    QFETCH(QString, text);
    QFETCH(QString, why);
    PortRig rig;
    rig.connectWith(text);
    verifyRefused(rig, why);
    if (QTest::currentTestFailed()) {
        return;
    }
    // The program goes on: the right number connects.
    rig.connectWith(QStringLiteral("1"));
    QCOMPARE(rig.caption(), QStringLiteral("Norvak Flash Programmer, Connect: True"));
    QVERIFY(rig.portOpen());
}

void TestFaultsBadInput::decimalPortTextsOpenTheNearestPort_data() {
    QTest::addColumn<QString>("text");
    for (const char* text : {"1.0", " 0.6 ", "1.49", "+1e0", "1."}) {
        QTest::newRow(text) << QString::fromLatin1(text);
    }
}

void TestFaultsBadInput::decimalPortTextsOpenTheNearestPort() {
    QFETCH(QString, text);
    PortRig rig;
    rig.connectWith(text);
    QCOMPARE(rig.caption(), QStringLiteral("Norvak Flash Programmer, Connect: True"));
    QVERIFY(rig.portOpen());
}

void TestFaultsBadInput::aPortInUseIsRefusedAsSuch() {
    PortRig rig;
    {
        MSComm other(rig.toolkit, [&rig](int) { return QStringList{rig.line.slavePath()}; });
        other.setSettings(linkSettings(protocol::baudRate));
        other.setPortOpen(true);
        QVERIFY(other.PortOpen());
        rig.connectWith(QStringLiteral("1"));
        // The other control is this program's own: it is named.
        verifyRefused(rig, QStringLiteral("is in use by %1 (pid %2)")
                               .arg(QFileInfo(QCoreApplication::arguments().value(0)).fileName())
                               .arg(QCoreApplication::applicationPid()));
    }
    // Free again: Connect works.
    rig.connectWith(QStringLiteral("1"));
    QCOMPARE(rig.caption(), QStringLiteral("Norvak Flash Programmer, Connect: True"));
}

// Root opens any device node; the window is then tried by a child that runs as nobody.
void TestFaultsBadInput::aPortWithoutPermissionIsRefusedAsSuch() {
    static constexpr int couldNotDropRoot = 97;
    PtyPair line;
    QProcess child;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    environment.insert("HOME", QDir::tempPath());
    child.setProcessEnvironment(environment);
    if (::geteuid() == 0) {
        child.setChildProcessModifier([] {
            constexpr gid_t nobodyGroup = 65534;
            constexpr uid_t nobody = 65534;
            if (::setgroups(0, nullptr) != 0 || ::setgid(nobodyGroup) != 0 ||
                ::setuid(nobody) != 0) {
                ::_exit(couldNotDropRoot);
            }
        });
    } else {
        QCOMPARE(::chmod(QFile::encodeName(line.slavePath()).constData(), 0), 0);
    }
    child.start(QStringLiteral(NORVAK_WINDOW_CHILD), {"--connect", line.slavePath()});
    const bool ended = child.waitForFinished(30'000);
    if (child.error() == QProcess::FailedToStart ||
        (ended && child.exitCode() == couldNotDropRoot)) {
        QSKIP("the window cannot be run as another user here (a build folder others cannot "
              "enter?)");
    }
    QVERIFY(ended);
    const QByteArray output = child.readAllStandardOutput();
    QVERIFY2(child.exitCode() == 0, child.readAllStandardError().constData());
    QVERIFY2(output.contains("caption: Norvak Flash Programmer, Connect:   Error "),
             output.constData());
    QVERIFY2(output.contains("permission denied"), output.constData());
    QVERIFY2(output.contains("dialout"), output.constData());
    QVERIFY(output.contains("port open: 0"));
}

// ---------------------------------------------------------------------------------------

void TestFaultsBadInput::pathsThatAreNoFirmwareEndTheRunWithTheReason_data() {
    QTest::addColumn<QString>("kind");
    for (const char* kind : {"missing", "in a missing folder", "directory", "fifo", "/dev/zero"}) {
        QTest::newRow(kind) << QString::fromLatin1(kind);
    }
}

void TestFaultsBadInput::pathsThatAreNoFirmwareEndTheRunWithTheReason() {
    QFETCH(QString, kind);
    FileRun run;
    const QString dir = run.dir();
    QString path;
    if (kind == "missing") {
        path = dir + "/missing.srec";
    } else if (kind == "in a missing folder") {
        path = dir + "/no-folder/missing.srec";
    } else if (kind == "directory") {
        path = dir;
    } else if (kind == "fifo") {
        path = dir + "/pipe.srec";
        QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
    } else {
        path = QStringLiteral("/dev/zero");
    }
    const QStringList before = snapshot(dir);

    run.start(path);
    run.runToTheEnd();
    QVERIFY(run.sent().isEmpty());
    QCOMPARE(run.rig.state(), FlashState::Idle);
    const QString caption = run.rig.caption();
    QVERIFY2(caption.startsWith("Norvak Flash Programmer, Cannot read the firmware file: " + path +
                                ": "),
             qPrintable(caption));
    QVERIFY(!run.rig.timerOn(TimerRole::DotWatchdog));
    run.rig.tick(5s);
    QVERIFY(run.rig.toolkit.messages.empty()); // no dot timeout blames the device
    QVERIFY(!run.rig.streaming());
    QCOMPARE(snapshot(dir), before);
    QVERIFY(!QFileInfo::exists(dir + "/no-folder"));
    QVERIFY(!QFileInfo::exists(dir + "/missing.srec"));
}

void TestFaultsBadInput::oddFilesAreSentByTheLineRule_data() {
    QTest::addColumn<QByteArray>("contents");
    QTest::newRow("0 bytes") << QByteArray();
    QTest::newRow("1 byte") << QByteArray("S");
    QTest::newRow("1 byte LF") << QByteArray("\n");
    QByteArray binary(4096, '\0');
    quint32 x = 12345;
    for (char& byte : binary) {
        x = x * 1103515245 + 12345;
        byte = static_cast<char>(x >> 24);
    }
    binary[100] = '\0';
    binary[2000] = '\r';
    binary[2001] = '\n';
    QTest::newRow("binary with NUL bytes") << binary;
    QTest::newRow("only line ends") << QByteArray("\r\n\r\n\n\r\r\n");
}

void TestFaultsBadInput::oddFilesAreSentByTheLineRule() {
    QFETCH(QByteArray, contents);
    FileRun run;
    const QString path = run.rig.writeFile("odd.srec", contents);
    const QStringList before = snapshot(run.dir());
    run.start(path);
    run.runToTheEnd();
    QCOMPARE(run.sent(), expectedStream(contents));
    QVERIFY(!run.rig.streaming());
    const qsizetype lines = fileLines(contents).size();
    if (lines > 0) {
        QCOMPARE(run.rig.caption(), QStringLiteral("Norvak Flash Programmer, progress: 100%"));
    } else {
        QCOMPARE(run.rig.caption(), QStringLiteral("Norvak Flash Programmer, Sending File"));
    }
    QCOMPARE(snapshot(run.dir()), before);
}

// ---------------------------------------------------------------------------------------

void TestFaultsBadInput::aFileChangedDuringTheRun_data() {
    QTest::addColumn<QString>("change");
    for (const char* change : {"truncated", "deleted", "replaced", "grown"}) {
        QTest::newRow(change) << QString::fromLatin1(change);
    }
}

// The sending pass reads the file as it goes: a megabyte at a time, and at the end asks for
// the file's length again.
void TestFaultsBadInput::aFileChangedDuringTheRun() {
    QFETCH(QString, change);
    FileRun run;
    // More than the reader's megabyte, so that a truncation finds unread bytes.
    const QByteArray original = change == "truncated" ? bigFirmware(1500) : smallFirmware(40);
    const QByteArray other = smallFirmware(10, 'B');
    const QString path = run.rig.writeFile("fw.srec", original);
    const QString dir = run.dir();
    run.start(path);
    // In the pause after the third line (the streamer starts 1000 ms after "_").
    run.rig.toolkit.after(1000ms + 3 * 60ms + 10ms, [&] {
        if (change == "truncated") {
            writeOver(path, {});
        } else if (change == "deleted") {
            QVERIFY(QFile::remove(path));
        } else if (change == "replaced") {
            const QString fresh = run.rig.writeFile("fresh.srec", other);
            QVERIFY(QFile::remove(path));
            QVERIFY(QFile::rename(fresh, path));
        } else {
            QFile file(path);
            QVERIFY(file.open(QIODevice::Append));
            file.write(other);
        }
    });
    run.runToTheEnd();
    QVERIFY(!run.rig.streaming());
    const QByteArray sent = run.sent();
    if (change == "truncated") {
        // What had been read goes out, the last line as far as it was read; then the end.
        const QList<QByteArray> lines = fileLines(original);
        const QList<QByteArray> sentLines = sent.chopped(1).split('\n');
        QVERIFY(sent.endsWith('\n'));
        QVERIFY(sentLines.size() > 3);
        QVERIFY(sentLines.size() < lines.size());
        for (qsizetype i = 0; i + 1 < sentLines.size(); ++i) {
            QCOMPARE(sentLines[i], lines[i]);
        }
        QVERIFY(lines[sentLines.size() - 1].startsWith(sentLines.last()));
    } else if (change == "grown") {
        // Lines added at the end are read too; the progress goes past 100%.
        QCOMPARE(sent, expectedStream(original + other));
        QCOMPARE(run.rig.caption(), QStringLiteral("Norvak Flash Programmer, progress: 125%"));
    } else {
        // The open file stays what it was.
        QCOMPARE(sent, expectedStream(original));
        QCOMPARE(run.rig.caption(), QStringLiteral("Norvak Flash Programmer, progress: 100%"));
    }
    QStringList expectedFiles = {".probe"};
    if (change != "deleted") {
        expectedFiles << "fw.srec";
    }
    QCOMPARE(
        QDir(dir).entryList(QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot),
        expectedFiles);
}

void TestFaultsBadInput::aFileChangedBetweenThePasses_data() {
    QTest::addColumn<QString>("change");
    for (const char* change :
         {"deleted", "truncated", "replaced by a longer one", "grown from empty"}) {
        QTest::newRow(change) << QString::fromLatin1(change);
    }
}

void TestFaultsBadInput::aFileChangedBetweenThePasses() {
    QFETCH(QString, change);
    FileRun run;
    const QByteArray original = change == "grown from empty" ? QByteArray() : smallFirmware(10);
    const QByteArray longer = smallFirmware(20, 'B');
    const QString path = run.rig.writeFile("fw.srec", original);
    // The first open counts the lines, the second sends them.
    beforeOpen(path, 2, [&] {
        if (change == "deleted") {
            QFile::remove(path);
        } else if (change == "truncated") {
            writeOver(path, {});
        } else {
            writeOver(path, longer);
        }
    });
    run.start(path);
    run.runToTheEnd();
    disarmOpenHook();
    QVERIFY(!run.rig.streaming());
    const QByteArray sent = run.sent();
    if (change == "deleted") {
        // The run ends with the reason.
        QVERIFY(sent.isEmpty());
        QCOMPARE(run.rig.state(), FlashState::Idle);
        QCOMPARE(run.rig.caption(), "Norvak Flash Programmer, Cannot read the firmware file: " +
                                        path + ": no such file");
    } else if (change == "truncated") {
        // The end of the file, with nothing in it.
        QVERIFY(sent.isEmpty());
        QCOMPARE(run.rig.caption(), QStringLiteral("Norvak Flash Programmer, Sending File"));
    } else if (change == "replaced by a longer one") {
        // Every line of the file as it is now; the progress counts against the old total.
        QCOMPARE(sent, expectedStream(longer));
        QCOMPARE(run.rig.caption(), QStringLiteral("Norvak Flash Programmer, progress: 200%"));
    } else {
        // No total to count against: the failure path after the first line.
        QCOMPARE(sent, fileLines(longer).first() + '\n');
        QCOMPARE(run.rig.state(), FlashState::Idle);
    }
    QVERIFY(run.rig.toolkit.messages.empty());
}

QTEST_MAIN(TestFaultsBadInput)
#include "test_bad_input.moc"
