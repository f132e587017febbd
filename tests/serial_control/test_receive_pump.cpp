// The receive event pump on the virtual clock: when receive events are raised for bytes that
// arrive, how a stream is batched, how events nest inside a handler's yield and where that
// nesting stops, and that nothing of an earlier opening acts after a reopen.

#include "link/control/receive_pump.h"
#include "tests/support/virtual_toolkit.h"

#include <QTest>

#include <algorithm>
#include <vector>

using namespace std::chrono_literals;
using norvak::ReceiveLine;
using norvak::ReceivePump;
using norvak::test::VirtualToolkit;

namespace {

constexpr auto gap = ReceivePump::kReceiveEventGap;

// A port as the pump sees it. Bytes that arrive while the line holds them in the system are
// read (and announced by readyRead) only once the hold is lifted, on the next event-loop pass.
struct FakeLine {
    VirtualToolkit toolkit;
    QByteArray waiting;
    QByteArray received; // what handlers took, in order
    quint64 taken = 0;
    bool holding = false;
    bool arrivedWhileHeld = false;
    bool insideMemberCall = false;
    int depth = 0;
    int deepest = 0;
    std::vector<std::chrono::milliseconds> eventTimes;
    std::function<void()> handler = [this] {
        takeAll();
    };
    ReceivePump pump{toolkit, ReceiveLine{
                                  .canRaise = [] { return true; },
                                  .waitingBytes = [this] { return waiting.size(); },
                                  .bytesTaken = [this] { return taken; },
                                  .holdBytesInSystem = [this](bool hold) { setHold(hold); },
                                  .raise = [this] { raise(); },
                              }};

    FakeLine() {
        pump.setThreshold(1);
        pump.reset();
    }
    void arrive(const QByteArray& bytes) {
        waiting += bytes;
        if (holding) {
            arrivedWhileHeld = true;
            return;
        }
        insideMemberCall = true; // readyRead: no handler may run from here
        pump.bytesArrived();
        insideMemberCall = false;
    }
    // One byte every millisecond from `start` on.
    void stream(const QByteArray& bytes, std::chrono::milliseconds start = 1ms) {
        for (qsizetype i = 0; i < bytes.size(); ++i) {
            toolkit.after(start + i * 1ms, [this, byte = bytes.mid(i, 1)] { arrive(byte); });
        }
    }
    void take(qsizetype count) {
        received += waiting.left(count);
        taken += static_cast<quint64>(std::min(count, waiting.size()));
        waiting.remove(0, count);
    }
    void takeAll() { take(waiting.size()); }
    void setHold(bool hold) {
        holding = hold;
        if (!hold && std::exchange(arrivedWhileHeld, false)) {
            toolkit.post([this] { arrive({}); });
        }
    }
    void raise() {
        QVERIFY(!insideMemberCall);
        eventTimes.push_back(toolkit.now());
        deepest = std::max(deepest, ++depth);
        handler();
        --depth;
    }
};

QByteArray letters(int count) {
    QByteArray bytes;
    for (int i = 0; i < count; ++i) {
        bytes += static_cast<char>('a' + i % 26);
    }
    return bytes;
}

} // namespace

class TestReceivePump : public QObject {
    Q_OBJECT

private slots:
    void aByteOnAQuietLineIsAnnouncedOnTheNextPass();
    void aStreamIsAnnouncedInBatchesOneGapApart();
    void thresholdDecidesWhatIsWorthAnEvent();
    void bytesLeftBehindAreAnnouncedAgainWithoutSpinning();
    void bytesArrivingDuringALongYieldAreAnnouncedInside();
    void nestingStopsAtTheBoundAndLosesNothing();
    void theGapOfAnEarlierOpeningHoldsNothingBack();
};

void TestReceivePump::aByteOnAQuietLineIsAnnouncedOnTheNextPass() {
    FakeLine line;
    line.arrive(">");
    QVERIFY(line.eventTimes.empty()); // never from inside readyRead
    line.toolkit.runDue();
    QCOMPARE(line.received, QByteArray(">"));
    // Long after, another lone byte is announced at once, not a gap later.
    line.toolkit.advance(100ms);
    line.arrive("_");
    line.toolkit.runDue();
    QCOMPARE(line.eventTimes, (std::vector{0ms, 100ms}));
    // A byte within the gap after an event waits for the end of the gap, held in the system.
    line.toolkit.advance(3ms);
    line.arrive(".");
    line.toolkit.runDue();
    QCOMPARE(line.eventTimes.size(), std::size_t{2});
    QVERIFY(line.holding);
    line.toolkit.advance(gap);
    QCOMPARE(line.eventTimes.back(), 100ms + gap);
    QVERIFY(!line.holding);
    QCOMPARE(line.received, QByteArray(">_."));
}

