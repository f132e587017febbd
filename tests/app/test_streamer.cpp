// Choosing the firmware file and streaming it: the line rule, the wire form, the pause, the
// progress caption, and the ways a run ends.

#include "firmwarefile/line_reader.h"
#include "programming/progress_text.h"
#include "tests/support/reading_as_another_user.h"
#include "tests/support/window_rig.h"

#include <QBuffer>
#include <QDir>
#include <QSignalSpy>
#include <QTest>

#ifdef Q_OS_LINUX
#include <sys/stat.h>
#include <unistd.h>
#endif

using namespace norvak;
using namespace norvak::test;

class TestStreamer : public QObject {
    Q_OBJECT

private slots:
    void lineRule_data();
    void lineRule();
    void longLinesArriveInBoundedPieces();
    void progressValueAndText();
    void choosingAFile();
    void cancellingTheFirstDialogChangesNothing();
    void wholeFileOnTheWireWithPausesAndProgress();
    void pauseFollowsTheSpeedList_data();
    void pauseFollowsTheSpeedList();
    void startedWhileIdleSendsOnlyTheFirstLine();
    void anUnreadableFileEndsTheRunWithItsReason_data();
    void anUnreadableFileEndsTheRunWithItsReason();
    void aReadThatGivesNothingEndsThePass();
    void aFileWhoseLengthPromisesMoreEndsItsRun();
    void filesWithoutAWholeLineSendNothing();
    void aSecondStartDuringARunIsIgnored();
    void disconnectDuringARunEndsItQuietly();
    void programmedDuringThePauseIsReplacedByProgressThenStops();
    void closingTheWindowDuringARunSendsNothingMore();
    void aLongLineGoesOutUnchanged();
    void aFileThatGrowsDuringTheRunGoesPastHundred();
};

namespace {

// Splits `contents` by the streamer's line rule through the real reader.
QList<QByteArray> readLines(const QByteArray& contents) {
    QByteArray data = contents;
    QBuffer buffer(&data);
    buffer.open(QIODevice::ReadOnly);
    LineReader reader(buffer, [&data] { return static_cast<qint64>(data.size()); });
    QList<QByteArray> lines;
    while (reader.hasLine()) {
        QByteArray line;
        reader.readLine([&line](QByteArrayView piece) { line += piece; });
        lines << line;
    }
    return lines;
}

QByteArray lines(int count, const QByteArray& ending = "\r\n") {
    QByteArray file;
    for (int i = 1; i <= count; ++i) {
        file += "S1" + QByteArray::number(i).rightJustified(6, '0') + ending;
    }
    return file;
}

QStringList captionsOf(QSignalSpy& spy) {
    QStringList captions;
    for (const auto& args : spy) {
        captions << args.at(0).toString();
    }
    return captions;
}

} // namespace

void TestStreamer::lineRule_data() {
    QTest::addColumn<QByteArray>("contents");
    QTest::addColumn<QList<QByteArray>>("expected");
    using L = QList<QByteArray>;
    QTest::newRow("CR LF") << QByteArray("ab\r\ncd\r\n") << L{"ab", "cd"};
    QTest::newRow("CR") << QByteArray("ab\rcd\r") << L{"ab", "cd"};
    QTest::newRow("LF") << QByteArray("ab\ncd\n") << L{"ab", "cd"};
    QTest::newRow("mixed") << QByteArray("ab\ncd\r\nef\rgh\n") << L{"ab", "cd", "ef", "gh"};
    QTest::newRow("LF CR is two ends") << QByteArray("ab\n\rcd\n") << L{"ab", "", "cd"};
    QTest::newRow("empty") << QByteArray() << L{};
    QTest::newRow("one byte") << QByteArray("S") << L{};
    QTest::newRow("one-character last line") << QByteArray("ab\r\nc") << L{"ab"};
    QTest::newRow("two-character last line") << QByteArray("ab\r\ncd") << L{"ab", "cd"};
    QTest::newRow("empty last line") << QByteArray("ab\r\n\r\n") << L{"ab", ""};
    QTest::newRow("lone CR LF") << QByteArray("\r\n") << L{""};
    QTest::newRow("NUL inside") << QByteArray("a\0b\r\n", 5) << L{QByteArray("a\0b", 3)};
}

