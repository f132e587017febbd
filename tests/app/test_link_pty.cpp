// The serial link with the real serial control over pseudo-terminals: the bytes Send,
// SendPacket and the f and g commands put on the line, and the line settings after Connect.

#include "link/control/mscomm.h"
#include "tests/support/pty_pair.h"
#include "tests/support/virtual_toolkit.h"
#include "tests/support/window_rig.h"

#include <QTest>

using namespace norvak;
using namespace norvak::test;
using namespace std::chrono_literals;

class TestLinkPty : public QObject {
    Q_OBJECT

private slots:
    void connectSetsTheTtyTo57600EightNoneOne();
    void sendAndSendPacketPutExactlyTheirBytesOnTheLine();
    void closedPortPutsNothingOnTheLine();
    void baudRateAndComPortReopenWithoutTouchingCaptions();
    void fCommandSendsOneByteAndNothingElse();
    void missingPortGivesTheErrorFormWithThePath();
};

namespace {

// A window whose port numbers 4 and 5 reach two pseudo-terminals.
class PtyRig : public WindowView {
public:
    PtyRig() { attach(window_); }

    PtyPair line4;
    PtyPair line5;
    VirtualToolkit toolkit;

    void connect() {
        pressConnect();
        QVERIFY2(portOpen(), qPrintable(caption()));
    }

private:
    frmProg window_{toolkit,
                    std::make_unique<MSComm>(
                        toolkit,
                        [this](int port) {
                            if (port == 4) {
                                return QStringList{line4.slavePath()};
                            }
                            if (port == 5) {
                                return QStringList{line5.slavePath()};
                            }
                            return QStringList{QStringLiteral("/nonexistent/ttyNONE%1").arg(port)};
                        }),
                    nullptr};
};

speed_t outputSpeed(const termios& settings) {
    return cfgetospeed(&settings);
}

} // namespace

void TestLinkPty::connectSetsTheTtyTo57600EightNoneOne() {
    PtyRig rig;
    rig.connect();
    QCOMPARE(rig.caption(), QStringLiteral("Norvak Flash Programmer, Connect: True"));
    const termios settings = rig.line4.slaveTermios();
    QCOMPARE(outputSpeed(settings), speed_t{B57600});
    QCOMPARE(cfgetispeed(&settings), speed_t{B57600});
    QCOMPARE(settings.c_cflag & CSIZE, tcflag_t{CS8});
    QCOMPARE(settings.c_cflag & PARENB, tcflag_t{0});
    QCOMPARE(settings.c_cflag & CSTOPB, tcflag_t{0});
}

void TestLinkPty::sendAndSendPacketPutExactlyTheirBytesOnTheLine() {
    PtyRig rig;
    rig.connect();
    rig.send('i', false);
    rig.send('i', true);
    QCOMPARE(rig.line4.read(500ms, 2).toHex(), QByteArray("6996"));
    rig.sendPacket(0x41, std::nullopt);
    QCOMPARE(rig.line4.read(500ms, 3).toHex(), QByteArray("4100be"));
    rig.sendPacket(0x10, std::vector<int>{1, 2, 3});
    QCOMPARE(rig.line4.read(500ms, 6).toHex(), QByteArray("10030102"
                                                          "03ef"));
    std::vector<int> elements(255, 0x5A);
    rig.sendPacket(0x20, elements);
    const QByteArray full = rig.line4.read(2000ms, 258);
    QCOMPARE(full.size(), 258);
    QCOMPARE(full.left(2).toHex(), QByteArray("20ff"));
    QCOMPARE(full.mid(2, 255), QByteArray(255, '\x5a'));
    QCOMPARE(static_cast<unsigned char>(full.back()), 0xDFU);
    elements.push_back(1);
    rig.sendPacket(0x20, elements);
    QCOMPARE(rig.line4.read(300ms, 2).toHex(), QByteArray("20"));
    rig.sendPacket(0x10, std::vector<int>{1, 2, 300});
    QCOMPARE(rig.line4.read(300ms, 5).toHex(), QByteArray("10030102"));
}

void TestLinkPty::closedPortPutsNothingOnTheLine() {
    PtyRig rig;
    rig.send('i', false);
    rig.sendPacket(0x41, std::nullopt);
    rig.connect();
    rig.pressConnect(); // Disconnect
    rig.send('i', false);
    rig.sendPacket(0x41, std::nullopt);
    QVERIFY(rig.line4.read(200ms).isEmpty());
}

void TestLinkPty::baudRateAndComPortReopenWithoutTouchingCaptions() {
    PtyRig rig;
    rig.connect();
    const QString caption = rig.caption();
    rig.setBaudRate(9600);
    QVERIFY(rig.portOpen());
    QCOMPARE(outputSpeed(rig.line4.slaveTermios()), speed_t{B9600});
    rig.setComPort(5);
    QVERIFY(rig.portOpen());
    rig.send('g', false);
    QCOMPARE(rig.line5.read(500ms), QByteArray("g"));
    QVERIFY(rig.line4.read(100ms).isEmpty());
    QCOMPARE(rig.caption(), caption);
    QVERIFY(rig.connected());
    QCOMPARE(rig.caption(Button::Connect), QStringLiteral("Disconnect"));
}

void TestLinkPty::fCommandSendsOneByteAndNothingElse() {
    PtyRig rig;
    rig.press(Button::G); // g while closed: nothing anywhere
    rig.connect();
    const QString caption = rig.caption();
    rig.press(Button::F);
    QCOMPARE(rig.line4.read(300ms, 2), QByteArray("f"));
    QCOMPARE(rig.caption(), caption);
    QVERIFY(rig.logText().isEmpty());
}

void TestLinkPty::missingPortGivesTheErrorFormWithThePath() {
    PtyRig rig;
    rig.setPortText("7");
    rig.pressConnect();
    const QString caption = rig.caption();
    QVERIFY2(caption.startsWith("Norvak Flash Programmer, Connect:   Error "), qPrintable(caption));
    QVERIFY2(caption.contains("/nonexistent/ttyNONE7"), qPrintable(caption));
    QVERIFY(!rig.portOpen());
    QCOMPARE(rig.caption(Button::Connect), QStringLiteral("Connect"));
}

QTEST_MAIN(TestLinkPty)
#include "test_link_pty.moc"
