// The real toolkit's 0 ms timer ticks on the next event-loop pass, also while a socket stays
// ready (a flooding serial line), and never after it was disabled or destroyed. Its sleep never
// ends before the deadline, however near or far the deadline lies.

#include "mainwindow/qt_toolkit.h"

#include <QEventLoop>
#include <QTest>
#include <QTimer>

#include <array>

#ifdef Q_OS_WIN
#include <QWinEventNotifier>
#include <windows.h>
#else
#include <QSocketNotifier>
#include <unistd.h>
#endif

using namespace std::chrono_literals;

class TestQtToolkit : public QObject {
    Q_OBJECT

private slots:
    void aZeroTimerTicksOnTheNextPassWhileASocketStaysReady();
    void aZeroTimerTicksOnceForEachEnablingThatLasts();
    void theSleepNeverEndsBeforeItsDeadline();
    void aYieldCountsItsHandlersTimeAndNothingWhenThereWasNothingToHandle();
};

namespace {

#ifdef Q_OS_WIN
// An event that stays signalled: its notifier is ready on every pass, as a flooding serial
// line's overlapped read is.
using ReadyNotifier = QWinEventNotifier;
class ReadySource {
public:
    ReadySource()
        : event_(::CreateEventW(nullptr, TRUE, TRUE, nullptr))
        , notifier_(event_) {
        if (event_ == nullptr) {
            qFatal("no event");
        }
    }
    ~ReadySource() {
        notifier_.setEnabled(false);
        ::CloseHandle(event_);
    }
    ReadySource(const ReadySource&) = delete;
    ReadySource& operator=(const ReadySource&) = delete;
    [[nodiscard]] ReadyNotifier& notifier() { return notifier_; }

private:
    HANDLE event_;
    QWinEventNotifier notifier_;
};
#else
// A pipe with a byte nobody reads: its read notifier is ready on every pass.
using ReadyNotifier = QSocketNotifier;
class ReadySource {
public:
    ReadySource()
        : fds_(makeReadyPipe())
        , notifier_(fds_[0], QSocketNotifier::Read) {}
    ~ReadySource() {
        notifier_.setEnabled(false);
        ::close(fds_[0]);
        ::close(fds_[1]);
    }
    ReadySource(const ReadySource&) = delete;
    ReadySource& operator=(const ReadySource&) = delete;
    [[nodiscard]] ReadyNotifier& notifier() { return notifier_; }

private:
    static std::array<int, 2> makeReadyPipe() {
        std::array<int, 2> fds{-1, -1};
        if (::pipe(fds.data()) != 0 || ::write(fds[1], "x", 1) != 1) {
            qFatal("no pipe");
        }
        return fds;
    }
    std::array<int, 2> fds_;
    QSocketNotifier notifier_;
};
#endif

} // namespace

void TestQtToolkit::aZeroTimerTicksOnTheNextPassWhileASocketStaysReady() {
    norvak::QtToolkit toolkit;
    ReadySource line;
    QEventLoop loop;
    int passes = 0;
    QObject::connect(&line.notifier(), &ReadyNotifier::activated, [&] {
        if (++passes > 10000) {
            loop.quit(); // the tick never came
        }
    });
    const auto next = toolkit.makeTimer(0ms);
    int enabledAt = -1;
    int tickedAt = -1;
    next->onTick([&] {
        next->setEnabled(false);
        tickedAt = passes;
        loop.quit();
    });
    // Enabled from a timer's tick inside the running loop, as the receive handler's checks are.
    QTimer::singleShot(1ms, [&] {
        enabledAt = passes;
        next->setEnabled(true);
    });
    loop.exec();
    QVERIFY(enabledAt >= 0);
    QVERIFY2(tickedAt >= 0 && tickedAt - enabledAt <= 2,
             qPrintable(
                 QStringLiteral("enabled at pass %1, ticked at %2").arg(enabledAt).arg(tickedAt)));
}

void TestQtToolkit::aZeroTimerTicksOnceForEachEnablingThatLasts() {
    norvak::QtToolkit toolkit;
    auto next = toolkit.makeTimer(0ms);
    int ticks = 0;
    next->onTick([&] {
        ++ticks;
        next->setEnabled(false);
    });
    next->setEnabled(true);
    next->setEnabled(false);
    next->setEnabled(true);
    next->setEnabled(true);
    QTest::qWait(20);
    QCOMPARE(ticks, 1);
    QVERIFY(!next->isEnabled());

    next->setEnabled(true);
    next->setEnabled(false);
    QTest::qWait(20);
    QCOMPARE(ticks, 1);

    // Still enabled, it ticks on every pass; destroyed, it ticks no more.
    next->onTick([&] { ++ticks; });
    next->setEnabled(true);
    QTRY_VERIFY(ticks > 3);
    next.reset();
    const int atReset = ticks;
    QTest::qWait(20);
    QCOMPARE(ticks, atReset);

    // Destroyed by its own handler, as a port closed from a receive event drops its pump.
    next = toolkit.makeTimer(0ms);
    next->onTick([&] {
        ++ticks;
        next.reset();
    });
    next->setEnabled(true);
    QTRY_VERIFY(!next);
    QTest::qWait(20);
    QCOMPARE(ticks, atReset + 1);
}

void TestQtToolkit::theSleepNeverEndsBeforeItsDeadline() {
    norvak::QtToolkit toolkit;
    using Clock = std::chrono::steady_clock;
    // Past, inside the part spent awake, across its edge, and a whole pause step.
    for (const auto ahead : {-1000us, 0us, 50us, 249us, 251us, 1000us, 20000us}) {
        for (int i = 0; i < 5; ++i) {
            const auto deadline = Clock::now() + ahead;
            toolkit.sleepUntil(deadline);
            const auto early = std::chrono::nanoseconds(deadline - Clock::now());
            QVERIFY2(early.count() <= 0, qPrintable(QString::number(early.count())));
        }
    }
}

void TestQtToolkit::aYieldCountsItsHandlersTimeAndNothingWhenThereWasNothingToHandle() {
    norvak::QtToolkit toolkit;
    QCoreApplication::processEvents();
    QCOMPARE(toolkit.yield(), norvak::TimePoint::duration::zero());

    using Clock = std::chrono::steady_clock;
    const auto busyFor = [](std::chrono::microseconds duration) {
        const auto until = Clock::now() + duration;
        while (Clock::now() < until) {
        }
    };
    QObject context;
    QMetaObject::invokeMethod(
        &context, [&] { busyFor(3ms); }, Qt::QueuedConnection);
    // A handler that yields in turn: the outer yield counts its whole time once.
    QMetaObject::invokeMethod(
        &context,
        [&] {
            busyFor(2ms);
            QMetaObject::invokeMethod(
                &context, [&] { busyFor(1ms); }, Qt::QueuedConnection);
            QVERIFY(toolkit.yield() >= 1ms);
        },
        Qt::QueuedConnection);
    const auto handlers = toolkit.yield();
    QVERIFY2(
        handlers >= 6ms && handlers < 1s,
        qPrintable(QString::number(std::chrono::duration<double, std::milli>(handlers).count())));
}

QTEST_GUILESS_MAIN(TestQtToolkit)
#include "test_qt_toolkit.moc"