void TestStreamer::lineRule() {
    QFETCH(QByteArray, contents);
    QFETCH(QList<QByteArray>, expected);
    QCOMPARE(readLines(contents), expected);
    // Counting finds as many lines as reading.
    QBuffer buffer(&contents);
    buffer.open(QIODevice::ReadOnly);
    LineReader counter(buffer, [&contents] { return static_cast<qint64>(contents.size()); });
    qsizetype counted = 0;
    while (counter.hasLine()) {
        counter.skipLine();
        ++counted;
    }
    QCOMPARE(counted, expected.size());
}

void TestStreamer::longLinesArriveInBoundedPieces() {
    QByteArray contents(LineReader::maxPieceSize * 3 + 17, 'x');
    contents += "\r\nshort\r\n";
    QByteArray data = contents;
    QBuffer buffer(&data);
    buffer.open(QIODevice::ReadOnly);
    LineReader reader(buffer, [&data] { return static_cast<qint64>(data.size()); });
    QList<qsizetype> pieces;
    QByteArray line;
    reader.readLine([&](QByteArrayView piece) {
        pieces << piece.size();
        line += piece;
    });
    QCOMPARE(line, contents.left(LineReader::maxPieceSize * 3 + 17));
    QCOMPARE(pieces, (QList<qsizetype>{LineReader::maxPieceSize, LineReader::maxPieceSize,
                                       LineReader::maxPieceSize, 17}));
    QVERIFY(reader.hasLine());
    line.clear();
    reader.readLine([&](QByteArrayView piece) { line += piece; });
    QCOMPARE(line, QByteArray("short"));
    QVERIFY(!reader.hasLine());
}

void TestStreamer::aReadThatGivesNothingEndsThePass() {
    // The length was taken before the file was cut: it promises bytes that no read gives.
    QByteArray data = lines(3) + "S9";
    QBuffer buffer(&data);
    buffer.open(QIODevice::ReadOnly);
    const qint64 promised = data.size() + 4 * 1024 * 1024;
    LineReader reader(buffer, [promised] { return promised; });
    QList<QByteArray> got;
    while (reader.hasLine() && got.size() < 10) {
        QByteArray line;
        reader.readLine([&line](QByteArrayView piece) { line += piece; });
        got << line;
    }
    QCOMPARE(got, (QList<QByteArray>{"S1000001", "S1000002", "S1000003", "S9"}));
    QVERIFY(!reader.hasLine());
}

void TestStreamer::progressValueAndText() {
    const QLocale c(QLocale::C);
    QCOMPARE(progressText(progressPercent(1, 3), c), QStringLiteral("33.3"));
    QCOMPARE(progressText(progressPercent(2, 3), c), QStringLiteral("66.6"));
    QCOMPARE(progressText(progressPercent(3, 3), c), QStringLiteral("100"));
    QCOMPARE(progressText(progressPercent(1, 2000), c), QStringLiteral("0"));
    QCOMPARE(progressText(progressPercent(3, 2000), c), QStringLiteral("0.1"));
    QCOMPARE(progressText(progressPercent(2, 7), c), QStringLiteral("28.5"));
    // A file that grew between the passes goes past 100, without digit grouping.
    QCOMPARE(progressText(progressPercent(12345, 10), QLocale(QLocale::German)),
             QStringLiteral("123450"));
    QCOMPARE(progressText(progressPercent(1, 3), QLocale(QLocale::German)), QStringLiteral("33,3"));
    QCOMPARE(progressText(progressPercent(1, 3), QLocale(QLocale::Finnish)),
             QStringLiteral("33,3"));
    // Locales with native digits keep 0-9 and only lend their decimal separator.
    for (const char* name : {"ar_EG", "fa_IR"}) {
        const QLocale native{QLatin1StringView(name)};
        QCOMPARE(progressText(progressPercent(1, 3), native),
                 QStringLiteral("33") + native.decimalPoint() + QStringLiteral("3"));
        QCOMPARE(progressText(progressPercent(12345, 10), native), QStringLiteral("123450"));
    }
    QVERIFY_THROWS_EXCEPTION(std::domain_error, (void)progressPercent(1, 0));
}

