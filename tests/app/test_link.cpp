// Connecting and disconnecting, the link's captions, and the bytes Send and SendPacket write.

#include "tests/support/window_rig.h"

#include <QRegularExpression>
#include <QTest>

using namespace norvak;
using namespace norvak::test;

class TestLink : public QObject {
    Q_OBJECT

private slots:
    void connectWritesTheControlInOrderAndShowsTrue();
    void secondPressDisconnects();
    void failedOpenShowsTheErrorFormAndLeavesThePortClosed();
    void badPortTextIsReportedAndChangesNothingElse_data();
    void badPortTextIsReportedAndChangesNothingElse();
    void everyPressEndsTheRunAndEnablesStartOnlyWithAFile();
    void parsePortTextAcceptsSignedDecimalNumbers();
    void sendWritesOneByteOnlyWhileOpen();
    void sendPacketFramesAndStopsAtTheFailingByte_data();
    void sendPacketFramesAndStopsAtTheFailingByte();
    void baudRateAndComPortReopenAnOpenPortQuietly();
    void closePortLeavesCaptionsAndLetsConnectSetUpAgain();
    void lostAdapterIsReportedOnce();
    void failingWriteIsReportedOnceAndEndsTheRun();
    void aSerialErrorThatIsNoLostPortIsNotReportedAsOne();
};

namespace {

const QRegularExpression errorCaption(
    QStringLiteral(R"(^Norvak Flash Programmer, Connect:   Error \d\d:\d\d:\d\d(.+)$)"));

} // namespace

void TestLink::connectWritesTheControlInOrderAndShowsTrue() {
    WindowRig rig;
    rig.pressConnect();
    QCOMPARE(rig.serial->memberWrites,
             QStringList({"CommPort=4", "Settings=57600,n,8,1", "RThreshold=1", "OutBufferSize=16",
                          "InputLen=1", "PortOpen=true"}));
    QCOMPARE(rig.caption(), QStringLiteral("Norvak Flash Programmer, Connect: True"));
    QCOMPARE(rig.caption(Button::Connect), QStringLiteral("Disconnect"));
    QVERIFY(rig.connected());
    QVERIFY(rig.portOpen());
    QCOMPARE(rig.portNumber(), 4);
    QCOMPARE(rig.baudRate(), 57600);
    QVERIFY(!rig.enabled(Button::Flash)); // no file chosen yet
}

void TestLink::secondPressDisconnects() {
    WindowRig rig;
    rig.pressConnect();
    rig.serial->memberWrites.clear();
    rig.pressConnect();
    QCOMPARE(rig.serial->memberWrites, QStringList({"PortOpen=false"}));
    QCOMPARE(rig.caption(), QStringLiteral("Norvak Flash Programmer, Connect: False"));
    QCOMPARE(rig.caption(Button::Connect), QStringLiteral("Connect"));
    QVERIFY(!rig.connected());
    QVERIFY(!rig.portOpen());
}

void TestLink::failedOpenShowsTheErrorFormAndLeavesThePortClosed() {
    WindowRig rig;
    rig.serial->openFailure = QStringLiteral("Port 4 (/dev/ttyUSB3): no such device.");
    rig.force({.state = FlashState::Sending});
    rig.pressConnect();
    const auto match = errorCaption.match(rig.caption());
    QVERIFY2(match.hasMatch(), qPrintable(rig.caption()));
    QCOMPARE(match.captured(1), QStringLiteral("Port 4 (/dev/ttyUSB3): no such device."));
    QCOMPARE(rig.caption(Button::Connect), QStringLiteral("Connect"));
    QVERIFY(!rig.connected());
    QVERIFY(!rig.serial->PortOpen());
    QCOMPARE(rig.state(), FlashState::Idle);
    QCOMPARE(rig.restartCountdown(), 0);
}

