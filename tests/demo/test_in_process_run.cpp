// Whole runs of the window's own run logic against the simulated device in the same process,
// behind the serial control the window drives (no pseudo-terminal: this runs on any system),
// with the real event loop and real time. What the device received is checked strictly: the
// wake-ups, the ready request and every line once, in order, with one LF. Timing is checked
// only against floors the program's own clock guarantees (the pause after a line, the ready
// request's delay) and a low floor for the wake-up rate, so that a loaded machine passes;
// the exact figures are printed for the record.

#include "tools/demo/demo_run.h"
#include "tools/demo/demo_setup.h"
#include "tools/demo/demo_toolkit.h"
#include "tools/simdevice/in_process_device.h"
#include "tools/simdevice/in_process_serial.h"

#include "mainwindow/frmprog.h"

#include <QFile>
#include <QSignalSpy>
#include <QTest>

#include <algorithm>
#include <vector>

using namespace norvak;
using namespace norvak::demo;
using namespace std::chrono_literals;

class TestInProcessRun : public QObject {
    Q_OBJECT

private slots:
    void programsTheSample_data();
    void programsTheSample();
    void deviceThatStopsAnsweringEndsInProgrammingFailled();
    void hangUpIsReportedAfterTheLastAnswerWasRead();
    void otherPortNumbersDoNotReachTheDevice();
};

namespace {

using Duration = std::chrono::duration<double, std::milli>;

const QString firmwareDir = QStringLiteral(NORVAK_DEMO_FIRMWARE_DIR);
constexpr std::int16_t devicePort = 4;
constexpr Duration readyRequestDelay{333};
// The lowest wake-up rate a loaded machine is let off with; the window aims at 200 a second.
constexpr double wakeUpRateFloor = 20.0;

struct Rig {
    Rig(DeviceFault fault, RunSettings settings)
        : device(demoDeviceConfig(fault))
        , toolkit(firmwareDir)
        , out(&printed)
        , window(toolkit, std::make_unique<InProcessSerial>(toolkit, device, devicePort), nullptr) {
        window.show();
        run = std::make_unique<DemoRun>(window, toolkit, std::move(settings), out);
    }

    // The exit status the run reports, or -1 if it reports none in time.
    int runToEnd(std::chrono::milliseconds limit = 60s) {
        QSignalSpy finished(run.get(), &DemoRun::finished);
        run->start();
        if (!finished.wait(static_cast<int>(limit.count())) || finished.size() != 1) {
            return -1;
        }
        out.flush();
        return finished.first().first().toInt();
    }

    [[nodiscard]] QString logBox() const {
        const qsizetype start = printed.indexOf(QStringLiteral("--- log box ---\n"));
        const qsizetype end = printed.indexOf(QStringLiteral("--- end of log box ---"));
        return start < 0 || end < start ? QString() : printed.mid(start + 16, end - start - 16);
    }

    InProcessDevice device;
    DemoToolkit toolkit;
    QString printed;
    QTextStream out;
    frmProg window;
    std::unique_ptr<DemoRun> run;
};

RunSettings settingsFor(const QString& firmwareName, int speedItem = 0) {
    RunSettings settings;
    settings.port = devicePort;
    settings.firmware = firmwareDir + QLatin1Char('/') + firmwareName;
    settings.speedItem = speedItem;
    settings.timeout = 60s;
    return settings;
}

// The file's lines without their ends (CR LF or LF).
std::vector<std::string> linesOf(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return {};
    }
    std::vector<std::string> lines;
    for (QByteArray line : file.readAll().split('\n')) {
        if (line.endsWith('\r')) {
            line.chop(1);
        }
        lines.push_back(line.toStdString());
    }
    if (!lines.empty() && lines.back().empty()) {
        lines.pop_back(); // after the last line end
    }
    return lines;
}

Duration between(SimClock::time_point from, SimClock::time_point to) {
    return std::chrono::duration_cast<Duration>(to - from);
}

Duration percentile(std::vector<Duration> values, double share) {
    std::sort(values.begin(), values.end());
    const auto index = static_cast<std::size_t>(share * static_cast<double>(values.size() - 1));
    return values[index];
}

// What the host handed over, split at the ready request "f".
struct HandOvers {
    std::vector<SimHostWrite> wakeUps; // before "f"
    std::optional<SimClock::time_point> readyRequest;
    std::vector<SimHostWrite> file; // after "f"
};