void TestStreamer::choosingAFile() {
    WindowRig rig;
    const QString path = rig.writeFile("fw.srec", lines(2));
    rig.chooseFile(path); // port closed: the button stays as it was
    QCOMPARE(rig.toolkit.dialogs.size(), std::size_t{1});
    QCOMPARE(rig.toolkit.dialogs[0].title, QStringLiteral("Open FLASH or EEPROM file"));
    QCOMPARE(rig.toolkit.dialogs[0].filter, QStringLiteral("All Files (*.srec)"));
    QVERIFY(rig.toolkit.dialogs[0].previousPath.isEmpty());
    QCOMPARE(rig.fileName(), path);
    QCOMPARE(rig.fileLabel(), path);
    QCOMPARE(rig.fileLabelToolTip(), path);
    QVERIFY(!rig.enabled(Button::Flash));
    rig.pressConnect();
    rig.forceStartButton(false);
    rig.cancelFileDialog(); // Cancel repeats the last choice
    QCOMPARE(rig.toolkit.dialogs[1].previousPath, path);
    QCOMPARE(rig.fileName(), path);
    QVERIFY(rig.enabled(Button::Flash));
}

void TestStreamer::cancellingTheFirstDialogChangesNothing() {
    WindowRig rig;
    rig.pressConnect();
    rig.cancelFileDialog();
    QVERIFY(rig.fileName().isEmpty());
    QVERIFY(rig.fileLabel().isEmpty());
    QVERIFY(!rig.enabled(Button::Flash));
}

void TestStreamer::wholeFileOnTheWireWithPausesAndProgress() {
    WindowRig rig;
    QSignalSpy captions(&rig.widget(), &QWidget::windowTitleChanged);
    rig.startAndReachSending(lines(3) + "S9030000FC\r\n");
    rig.serial->wire.clear();
    rig.serial->outputs.clear();
    rig.toolkit.sleeps.clear();
    captions.clear();
    rig.tick(Milliseconds(1000));
    QCOMPARE(rig.serial->wire, QByteArray("S1000001\nS1000002\nS1000003\nS9030000FC\n"));
    // Each line's text, then its LF as a second write; never a CR.
    QCOMPARE(rig.serial->outputs.size(), 8);
    QCOMPARE(rig.serial->outputs[1], QByteArray("\n"));
    QCOMPARE(rig.toolkit.sleeps.size(), std::size_t{12});
    QCOMPARE(captionsOf(captions), QStringList({"Norvak Flash Programmer, progress: 25%",
                                                "Norvak Flash Programmer, progress: 50%",
                                                "Norvak Flash Programmer, progress: 75%",
                                                "Norvak Flash Programmer, progress: 100%"}));
    QCOMPARE(rig.progressPercent(), 100.0);
    QCOMPARE(rig.state(), FlashState::Sending); // the end of the file keeps it
    QVERIFY(!rig.streaming());
}

void TestStreamer::pauseFollowsTheSpeedList_data() {
    QTest::addColumn<int>("index");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<int>("steps");
    QTest::newRow("20 - fastest") << 0 << QString() << 1;
    QTest::newRow("60 - normal") << 2 << QString() << 3;
    QTest::newRow("100 - slowest") << 4 << QString() << 5;
    QTest::newRow("typed text of no item") << -1 << "fast" << 0;
    QTest::newRow("typed 1, completed to 100 - slowest") << -1 << "1" << 5;
    QTest::newRow("typed 40") << -1 << "40" << 2;
}

