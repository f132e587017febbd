// The serial link with the real serial control over pseudo-terminals: the bytes Send,
// SendPacket and the f and g commands put on the line, and the line settings after Connect.

#include "link/control/mscomm.h"
#include "support/pty_pair.h"
#include "support/virtual_toolkit.h"

#include "mainwindow/frmprog.h"
#include "mainwindow/logbox/logbox.h"

#include <QLineEdit>
#include <QPushButton>
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
struct PtyRig {
    PtyPair line4;
    PtyPair line5;
    VirtualToolkit toolkit;
    frmProg window{toolkit,
                   std::make_unique<MSComm>(
                       toolkit,
                       [this](int port) {
                           if (port == 4)
                               return QStringList{line4.slavePath()};
                           if (port == 5)
                               return QStringList{line5.slavePath()};
                           return QStringList{QStringLiteral("/nonexistent/ttyNONE%1").arg(port)};
                       }),
                   nullptr};

    void connect() {
        window.btnCon->click();
        QVERIFY2(window.PortOpen(), qPrintable(window.windowTitle()));
    }
};

speed_t outputSpeed(const termios& settings) {
    return cfgetospeed(&settings);
}

} // namespace

void TestLinkPty::connectSetsTheTtyTo57600EightNoneOne() {
    PtyRig rig;
    rig.connect();
    QCOMPARE(rig.window.windowTitle(), QStringLiteral("Norvak Flash Programmer, Connect: True"));
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
    rig.window.Send('i', false);
    rig.window.Send('i', true);
    QCOMPARE(rig.line4.read(500ms, 2).toHex(), QByteArray("6996"));
    rig.window.SendPacket(0x41, std::nullopt);
    QCOMPARE(rig.line4.read(500ms, 3).toHex(), QByteArray("4100be"));
    rig.window.SendPacket(0x10, std::vector<int>{1, 2, 3});
    QCOMPARE(rig.line4.read(500ms, 6).toHex(), QByteArray("10030102"
                                                          "03ef"));
    std::vector<int> elements(255, 0x5A);
    rig.window.SendPacket(0x20, elements);
    const QByteArray full = rig.line4.read(2000ms, 258);
    QCOMPARE(full.size(), 258);
    QCOMPARE(full.left(2).toHex(), QByteArray("20ff"));
    QCOMPARE(full.mid(2, 255), QByteArray(255, '\x5a'));
    QCOMPARE(static_cast<unsigned char>(full.back()), 0xDFU);
    elements.push_back(1);
    rig.window.SendPacket(0x20, elements);
    QCOMPARE(rig.line4.read(300ms, 2).toHex(), QByteArray("20"));
    rig.window.SendPacket(0x10, std::vector<int>{1, 2, 300});
    QCOMPARE(rig.line4.read(300ms, 5).toHex(), QByteArray("10030102"));
}

void TestLinkPty::closedPortPutsNothingOnTheLine() {
    PtyRig rig;
    rig.window.Send('i', false);
    rig.window.SendPacket(0x41, std::nullopt);
    rig.connect();
    rig.window.btnCon->click(); // Disconnect
    rig.window.Send('i', false);
    rig.window.SendPacket(0x41, std::nullopt);
    QVERIFY(rig.line4.read(200ms).isEmpty());
}

void TestLinkPty::baudRateAndComPortReopenWithoutTouchingCaptions() {
    PtyRig rig;
    rig.connect();
    const QString caption = rig.window.windowTitle();
    rig.window.BaudRate(9600);
    QVERIFY(rig.window.PortOpen());
    QCOMPARE(outputSpeed(rig.line4.slaveTermios()), speed_t{B9600});
    rig.window.comPort(5);
    QVERIFY(rig.window.PortOpen());
    rig.window.Send('g', false);
    QCOMPARE(rig.line5.read(500ms), QByteArray("g"));
    QVERIFY(rig.line4.read(100ms).isEmpty());
    QCOMPARE(rig.window.windowTitle(), caption);
    QVERIFY(rig.window.Connected());
    QCOMPARE(rig.window.btnCon->text(), QStringLiteral("Disconnect"));
}

void TestLinkPty::fCommandSendsOneByteAndNothingElse() {
    PtyRig rig;
    rig.window.Command2_Click(); // g while closed: nothing anywhere
    rig.connect();
    const QString caption = rig.window.windowTitle();
    rig.window.Command1_Click();
    QCOMPARE(rig.line4.read(300ms, 2), QByteArray("f"));
    QCOMPARE(rig.window.windowTitle(), caption);
    QVERIFY(rig.window.txtbuffer->Text().isEmpty());
}

void TestLinkPty::missingPortGivesTheErrorFormWithThePath() {
    PtyRig rig;
    rig.window.txtComPort->setText("7");
    rig.window.btnCon->click();
    const QString caption = rig.window.windowTitle();
    QVERIFY2(caption.startsWith("Norvak Flash Programmer, Connect:   Error "), qPrintable(caption));
    QVERIFY2(caption.contains("/nonexistent/ttyNONE7"), qPrintable(caption));
    QVERIFY(!rig.window.PortOpen());
    QCOMPARE(rig.window.btnCon->text(), QStringLiteral("Connect"));
}

QTEST_MAIN(TestLinkPty)
#include "test_link_pty.moc"
