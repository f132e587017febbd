// The serial control that reaches the simulated device in the same process, on a virtual
// clock: bytes travel at the line's pace in both directions, OnComm follows RThreshold and
// InputLen as the real control's does, and a line that goes is reported once the host has
// read the last answer.

#include "tools/simdevice/in_process_device.h"
#include "tools/simdevice/in_process_serial.h"

#include "tests/support/virtual_toolkit.h"

#include <QTest>

using namespace norvak;
using namespace std::chrono_literals;

class TestInProcessSerial : public QObject {
    Q_OBJECT

private slots:
    void bytesTravelAtTheLinePace();
    void receiveEventsFollowThresholdAndInputLength();
    void lostLineWaitsUntilTheLastAnswerIsRead();
    void onlyItsOwnPortOpens();
};

namespace {

// How long `bytes` take on the line, 10 bits each at 57600 baud, rounded down as the line's
// clock rounds.
constexpr std::chrono::nanoseconds lineTime(std::int64_t bytes) {
    return std::chrono::nanoseconds(bytes * 10'000'000'000LL / 57600);
}
constexpr std::int16_t devicePort = 4;
// One data record of 16 bytes: 42 characters, with its LF 43 bytes on the line.
constexpr std::string_view dataRecord = "S1130000000102030405060708090A0B0C0D0E0F74";

struct Rig {
    explicit Rig(SimDeviceConfig config = {})
        : device(std::move(config))
        , serial(toolkit, device, devicePort) {
        device.powerCycle(toolkit.monotonicNow()); // straight into the boot program
        serial.setCommPort(devicePort);
        serial.setSettings(QStringLiteral("57600,n,8,1"));
        serial.setPortOpen(true);
        serial.OnComm = [this] {
            ++events;
            while (serial.InBufferCount() > 0) {
                received += serial.Input();
            }
        };
        serial.OnPortLost = [this](const QString& description) {
            lost << description;
        };
    }

    test::VirtualToolkit toolkit;
    InProcessDevice device;
    InProcessSerial serial;
    int events = 0;
    QByteArray received;
    QStringList lost;
};

} // namespace

void TestInProcessSerial::bytesTravelAtTheLinePace() {
    Rig rig;
    rig.serial.setRThreshold(1);
    rig.serial.setInputLen(1);
    const TimePoint start = rig.toolkit.monotonicNow();
    rig.serial.Output("i");
    QCOMPARE(rig.serial.InBufferCount(), 0); // the answer is not back yet
    rig.toolkit.advance(1ms);
    QCOMPARE(rig.received, QByteArray(">"));
    const SimRecording& rec = rig.device.recording();
    QCOMPARE(rec.receivedAt.at(0) - start, lineTime(1));
    QCOMPARE(rec.sentAt.at(0) - start, lineTime(2));

    rig.serial.Output("f");
    rig.toolkit.advance(1ms);
    QCOMPARE(rig.received, QByteArray(">")); // a stream's events are a frame apart
    rig.toolkit.advance(ReceivePump::kReceiveEventGap);
    QCOMPARE(rig.received, QByteArray(">_"));
    const TimePoint lineHandedOver = rig.toolkit.monotonicNow();
    rig.serial.Output(QByteArray(dataRecord.data(), dataRecord.size()) + '\n');
    // Five milliseconds take 28 bytes off the line; the rest follow, and then the dot.
    rig.toolkit.advance(5ms);
    QCOMPARE(rec.received.size(), std::size_t{2 + 28});
    rig.toolkit.advance(5ms);
    QCOMPARE(rec.acceptedLines.size(), std::size_t{1});
    QCOMPARE(rec.acceptedLines[0].at - lineHandedOver, lineTime(43));
    rig.toolkit.advance(ReceivePump::kReceiveEventGap);
    QCOMPARE(rig.received, QByteArray(">_."));
    QCOMPARE(rig.device.hostWrites().size(), std::size_t{3});
    QCOMPARE(rig.device.hostWrites()[2].at, lineHandedOver);
}

void TestInProcessSerial::receiveEventsFollowThresholdAndInputLength() {
    Rig rig;
    rig.serial.setInputLen(0);
    rig.serial.OnComm = [&rig] {
        ++rig.events;
    };
    rig.serial.Output("iii");
    rig.toolkit.advance(5ms);
    QCOMPARE(rig.events, 0); // RThreshold 0: no events, the bytes wait
    QCOMPARE(rig.serial.InBufferCount(), 3);

    rig.serial.setRThreshold(2);
    rig.toolkit.advance(1ms);
    QCOMPARE(rig.events, 1);
    QCOMPARE(rig.serial.CommEvent(), comm_event::Receive);
    rig.serial.setInputLen(1);
    QCOMPARE(rig.serial.Input(), QByteArray(">"));
    rig.serial.setInputLen(0);
    QCOMPARE(rig.serial.Input(), QByteArray(">>"));
    QCOMPARE(rig.serial.Input(), QByteArray());

    // Below the threshold nothing is raised; closed, the port neither sends nor reads.
    rig.serial.Output("i");
    rig.toolkit.advance(20ms);
    QCOMPARE(rig.events, 1);
    rig.serial.setPortOpen(false);
    QCOMPARE(rig.serial.InBufferCount(), 0);
    QVERIFY_THROWS_EXCEPTION(SerialError, rig.serial.Output("i"));
    QVERIFY_THROWS_EXCEPTION(SerialError, static_cast<void>(rig.serial.Input()));
    // What the device said while the port was closed is gone when it opens again.
    rig.serial.setPortOpen(true);
    QCOMPARE(rig.serial.InBufferCount(), 0);
}

void TestInProcessSerial::lostLineWaitsUntilTheLastAnswerIsRead() {
    for (const bool read : {true, false}) {
        Rig rig;
        rig.serial.Output("i");
        rig.toolkit.advance(1ms);
        rig.device.hangUp(rig.toolkit.monotonicNow());
        rig.toolkit.advance(100ms);
        QVERIFY(rig.serial.PortOpen()); // the answer on the line before it went waits
        QVERIFY(rig.lost.isEmpty());
        if (read) {
            QCOMPARE(rig.serial.Input(), QByteArray(">"));
            rig.toolkit.advance(2ms);
        } else {
            rig.toolkit.advance(InProcessSerial::kHangUpGrace);
        }
        QVERIFY(!rig.serial.PortOpen());
        QCOMPARE(rig.lost.size(), 1);
        QVERIFY2(rig.lost[0].contains(QStringLiteral("connection to the device was lost")),
                 qPrintable(rig.lost[0]));
        QVERIFY_THROWS_EXCEPTION(PortLostError, rig.serial.Output("i"));
        QVERIFY_THROWS_EXCEPTION(SerialError, rig.serial.setPortOpen(true));
        rig.toolkit.advance(1s);
        QCOMPARE(rig.lost.size(), 1);
    }
}

void TestInProcessSerial::onlyItsOwnPortOpens() {
    Rig rig;
    rig.serial.setPortOpen(false);
    rig.serial.setCommPort(3);
    try {
        rig.serial.setPortOpen(true);
        QFAIL("port 3 opened");
    } catch (const SerialError& e) {
        QVERIFY2(QString(e.what()).contains(QStringLiteral("Port 3: no serial port found")),
                 e.what());
    }
    QVERIFY(!rig.serial.PortOpen());
    rig.serial.setCommPort(devicePort);
    rig.serial.setPortOpen(true);
    QVERIFY_THROWS_EXCEPTION(SerialError, rig.serial.setCommPort(3)); // only while closed
}

QTEST_MAIN(TestInProcessSerial)
#include "test_in_process_serial.moc"