void TestStreamer::pauseFollowsTheSpeedList() {
    QFETCH(int, index);
    QFETCH(QString, typed);
    QFETCH(int, steps);
    WindowRig rig;
    rig.show();
    if (index >= 0) {
        rig.chooseSpeed(index);
    } else {
        QVERIFY(rig.activate());
        rig.typeSpeed(typed);
    }
    rig.startAndReachSending(lines(2));
    rig.toolkit.sleeps.clear();
    rig.tick(Milliseconds(1000));
    QCOMPARE(rig.toolkit.sleeps.size(), static_cast<std::size_t>(2 * steps));
    for (const Milliseconds sleep : rig.toolkit.sleeps) {
        QCOMPARE(sleep.count(), 20);
    }
}

void TestStreamer::startedWhileIdleSendsOnlyTheFirstLine() {
    WindowRig rig;
    rig.pressConnect();
    rig.chooseFile(rig.writeFile("fw.srec", lines(5)));
    rig.press(Button::SFile); // sFile
    rig.tick(Milliseconds(999));
    QVERIFY(rig.serial->wire.isEmpty());
    rig.tick(Milliseconds(1));
    QCOMPARE(rig.serial->wire, QByteArray("S1000001\n"));
    QCOMPARE(rig.caption(), QStringLiteral("Norvak Flash Programmer, progress: 20%"));
    QCOMPARE(rig.state(), FlashState::Idle);
    QVERIFY(!rig.timerOn(TimerRole::FileSender));
    QVERIFY(!rig.streaming());
}

void TestStreamer::anUnreadableFileEndsTheRunWithItsReason_data() {
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("why");
    const std::pair<const char*, const char*> rows[] = {
        {"missing", "no such file"},
        {"missing folder", "no such file"},
        {"folder", "is a folder, not a file"},
        {"removed during the countdown", "no such file"},
#ifdef Q_OS_LINUX
        // Windows has no FIFO or device in its file system, and no read-only rights that
        // keep its owner out.
        {"fifo", "not a regular file"},
        {"device", "not a regular file"},
        {"permission taken away", "no permission to read it"},
#endif
    };
    for (const auto& [kind, why] : rows) {
        QTest::newRow(kind) << QString::fromLatin1(kind) << QString::fromLatin1(why);
    }
}

// The file was fine when it was chosen; when the streamer starts it is gone, or something
// else stands in its place.
void TestStreamer::anUnreadableFileEndsTheRunWithItsReason() {
    QFETCH(QString, kind);
    QFETCH(QString, why);
    WindowRig rig;
    const QString dir = QFileInfo(rig.writeFile("x", "")).absolutePath();
    const QString chosen = rig.writeFile("fw.srec", lines(3));
    QString path = chosen;
    if (kind == "missing folder") {
        path = dir + "/nofolder/nothing.srec";
    } else if (kind == "folder") {
        path = dir;
    } else if (kind == "device") {
        path = "/dev/zero";
    }
    rig.pressConnect();
    rig.chooseFile(path);
    rig.pressStart();
    if (kind == "removed during the countdown") {
        rig.tick(Milliseconds(1000));
        QVERIFY(QFile::remove(chosen));
    }
    rig.receive(">");
    rig.tick(Milliseconds(333));
    rig.receive("_");
    if (kind == "missing") {
        QVERIFY(QFile::remove(chosen));
    }
#ifdef Q_OS_LINUX
    if (kind == "fifo") {
        QVERIFY(QFile::remove(chosen));
        QCOMPARE(::mkfifo(QFile::encodeName(chosen).constData(), 0600), 0);
    } else if (kind == "permission taken away") {
        QVERIFY(QFile::setPermissions(chosen, QFileDevice::WriteOwner));
    }
#endif
    const QStringList before = QDir(dir).entryList(QDir::AllEntries | QDir::System);
    rig.serial->wire.clear();
    {
#ifdef Q_OS_LINUX
        // Root reads whatever the permissions say: the tick runs under another user's file
        // rights then.
        const ReadingAsAnotherUser asNobody(kind == "permission taken away");
#endif
        rig.tick(Milliseconds(1000));
    }
    QVERIFY(rig.serial->wire.isEmpty());
    QCOMPARE(rig.state(), FlashState::Idle);
    QCOMPARE(rig.caption(),
             "Norvak Flash Programmer, Cannot read the firmware file: " + path + ": " + why);
    QCOMPARE(rig.caption(Button::Flash), QStringLiteral("START PROGRAMMING"));
    QVERIFY(rig.enabled(Button::Flash));
    for (const TimerRole role : allTimerRoles) {
        QVERIFY(!rig.timerOn(role));
    }
    QVERIFY(!rig.streaming());
    // The device is not blamed later, and nothing more goes to it.
    rig.tick(Milliseconds(5000));
    QVERIFY(rig.toolkit.messages.empty());
    QVERIFY(rig.serial->wire.isEmpty());
    QCOMPARE(rig.caption(),
             "Norvak Flash Programmer, Cannot read the firmware file: " + path + ": " + why);
    QCOMPARE(QDir(dir).entryList(QDir::AllEntries | QDir::System), before);
    QVERIFY(!QFileInfo::exists(dir + "/nofolder"));
}