void TestLink::badPortTextIsReportedAndChangesNothingElse_data() {
    QTest::addColumn<QString>("text");
    for (const char* text :
         {"", " ", "abc", "4abc", "4,5", "0x10", "99999999999", "32768", "-32769", "+", "٤"}) {
        QTest::newRow(text[0] ? text : "empty") << QString::fromUtf8(text);
    }
}

void TestLink::badPortTextIsReportedAndChangesNothingElse() {
    QFETCH(QString, text);
    WindowRig rig;
    rig.setPortText(text);
    rig.force({.state = FlashState::WaitingForBoot, .restartCountdown = 17});
    rig.pressConnect();
    QVERIFY2(errorCaption.match(rig.caption()).hasMatch(), qPrintable(rig.caption()));
    QVERIFY(rig.caption().contains(text));
    QVERIFY(!rig.serial->PortOpen());
    QVERIFY(!rig.serial->memberWrites.contains("PortOpen=true"));
    // The press ended before its last steps: the run's values stand.
    QCOMPARE(rig.state(), FlashState::WaitingForBoot);
    QCOMPARE(rig.restartCountdown(), 17);
}

void TestLink::everyPressEndsTheRunAndEnablesStartOnlyWithAFile() {
    WindowRig rig;
    rig.pressConnect();
    rig.chooseFile(rig.writeFile("a.srec", "S9030000FC\r\n"));
    QVERIFY(rig.enabled(Button::Flash));
    rig.press(Button::Flash);
    QCOMPARE(rig.state(), FlashState::WaitingForBoot);
    rig.pressConnect(); // closes
    QCOMPARE(rig.state(), FlashState::Idle);
    QCOMPARE(rig.restartCountdown(), 0);
    QCOMPARE(rig.caption(Button::Flash), QStringLiteral("START PROGRAMMING"));
    QVERIFY(!rig.enabled(Button::Flash)); // START disabled it; a close never enables
    rig.pressConnect();                   // opens again, a file is chosen
    QVERIFY(rig.enabled(Button::Flash));
    rig.pressConnect();
    QVERIFY(rig.enabled(Button::Flash)); // a close keeps what it had
}

void TestLink::parsePortTextAcceptsSignedDecimalNumbers() {
    QCOMPARE(parsePortText(" 7 "), 7);
    QCOMPARE(parsePortText("+12"), 12);
    QCOMPARE(parsePortText("-1"), -1);
    QCOMPARE(parsePortText("2147483647"), 2147483647);
    QCOMPARE(parsePortText("-2147483648"), std::numeric_limits<std::int32_t>::min());
    QVERIFY_THROWS_EXCEPTION(SerialError, (void)parsePortText("2147483648"));
    QVERIFY_THROWS_EXCEPTION(SerialError, (void)parsePortText("1 2"));
    // A text that holds a decimal number names the nearest whole port, a half the even one.
    QCOMPARE(parsePortText("4.0"), 4);
    QCOMPARE(parsePortText(" 4.4 "), 4);
    QCOMPARE(parsePortText("4.6"), 5);
    QCOMPARE(parsePortText("4.5"), 4);
    QCOMPARE(parsePortText("5.5"), 6);
    QCOMPARE(parsePortText("-1.5"), -2);
    QCOMPARE(parsePortText(".5"), 0);
    QCOMPARE(parsePortText("4."), 4);
    QCOMPARE(parsePortText("4E0"), 4);
    QCOMPARE(parsePortText("+1e1"), 10);
    QCOMPARE(parsePortText("2147483647.4"), 2147483647);
    QVERIFY_THROWS_EXCEPTION(SerialError, (void)parsePortText("2147483647.5"));
    QVERIFY_THROWS_EXCEPTION(SerialError, (void)parsePortText("1e400"));
}

void TestLink::sendWritesOneByteOnlyWhileOpen() {
    WindowRig rig;
    rig.send('i', false);
    QVERIFY(rig.serial->wire.isEmpty());
    rig.pressConnect();
    rig.send('i', false);
    rig.send('i', true);
    rig.send(0, true);
    QCOMPARE(rig.serial->wire, QByteArray::fromHex("6996ff"));
    QCOMPARE(rig.serial->outputs.size(), 3);
}

