// The streamer's pause schedule on a clock the test moves: late steps are shortened by what
// they are late (at most maxCatchUp), a held-up thread starts the schedule afresh, and a
// clock that does not move gets whole steps.

#include "programming/firmware_streamer.h"

#include <QTest>

#include <vector>

using namespace norvak;
using namespace std::chrono_literals;
using Clock = PauseSchedule::Clock;

class TestPauseSchedule : public QObject {
    Q_OBJECT

private slots:
    void aClockThatDoesNotMoveGetsWholeSteps();
    void lateWakeUpsAreMadeUpOverTheNextSteps();
    void catchingUpIsBoundedPerStep();
    void aHeldUpThreadStartsTheScheduleAfresh();
};

namespace {

// A clock standing at `at`, moved by the test.
struct TestClock {
    Clock::time_point at{};
    [[nodiscard]] auto source() {
        return [this] {
            return at;
        };
    }
};

} // namespace

void TestPauseSchedule::aClockThatDoesNotMoveGetsWholeSteps() {
    TestClock clock;
    PauseSchedule schedule(clock.source());
    for (int i = 0; i < 5; ++i)
        QCOMPARE(schedule.nextStep(), 20ms);
}

void TestPauseSchedule::lateWakeUpsAreMadeUpOverTheNextSteps() {
    TestClock clock;
    PauseSchedule schedule(clock.source());
    // Each sleep wakes 0.6 ms late; the time between steps is 0.3 ms.
    std::vector<Milliseconds> steps;
    for (int i = 0; i < 100; ++i) {
        clock.at += 300us;
        const Milliseconds step = schedule.nextStep();
        steps.push_back(step);
        clock.at += step + 600us;
    }
    QCOMPARE(steps.front(), 20ms);
    // 0.9 ms a step is made up with 19 ms sleeps: the last sleep ends within rounding (0.5 ms)
    // and its own late wake-up (0.6 ms) of 100 whole steps, where whole sleeps would end 90 ms
    // late.
    QVERIFY(std::all_of(steps.begin(), steps.end(), [](Milliseconds s) { return s >= 19ms; }));
    const auto behind = clock.at - (Clock::time_point{} + 100 * 20ms);
    QVERIFY2(behind <= 1100us && behind >= 0us, qPrintable(QString::number(behind.count())));
}

void TestPauseSchedule::catchingUpIsBoundedPerStep() {
    TestClock clock;
    PauseSchedule schedule(clock.source());
    QCOMPARE(schedule.nextStep(), 20ms);
    clock.at += 20ms + 7ms; // 7 ms late
    QCOMPARE(schedule.nextStep(), 18ms);
    clock.at += 18ms; // still 5 ms behind
    QCOMPARE(schedule.nextStep(), 18ms);
    clock.at += 18ms; // 3 ms behind
    QCOMPARE(schedule.nextStep(), 18ms);
    clock.at += 18ms; // 1 ms behind
    QCOMPARE(schedule.nextStep(), 19ms);
    clock.at += 19ms; // on time
    QCOMPARE(schedule.nextStep(), 20ms);
}

void TestPauseSchedule::aHeldUpThreadStartsTheScheduleAfresh() {
    TestClock clock;
    PauseSchedule schedule(clock.source());
    QCOMPARE(schedule.nextStep(), 20ms);
    clock.at += 20ms + 500ms; // a modal box, or a long line being written
    QCOMPARE(schedule.nextStep(), 20ms);
    clock.at += 20ms;
    QCOMPARE(schedule.nextStep(), 20ms);
    // Half a millisecond late rounds to a whole step; more than that is made up.
    clock.at += 20ms + 400us;
    QCOMPARE(schedule.nextStep(), 20ms);
    clock.at += 20ms + 400us; // now 0.8 ms behind
    QCOMPARE(schedule.nextStep(), 19ms);
}

QTEST_GUILESS_MAIN(TestPauseSchedule)
#include "test_pause_schedule.moc"