void TestReceivePump::aStreamIsAnnouncedInBatchesOneGapApart() {
    FakeLine line;
    const QByteArray sent = letters(300);
    line.stream(sent);
    line.toolkit.advance(1s);
    QCOMPARE(line.received, sent);
    const auto& times = line.eventTimes;
    QCOMPARE(times.front(), 1ms);
    for (std::size_t i = 1; i < times.size(); ++i) {
        // Never closer than the gap, and a stream is not kept waiting beyond it.
        QVERIFY2(times[i] - times[i - 1] >= gap, qPrintable(QString::number(i)));
        QVERIFY2(times[i] - times[i - 1] <= gap + 1ms, qPrintable(QString::number(i)));
    }
    QVERIFY(times.back() >= 300ms);
}

void TestReceivePump::thresholdDecidesWhatIsWorthAnEvent() {
    FakeLine line;
    line.pump.setThreshold(3);
    line.arrive("ab");
    line.toolkit.advance(100ms);
    QVERIFY(line.eventTimes.empty());
    line.arrive("c");
    line.toolkit.runDue();
    QCOMPARE(line.received, QByteArray("abc"));

    line.pump.setThreshold(0);
    line.arrive("d");
    line.toolkit.advance(100ms);
    QCOMPARE(line.eventTimes.size(), std::size_t{1});
    // Set again while a byte waits, a check finds it.
    line.pump.setThreshold(1);
    line.pump.checkSoon();
    line.toolkit.runDue();
    QCOMPARE(line.received, QByteArray("abcd"));
}

void TestReceivePump::bytesLeftBehindAreAnnouncedAgainWithoutSpinning() {
    FakeLine line;
    line.handler = [&line] {
        line.take(1);
    }; // as with InputLen 1 and no drain loop
    line.arrive("12345");
    line.toolkit.advance(1s);
    QCOMPARE(line.received, QByteArray("12345"));
    QCOMPARE(line.eventTimes.size(), std::size_t{5});
    QCOMPARE(line.eventTimes.back(), 4 * gap);

    // A handler that leaves the bytes alone has seen them: it hears again only of more.
    int events = 0;
    line.handler = [&events] {
        ++events;
    };
    line.arrive("xyz");
    line.toolkit.advance(1s);
    QCOMPARE(events, 1);
    line.arrive("!");
    line.toolkit.advance(1s);
    QCOMPARE(events, 2);
}

void TestReceivePump::bytesArrivingDuringALongYieldAreAnnouncedInside() {
    FakeLine line;
    QByteArray seenByTheOuterHandler;
    line.handler = [&] {
        line.takeAll();
        if (line.depth == 1 && line.received == "first") {
            line.stream("second");
            line.toolkit.advance(100ms); // a modal box, or the file streamer's yields
            seenByTheOuterHandler = line.received;
        } else if (line.depth == 1) {
            line.toolkit.runDue(); // a closing yield: over long before a gap
        }
    };
    line.arrive("first");
    line.toolkit.runDue();
    QCOMPARE(seenByTheOuterHandler, QByteArray("firstsecond"));
    QCOMPARE(line.deepest, 2);

    // Handlers whose yields pass at once do not nest, however fast bytes come.
    line.deepest = 0;
    line.stream(letters(100));
    line.toolkit.advance(1s);
    QCOMPARE(line.deepest, 1);
    QCOMPARE(line.received, "firstsecond" + letters(100));
}

void TestReceivePump::nestingStopsAtTheBoundAndLosesNothing() {
    FakeLine line;
    line.handler = [&line] {
        line.takeAll();
        line.toolkit.advance(2 * gap); // every yield outlasts the gap
    };
    const QByteArray sent = letters(600);
    line.stream(sent);
    line.toolkit.advance(5s);
    QCOMPARE(line.received, sent);
    QCOMPARE(line.deepest, ReceivePump::kMaxReceiveNesting);
    QCOMPARE(line.depth, 0);
}

void TestReceivePump::theGapOfAnEarlierOpeningHoldsNothingBack() {
    // An event, then a byte within its gap: held, and announced at the end of the gap. The port
    // closes and opens again meanwhile: the next byte is announced at once.
    FakeLine line;
    line.toolkit.advance(100ms);
    line.arrive(">");
    line.toolkit.runDue();
    line.toolkit.advance(2ms);
    line.arrive("_");
    line.toolkit.runDue();
    QVERIFY(line.holding);
    line.waiting.clear();
    line.pump.reset();
    QVERIFY(!line.holding);
    line.toolkit.advance(1ms);
    line.arrive("P");
    line.toolkit.runDue();
    QCOMPARE(line.eventTimes, (std::vector{100ms, 103ms}));
    line.toolkit.advance(1s);
    QCOMPARE(line.eventTimes.size(), std::size_t{2});
    QCOMPARE(line.received, QByteArray(">P"));
}

QTEST_GUILESS_MAIN(TestReceivePump)
#include "test_receive_pump.moc"