void TestLink::sendPacketFramesAndStopsAtTheFailingByte_data() {
    QTest::addColumn<int>("cmd");
    QTest::addColumn<PacketData>("data");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("no sequence") << 0x41 << PacketData{} << QByteArray::fromHex("4100be");
    QTest::newRow("1 2 3") << 0x10 << PacketData{{1, 2, 3}} << QByteArray::fromHex("10030102 03ef");
    QTest::newRow("empty sequence")
        << 0x41 << PacketData{std::vector<int>{}} << QByteArray::fromHex("4100be");
    QTest::newRow("element 300") << 0x10 << PacketData{{1, 2, 300}}
                                 << QByteArray::fromHex("10030102");
    QTest::newRow("negative element") << 0x10 << PacketData{{-1}} << QByteArray::fromHex("1001");
    std::vector<int> full(255);
    QByteArray fullExpected = QByteArray::fromHex("20ff");
    for (int i = 0; i < 255; ++i) {
        full[static_cast<std::size_t>(i)] = i;
        fullExpected.append(static_cast<char>(i));
    }
    fullExpected.append('\xdf');
    QTest::newRow("255 elements") << 0x20 << PacketData{full} << fullExpected;
    full.push_back(0);
    QTest::newRow("256 elements") << 0x20 << PacketData{full} << QByteArray::fromHex("20");
    QTest::newRow("command out of range") << 256 << PacketData{} << QByteArray();
}

void TestLink::sendPacketFramesAndStopsAtTheFailingByte() {
    QFETCH(int, cmd);
    QFETCH(PacketData, data);
    QFETCH(QByteArray, expected);
    WindowRig rig;
    rig.sendPacket(cmd, data); // closed: nothing, no report
    QVERIFY(rig.serial->wire.isEmpty());
    rig.pressConnect();
    const QString caption = rig.caption();
    rig.sendPacket(cmd, data);
    QCOMPARE(rig.serial->wire.toHex(), expected.toHex());
    QCOMPARE(rig.serial->outputs.size(), expected.size()); // one write per byte
    QCOMPARE(rig.caption(), caption);
}

void TestLink::baudRateAndComPortReopenAnOpenPortQuietly() {
    WindowRig rig;
    rig.setBaudRate(9600); // closed: only the settings
    QCOMPARE(rig.serial->memberWrites.last(), QStringLiteral("Settings=9600,n,8,1"));
    rig.pressConnect();
    const QString caption = rig.caption();
    rig.serial->memberWrites.clear();
    rig.setBaudRate(19200);
    rig.setComPort(6);
    QCOMPARE(rig.serial->memberWrites,
             QStringList({"PortOpen=false", "Settings=19200,n,8,1", "PortOpen=true",
                          "PortOpen=false", "CommPort=6", "PortOpen=true"}));
    QCOMPARE(rig.caption(), caption);
    QVERIFY(rig.connected());
    QCOMPARE(rig.caption(Button::Connect), QStringLiteral("Disconnect"));
    // The next Connect on a closed port sets up 57600 and the box's number again.
    rig.pressConnect();
    rig.serial->memberWrites.clear();
    rig.pressConnect();
    QCOMPARE(rig.serial->memberWrites.mid(0, 2),
             QStringList({"CommPort=4", "Settings=57600,n,8,1"}));
}

void TestLink::closePortLeavesCaptionsAndLetsConnectSetUpAgain() {
    WindowRig rig;
    rig.pressConnect();
    rig.serial->setPortOpen(false);
    QCOMPARE(rig.caption(Button::Connect), QStringLiteral("Disconnect"));
    rig.pressConnect(); // reads closed, so it sets up and opens
    QVERIFY(rig.serial->PortOpen());
    QCOMPARE(rig.caption(), QStringLiteral("Norvak Flash Programmer, Connect: True"));
}