HandOvers splitHandOvers(const std::vector<SimHostWrite>& writes) {
    HandOvers split;
    for (const SimHostWrite& write : writes) {
        if (split.readyRequest) {
            split.file.push_back(write);
        } else if (write.bytes == "f") {
            split.readyRequest = write.at;
        } else {
            split.wakeUps.push_back(write);
        }
    }
    return split;
}

// From the hand-over of each line's LF to the hand-over of the next line's first byte.
std::vector<Duration> pausesAfterLines(const std::vector<SimHostWrite>& file) {
    std::vector<Duration> pauses;
    for (std::size_t i = 0; i + 1 < file.size(); ++i) {
        if (file[i].bytes == "\n") {
            pauses.push_back(between(file[i].at, file[i + 1].at));
        }
    }
    return pauses;
}

} // namespace

void TestInProcessRun::programsTheSample_data() {
    QTest::addColumn<QString>("firmware");
    QTest::addColumn<int>("speedItem");
    QTest::addColumn<int>("pauseMs");
    QTest::newRow("20 ms, LF") << QStringLiteral("small-lf.srec") << 0 << 20;
    QTest::newRow("100 ms, CR LF") << QStringLiteral("small-crlf.srec") << 4 << 100;
}

void TestInProcessRun::programsTheSample() {
    QFETCH(QString, firmware);
    QFETCH(int, speedItem);
    QFETCH(int, pauseMs);
    Rig rig(DeviceFault::None, settingsFor(firmware, speedItem));
    QCOMPARE(rig.runToEnd(), 0);
    QCOMPARE(rig.run->verdict().outcome(), RunOutcome::Programmed);
    QVERIFY2(rig.printed.contains(QStringLiteral("Norvak Flash Programmer, PROGRAMMED")),
             qPrintable(rig.printed));

    // What reached the device: wake-ups only, one ready request, then every line once, in
    // order, each followed by one LF.
    const SimRecording& rec = rig.device.recording();
    const std::vector<std::string> lines = linesOf(firmwareDir + QLatin1Char('/') + firmware);
    QCOMPARE(lines.size(), std::size_t{66});
    std::string body;
    for (const std::string& line : lines) {
        body += line + '\n';
    }
    const std::size_t f = rec.received.find('f');
    QVERIFY(f != std::string::npos);
    QVERIFY(f > 0);
    QCOMPARE(rec.received.find_first_not_of('i'), f);
    QCOMPARE(rec.received.substr(f + 1), body);
    QVERIFY(rec.rejectedLines.empty());
    QCOMPARE(rec.acceptedLines.size(), lines.size());
    for (std::size_t i = 0; i < lines.size(); ++i) {
        QCOMPARE(rec.acceptedLines[i].number, static_cast<int>(i + 1));
        QCOMPARE(rec.acceptedLines[i].text, lines[i]);
    }
    QCOMPARE(rec.programmedFiles.size(), std::size_t{1});
    QCOMPARE(rec.programmedFiles[0].dataBytes, std::size_t{1024});
    QCOMPARE(rec.lostBytes, std::size_t{0});
    // The window showed what the device said, as it said it.
    QString said = QString::fromLatin1(rec.sent);
    said.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    QCOMPARE(rig.logBox(), said);

    // Timing as the program's own clock saw it: the host's hand-overs.
    const HandOvers handOvers = splitHandOvers(rig.device.hostWrites());
    QVERIFY(handOvers.readyRequest);
    QVERIFY(handOvers.wakeUps.size() >= 2);
    const Duration wakeUpSpan = between(handOvers.wakeUps.front().at, handOvers.wakeUps.back().at);
    const double wakeUpRate =
        static_cast<double>(handOvers.wakeUps.size() - 1) / (wakeUpSpan.count() / 1000.0);
    QVERIFY2(wakeUpRate >= wakeUpRateFloor, qPrintable(QString::number(wakeUpRate)));

    const std::size_t prompt = rec.sent.find('>');
    QVERIFY(prompt != std::string::npos);
    const Duration readyDelay = between(rec.sentAt[prompt], *handOvers.readyRequest);
    // The timer starts once the handler has seen ">": its interval is a floor. A millisecond
    // is left for a timer that rounds its start.
    QVERIFY2(readyDelay >= readyRequestDelay - Duration{1},
             qPrintable(QString::number(readyDelay.count())));
    QVERIFY2(readyDelay <= readyRequestDelay + Duration{5000},
             qPrintable(QString::number(readyDelay.count())));

    const std::vector<Duration> pauses = pausesAfterLines(handOvers.file);
    QCOMPARE(pauses.size(), lines.size() - 1);
    const Duration pause{pauseMs};
    const auto shortest = *std::min_element(pauses.begin(), pauses.end());
    QVERIFY2(shortest >= pause, qPrintable(QString::number(shortest.count())));

    // From the first line's first byte to the last line's LF, against lines x pause (the span
    // holds one pause fewer than that).
    const Duration sending = between(handOvers.file.front().at, handOvers.file.back().at);
    const double ofNominal = sending / (pause * static_cast<double>(lines.size()));
    qInfo("in-process run, %d ms pause: %zu wake-ups in %.1f ms = %.1f i/s; \"f\" %.1f ms after "
          "\">\"; pause after a line ms min %.2f p5 %.2f p50 %.2f p90 %.2f p99 %.2f max %.2f; "
          "lines sent in %.3f s = %.3f of nominal; file %.2f s",
          pauseMs, handOvers.wakeUps.size(), wakeUpSpan.count(), wakeUpRate, readyDelay.count(),
          shortest.count(), percentile(pauses, 0.05).count(), percentile(pauses, 0.5).count(),
          percentile(pauses, 0.9).count(), percentile(pauses, 0.99).count(),
          percentile(pauses, 1.0).count(), sending.count() / 1000.0, ofNominal,
          between(rec.programmedFiles[0].started, rec.programmedFiles[0].finished).count() /
              1000.0);
}