void TestStreamer::filesWithoutAWholeLineSendNothing() {
    for (const QByteArray& contents : {QByteArray(), QByteArray("S")}) {
        WindowRig rig;
        rig.startAndReachSending(contents);
        rig.serial->wire.clear();
        const QString caption = rig.caption();
        rig.tick(Milliseconds(1000));
        QVERIFY(rig.serial->wire.isEmpty());
        QCOMPARE(rig.caption(), caption);
        QCOMPARE(rig.state(), FlashState::Sending);
    }
}

void TestStreamer::aSecondStartDuringARunIsIgnored() {
    WindowRig rig;
    rig.startAndReachSending(lines(20)); // sent well within the watchdog's 3000 ms
    rig.serial->wire.clear();
    // sFile pressed during the run: its tick comes while the run yields between lines.
    rig.toolkit.after(Milliseconds(1010), [&rig] { rig.press(Button::SFile); });
    rig.tick(Milliseconds(10'000));
    QCOMPARE(rig.serial->wire, lines(20, "\n"));
    QVERIFY(!rig.timerOn(TimerRole::FileSender));
}

void TestStreamer::disconnectDuringARunEndsItQuietly() {
    WindowRig rig;
    rig.startAndReachSending(lines(20)); // sent well within the watchdog's 3000 ms
    rig.serial->wire.clear();
    QByteArray sentBeforeDisconnect;
    rig.toolkit.after(Milliseconds(1100), [&rig, &sentBeforeDisconnect] {
        sentBeforeDisconnect = rig.serial->wire;
        rig.pressConnect();
    });
    rig.tick(Milliseconds(10'000));
    QVERIFY(!sentBeforeDisconnect.isEmpty());
    QCOMPARE(rig.serial->wire, sentBeforeDisconnect);
    QCOMPARE(rig.state(), FlashState::Idle);
    QVERIFY(!rig.streaming());
}

void TestStreamer::programmedDuringThePauseIsReplacedByProgressThenStops() {
    WindowRig rig;
    rig.startAndReachSending(lines(10));
    rig.serial->wire.clear();
    // "P" arrives during the pause after the second line.
    QSignalSpy captions(&rig.widget(), &QWidget::windowTitleChanged);
    rig.toolkit.after(Milliseconds(1000 + 70), [&rig] { rig.serial->receive("P"); });
    rig.tick(Milliseconds(5000));
    QCOMPARE(captionsOf(captions), QStringList({"Norvak Flash Programmer, progress: 10%",
                                                "Norvak Flash Programmer, PROGRAMMED",
                                                "Norvak Flash Programmer, progress: 20%"}));
    QCOMPARE(rig.serial->wire, lines(2, "\n"));
    QCOMPARE(rig.state(), FlashState::Idle);
}

void TestStreamer::closingTheWindowDuringARunSendsNothingMore() {
    WindowRig rig;
    rig.startAndReachSending(lines(20)); // sent well within the watchdog's 3000 ms
    rig.show();
    QByteArray sentBeforeClose;
    rig.toolkit.after(Milliseconds(1030), [&rig, &sentBeforeClose] { // inside the first pause
        sentBeforeClose = rig.serial->wire;
        rig.close();
    });
    rig.tick(Milliseconds(10'000));
    QVERIFY(!sentBeforeClose.isEmpty());
    QCOMPARE(rig.serial->wire, sentBeforeClose);
    QVERIFY(!rig.serial->PortOpen());
    QVERIFY(!rig.streaming());
    QVERIFY(rig.toolkit.messages.empty());
}

void TestStreamer::aLongLineGoesOutUnchanged() {
    WindowRig rig;
    QByteArray longLine(300'000, 'A');
    for (qsizetype i = 0; i < longLine.size(); i += 7) {
        longLine[i] = static_cast<char>('0' + i % 10);
    }
    rig.startAndReachSending(longLine + "\r\nS9030000FC");
    rig.serial->wire.clear();
    rig.serial->outputs.clear();
    rig.tick(Milliseconds(1000));
    QCOMPARE(rig.serial->wire, longLine + "\nS9030000FC\n");
    for (const QByteArray& output : rig.serial->outputs) {
        QVERIFY(output.size() <= LineReader::maxPieceSize);
    }
    QCOMPARE(rig.caption(), QStringLiteral("Norvak Flash Programmer, progress: 100%"));
}

void TestStreamer::aFileThatGrowsDuringTheRunGoesPastHundred() {
    WindowRig rig;
    QSignalSpy captions(&rig.widget(), &QWidget::windowTitleChanged);
    rig.startAndReachSending(lines(3));
    rig.forceTimerOff(TimerRole::DotWatchdog);
    // Two more lines are appended while the first line's pause runs.
    rig.toolkit.after(Milliseconds(1010), [&rig] {
        QFile file(rig.fileName());
        QVERIFY(file.open(QIODevice::Append));
        file.write("S1000004\r\nS1000005\r\n");
    });
    captions.clear();
    rig.tick(Milliseconds(2000));
    QCOMPARE(captionsOf(captions).last(),
             QStringLiteral("Norvak Flash Programmer, progress: 166.6%"));
    QCOMPARE(rig.serial->wire.right(18), QByteArray("S1000004\nS1000005\n"));
}

// A file on a kernel filesystem gives its length as a page while a read gives a few bytes:
// the length promises what the file no longer holds, as with a file cut under the reader.
// The counting pass, which does not yield, must end, and so must the sending pass.
void TestStreamer::aFileWhoseLengthPromisesMoreEndsItsRun() {
    QString path;
    QByteArray contents;
    for (const char* candidate :
         {"/sys/kernel/profiling", "/sys/kernel/mm/transparent_hugepage/enabled"}) {
        QFile file(QString::fromLatin1(candidate));
        if (file.open(QIODevice::ReadOnly) && file.size() > 64) {
            contents = file.readAll();
            if (contents.size() >= 2 && contents.size() < file.size()) {
                path = file.fileName();
                break;
            }
        }
    }
    if (path.isEmpty()) {
        QSKIP("no kernel file here whose length is more than it gives");
    }
    WindowRig rig;
    rig.startAndReachSending(lines(1));
    rig.force({.fileName = path});
    rig.forceTimerOff(TimerRole::DotWatchdog);
    rig.serial->wire.clear();
    rig.tick(Milliseconds(1000));
    QVERIFY(!rig.streaming());
    QCOMPARE(rig.serial->wire.size(), contents.size());
    QCOMPARE(rig.caption(), QStringLiteral("Norvak Flash Programmer, progress: 100%"));
}

QTEST_MAIN(TestStreamer)
#include "test_streamer.moc"