// After the boot program's answer (before it, the port is watched for: test_run_control).
void TestLink::lostAdapterIsReportedOnce() {
    WindowRig rig;
    rig.startRun("S00600004844521B\r\n");
    rig.receive(">");
    rig.serial->pullAdapter(QStringLiteral("Port 4 (/dev/ttyUSB3): the device was removed."));
    rig.tick(Milliseconds(50));
    const auto match = errorCaption.match(rig.caption());
    QVERIFY2(match.hasMatch(), qPrintable(rig.caption()));
    QCOMPARE(match.captured(1), QStringLiteral("Port 4 (/dev/ttyUSB3): the device was removed."));
    QVERIFY(!rig.connected());
    QCOMPARE(rig.caption(Button::Connect), QStringLiteral("Connect"));
    QCOMPARE(rig.state(), FlashState::Idle);
    const QByteArray sent = rig.serial->wire;
    rig.tick(Milliseconds(70'000));
    QCOMPARE(rig.serial->wire, sent);
    QVERIFY(rig.toolkit.messages.empty());
    // Connect works again once the device is back.
    rig.pressConnect();
    QCOMPARE(rig.caption(), QStringLiteral("Norvak Flash Programmer, Connect: True"));
}

void TestLink::failingWriteIsReportedOnceAndEndsTheRun() {
    WindowRig rig;
    rig.startRun("S00600004844521B\r\n");
    rig.receive(">");
    rig.tick(Milliseconds(20));
    rig.serial->outputFailure = QStringLiteral("Port 4 (/dev/ttyUSB3): input/output error.");
    rig.tick(Milliseconds(333)); // the "f"
    const QString caption = rig.caption();
    QVERIFY2(errorCaption.match(caption).hasMatch(), qPrintable(caption));
    QVERIFY(!rig.serial->PortOpen());
    QVERIFY(!rig.connected());
    QCOMPARE(rig.state(), FlashState::Idle);
    rig.tick(Milliseconds(1000));
    QCOMPARE(rig.caption(), caption); // one report, not one per tick
}

// Only a lost port is reported as one: writes that fail with another serial error, from the
// wake-up sender, the f button and the streamer, leave the port open and the link connected.
void TestLink::aSerialErrorThatIsNoLostPortIsNotReportedAsOne() {
    WindowRig rig;
    rig.startRun("S00600004844521B\r\nS9030000FC\r\n");
    rig.tick(Milliseconds(20));
    const QString caption = rig.caption();
    const QByteArray sent = rig.serial->wire;
    rig.serial->otherOutputFailure = QStringLiteral("Port 4 (/dev/ttyUSB3): not a lost port.");
    rig.tick(Milliseconds(20)); // the wake-up sender's writes fail
    rig.press(Button::F);
    QCOMPARE(rig.serial->wire, sent);
    QCOMPARE(rig.caption(), caption);
    QVERIFY(rig.serial->PortOpen());
    QVERIFY(rig.connected());
    QCOMPARE(rig.state(), FlashState::WaitingForBoot);
    rig.serial->otherOutputFailure.reset();
    rig.tick(Milliseconds(20));
    QVERIFY(rig.serial->wire.size() > sent.size()); // the wake-ups go on

    // The streamer's failed write ends its stream, and nothing more: no lost port.
    rig.receive(">");
    rig.tick(Milliseconds(333));
    rig.receive("_");
    rig.serial->otherOutputFailure = QStringLiteral("Port 4 (/dev/ttyUSB3): not a lost port.");
    rig.tick(Milliseconds(1000));
    QVERIFY2(!errorCaption.match(rig.caption()).hasMatch(), qPrintable(rig.caption()));
    QVERIFY(rig.serial->PortOpen());
    QVERIFY(rig.connected());
    QCOMPARE(rig.caption(Button::Connect), QStringLiteral("Disconnect"));
}

QTEST_MAIN(TestLink)
#include "test_link.moc"
