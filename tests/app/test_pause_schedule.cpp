// The pause after each streamed line, measured where the device would see it: from the write
// of a line's LF to the write of the next line. Handlers that keep the thread busy during the
// yields, and sleeps that wake late, must never give the device less than the chosen pause.

#include "tests/support/window_rig.h"

#include <QTest>

using namespace norvak;
using namespace norvak::test;
using namespace std::chrono_literals;

class TestPauseSchedule : public QObject {
    Q_OBJECT

private slots:
    void busyHandlersNeverShortenAPause_data();
    void busyHandlersNeverShortenAPause();
    void busyHandlersBetweenLinesNeverShortenTheNextPause_data();
    void busyHandlersBetweenLinesNeverShortenTheNextPause();
    void lateWakeUpsDoNotAddUpWithinAPause();
    void handlersAddToThePauseTheEventLoopsOwnLookDoesNot();
};

namespace {

QByteArray srecLines(int count) {
    QByteArray file;
    for (int i = 1; i <= count; ++i) {
        file += "S1" + QByteArray::number(i).rightJustified(6, '0') + "\r\n";
    }
    return file;
}

// From each line's LF to the next line's text, on the virtual clock.
QList<Milliseconds> gapsBetweenLines(const FakeSerialControl& serial) {
    QList<Milliseconds> gaps;
    for (qsizetype i = 0; i + 1 < serial.outputs.size(); ++i) {
        if (serial.outputs[i] == "\n" && serial.outputs[i + 1] != "\n") {
            gaps << serial.outputTimes[i + 1] - serial.outputTimes[i];
        }
    }
    return gaps;
}

// Every one of the file's lines went out, and none sooner than the chosen pause after the one
// before; the first shortfall is printed.
bool everyGapIsAtLeastThePause(const FakeSerialControl& serial, int lines, int item) {
    const QList<Milliseconds> gaps = gapsBetweenLines(serial);
    if (gaps.size() != lines - 1) {
        qWarning("%lld gaps for %d lines", static_cast<long long>(gaps.size()), lines);
        return false;
    }
    const Milliseconds chosen = (item + 1) * 20ms;
    for (const Milliseconds gap : gaps) {
        if (gap < chosen) {
            qWarning("a gap of %lld ms", static_cast<long long>(gap.count()));
            return false;
        }
    }
    return true;
}

// Streams at the speed item given while the device acknowledges now and then, so that the
// dot watchdog lets the whole file go out.
std::unique_ptr<Timer> streamWithSpeedItem(WindowRig& rig, int item, int lineCount) {
    rig.chooseSpeed(item);
    rig.startAndReachSending(srecLines(lineCount));
    rig.serial->outputs.clear();
    rig.serial->outputTimes.clear();
    auto dots = rig.toolkit.makeTimer(Milliseconds(250));
    dots->onTick([&rig] { rig.serial->receive("."); });
    dots->setEnabled(true);
    return dots;
}

} // namespace

void TestPauseSchedule::busyHandlersNeverShortenAPause_data() {
    QTest::addColumn<int>("item");
    QTest::addColumn<int>("busyEveryMs");
    QTest::addColumn<int>("busyForMs");
    for (int item = 0; item < 5; ++item) {
        const QByteArray name = QByteArray::number((item + 1) * 20) + " ms";
        QTest::newRow(name + ", 7 ms busy every 13 ms") << item << 13 << 7;
        QTest::newRow(name + ", 19 ms busy every 31 ms") << item << 31 << 19;
        QTest::newRow(name + ", 3 ms busy every 5 ms") << item << 5 << 3;
    }
}

void TestPauseSchedule::busyHandlersNeverShortenAPause() {
    QFETCH(int, item);
    QFETCH(int, busyEveryMs);
    QFETCH(int, busyForMs);
    WindowRig rig;
    const auto dots = streamWithSpeedItem(rig, item, 40);
    // A handler that holds the thread now and then; it runs in whichever yield comes next,
    // between the steps of a pause or between lines.
    const auto load = rig.toolkit.makeTimer(Milliseconds(busyEveryMs));
    load->onTick([&rig, busyForMs] { rig.toolkit.busy(Milliseconds(busyForMs)); });
    load->setEnabled(true);
    rig.tick(60s);

    QVERIFY(everyGapIsAtLeastThePause(*rig.serial, 40, item));
}

void TestPauseSchedule::busyHandlersBetweenLinesNeverShortenTheNextPause_data() {
    QTest::addColumn<int>("item");
    for (int item = 0; item < 5; ++item) {
        QTest::newRow(QByteArray::number((item + 1) * 20) + " ms") << item;
    }
}

void TestPauseSchedule::busyHandlersBetweenLinesNeverShortenTheNextPause() {
    QFETCH(int, item);
    WindowRig rig;
    const auto dots = streamWithSpeedItem(rig, item, 20);
    // The progress caption is written after a line's pause; a handler queued then runs in the
    // yield before the next line goes out. Every second line only, so that the pause after
    // a quiet line is not padded by a busy handler of its own.
    bool busyLine = false;
    QObject::connect(&rig.widget(), &QWidget::windowTitleChanged, &rig.widget(), [&rig, &busyLine] {
        busyLine = !busyLine;
        if (busyLine) {
            rig.toolkit.post([&rig] { rig.toolkit.busy(7ms); });
        }
    });
    rig.tick(20s);

    QVERIFY(everyGapIsAtLeastThePause(*rig.serial, 20, item));
}

void TestPauseSchedule::lateWakeUpsDoNotAddUpWithinAPause() {
    WindowRig rig;
    const auto dots = streamWithSpeedItem(rig, 4, 10);
    rig.toolkit.wakeUpLate = 3ms;
    rig.tick(10s);
    const QList<Milliseconds> gaps = gapsBetweenLines(*rig.serial);
    QCOMPARE(gaps.size(), 9);
    // Five steps that each wake 3 ms late: each step sleeps toward its own deadline from the
    // LF, so only the last wake-up's lateness shows (not five times 3 ms).
    for (const Milliseconds gap : gaps) {
        QCOMPARE(gap, 103ms);
    }
}

void TestPauseSchedule::handlersAddToThePauseTheEventLoopsOwnLookDoesNot() {
    WindowRig rig;
    const auto dots = streamWithSpeedItem(rig, 4, 10);
    dots->setEnabled(false); // ten lines pass well within the dot watchdog
    rig.toolkit.yieldLooksFor = 1ms;
    // A handler busy for 7 ms, due 10 ms after each LF: it runs in the pause's first yield.
    rig.serial->onOutput = [&rig](QByteArrayView bytes) {
        if (bytes == "\n") {
            rig.toolkit.after(10ms, [&rig] { rig.toolkit.busy(7ms); });
        }
    };
    rig.tick(5s);
    const QList<Milliseconds> gaps = gapsBetweenLines(*rig.serial);
    QCOMPARE(gaps.size(), 9);
    // 100 ms, the handler's 7 ms, and the looks of the three yields after the last step (its
    // own and the two before the next line); the looks of the yields between the steps are
    // not added, like late wake-ups.
    for (const Milliseconds gap : gaps) {
        QCOMPARE(gap, 110ms);
    }
}

QTEST_MAIN(TestPauseSchedule)
#include "test_pause_schedule.moc"