void TestInProcessRun::deviceThatStopsAnsweringEndsInProgrammingFailled() {
    // At the window's start pause (60 ms) the rest of the file outlasts the dot watchdog, so
    // the run ends before the device's closing words.
    Rig rig(DeviceFault::DotsStop, settingsFor(QStringLiteral("small-lf.srec"), -1));
    QCOMPARE(rig.runToEnd(), 1);
    QCOMPARE(rig.run->verdict().outcome(), RunOutcome::DotTimeout);
    QVERIFY2(rig.printed.contains(QStringLiteral("Norvak Flash Programmer, Programming FAILLED")),
             qPrintable(rig.printed));
    QVERIFY(rig.printed.contains(QStringLiteral("Message box: Error: DOT Timeout")));
    QVERIFY(!rig.printed.contains(QStringLiteral("Result: PROGRAMMED")));
    // The device answered its first five lines and nothing after them.
    QCOMPARE(rig.device.recording().dots.size(), std::size_t{5});
    QVERIFY(rig.device.recording().acceptedLines.size() > 5);
}

void TestInProcessRun::hangUpIsReportedAfterTheLastAnswerWasRead() {
    Rig rig(DeviceFault::HangUp, settingsFor(QStringLiteral("small-lf.srec")));
    QCOMPARE(rig.runToEnd(), 1);
    QCOMPARE(rig.run->verdict().outcome(), RunOutcome::PortFailed);
    QVERIFY2(
        rig.run->verdict().reason().contains(QStringLiteral("connection to the device was lost")),
        qPrintable(rig.run->verdict().reason()));
    QVERIFY(rig.run->verdict().reason().contains(InProcessSerial::devicePath));
    // The dot of line 10 was on the line before it went: the window read it.
    QCOMPARE(rig.logBox(),
             QStringLiteral(">_") + QString(10, QLatin1Char('.')) + QLatin1Char('\n'));
    QCOMPARE(rig.device.recording().mode, SimMode::HungUp);
}

void TestInProcessRun::otherPortNumbersDoNotReachTheDevice() {
    RunSettings settings = settingsFor(QStringLiteral("small-lf.srec"));
    settings.port = 3;
    Rig rig(DeviceFault::None, settings);
    QCOMPARE(rig.runToEnd(), 1);
    QVERIFY2(rig.run->verdict().reason().contains(QStringLiteral("Port 3: no serial port found")),
             qPrintable(rig.run->verdict().reason()));
    QVERIFY(rig.device.recording().received.empty());
}

QTEST_MAIN(TestInProcessRun)
#include "test_in_process_run.moc"
