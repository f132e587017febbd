// The window as the operator first sees it, and how it closes.

#include "tests/support/window_rig.h"

#include <QTest>

using namespace norvak;
using namespace norvak::test;

class TestWindow : public QObject {
    Q_OBJECT

private slots:
    void startStateOfEveryControl_data();
    void startStateOfEveryControl();
    void windowIsFixedWithItsTitleAndIcon();
    void speedListHoldsFiveItemsWithTheNormalOneSelected();
    void theSpeedFieldCountsAsTheItemItShows_data();
    void theSpeedFieldCountsAsTheItemItShows();
    void aPastedItemTextCountsAsThatItem();
    void membersAndTimersAfterLoad();
    void focusStartsInSpeedBoxAndFollowsTheTabOrder();
    void closingWithoutConnectingAsksNothing();
    void closingClosesThePortAndStopsTheTimers();
    void listenerStartsAtLoadAndStopsAfterThePortCloses();
};

void TestWindow::startStateOfEveryControl_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QRect>("twips");
    QTest::addColumn<bool>("visible");
    QTest::addColumn<bool>("enabled");
    QTest::addColumn<QString>("toolTip");
    const auto row = [](const char* name, const char* text, QRect twips, bool visible = true,
                        bool enabled = true, const char* tip = "") {
        QTest::newRow(name) << QString::fromUtf8(name) << QString::fromUtf8(text) << twips
                            << visible << enabled << QString::fromUtf8(tip);
    };
    row("Frame9", "Com settings", {360, 120, 2775, 675});
    row("txtSpeed", "57600", {240, 240, 735, 285}, true, true, "Port speed: 38400, 57600,76800");
    row("txtComPort", "4", {1200, 240, 315, 285}, true, true, "Com Port number");
    row("btnCon", "Connect", {1560, 240, 1065, 285});
    row("txtRefresh", "333", {240, 600, 375, 285}, false);
    row("btnFlash", "START PROGRAMMING", {3240, 240, 3255, 495}, true, false);
    row("Command5", "Help", {6720, 240, 1935, 495});
    row("Command3", "sFile", {7320, 240, 615, 495}, false);
    row("Command2", "g", {8040, 360, 375, 375}, false);
    row("Command1", "f", {8520, 360, 375, 315}, false);
    row("lblFilename", "", {360, 840, 7455, 285});
    row("btnopenFile", "browse", {8040, 840, 855, 285});
    row("txtbuffer", "", {240, 1200, 8655, 6135});
    row("Label1", "Speed:", {600, 7440, 735, 255});
    row("Combospeed", "60  - normal", {1320, 7440, 1815, 315});
    row("Command4", "Clear screen", {6960, 7440, 1335, 375});
}

void TestWindow::startStateOfEveryControl() {
    QFETCH(QString, name);
    QFETCH(QString, text);
    QFETCH(QRect, twips);
    QFETCH(bool, visible);
    QFETCH(bool, enabled);
    QFETCH(QString, toolTip);
    WindowRig rig;
    rig.show();
    const ControlLook look = rig.look(name);
    QCOMPARE(look.text, text);
    const QRect pixels(twips.x() / 15, twips.y() / 15, twips.width() / 15, twips.height() / 15);
    QCOMPARE(look.geometry, pixels);
    QCOMPARE(look.visible, visible);
    QCOMPARE(look.enabled, enabled);
    QCOMPARE(look.toolTip, toolTip);
    const bool inFrame =
        name == "txtSpeed" || name == "txtComPort" || name == "btnCon" || name == "txtRefresh";
    QCOMPARE(look.container, inFrame ? QStringLiteral("Frame9") : QString());
}

void TestWindow::windowIsFixedWithItsTitleAndIcon() {
    WindowRig rig;
    const QWidget& w = rig.widget();
    QCOMPARE(rig.caption(), QStringLiteral("Norvak Flash Programmer"));
    QCOMPARE(w.size(), QSize(602, 527));
    QCOMPARE(w.minimumSize(), w.maximumSize());
    QVERIFY(!w.windowIcon().isNull());
    QCOMPARE(w.windowIcon().pixmap(16, 16).size(), QSize(16, 16));
    QVERIFY(rig.speedEditable());
    QVERIFY(!rig.logText().size());
}

void TestWindow::speedListHoldsFiveItemsWithTheNormalOneSelected() {
    WindowRig rig;
    QCOMPARE(rig.speedItems(),
             QStringList({"20  - fastest", "40", "60  - normal", "80", "100 - slowest"}));
    QCOMPARE(rig.speedItem(), 2);
    rig.chooseSpeed(4);
    QCOMPARE(rig.speedItem(), 4);
}

void TestWindow::theSpeedFieldCountsAsTheItemItShows_data() {
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<int>("item");
    // The field completes what is typed from the list: "1" shows "100 - slowest".
    QTest::newRow("1, completed") << "1"
                                  << "100 - slowest" << 4;
    QTest::newRow("2, completed") << "2"
                                  << "20  - fastest" << 0;
    QTest::newRow("40") << "40"
                        << "40" << 1;
    QTest::newRow("60, completed") << "60"
                                   << "60  - normal" << 2;
    QTest::newRow("one blank less") << "60 - normal"
                                    << "60 - normal" << 2;
    QTest::newRow("no item") << "fast"
                             << "fast" << -1;
    QTest::newRow("a number of no item") << "50"
                                         << "50" << -1;
    QTest::newRow("an item's number and more") << "100 ms"
                                               << "100 ms" << -1;
}

void TestWindow::theSpeedFieldCountsAsTheItemItShows() {
    QFETCH(QString, typed);
    QFETCH(QString, shown);
    QFETCH(int, item);
    WindowRig rig;
    rig.show();
    QVERIFY(rig.activate());
    rig.typeSpeed(typed);
    // Leaving the field keeps its text.
    rig.leaveSpeedField();
    QCOMPARE(rig.speedText(), shown);
    QCOMPARE(rig.speedItem(), item);
    QCOMPARE(rig.speedItems().size(), qsizetype{5});
}

void TestWindow::aPastedItemTextCountsAsThatItem() {
    WindowRig rig;
    rig.putSpeedText(QStringLiteral("80"));
    QCOMPARE(rig.speedItem(), 3);
    rig.putSpeedText(QStringLiteral("20  - fastest"));
    QCOMPARE(rig.speedItem(), 0);
    rig.chooseSpeed(4);
    QCOMPARE(rig.speedItem(), 4);
}

void TestWindow::membersAndTimersAfterLoad() {
    WindowRig rig;
    QCOMPARE(rig.state(), FlashState::Idle);
    QCOMPARE(rig.restartCountdown(), 60);
    QVERIFY(rig.fileName().isEmpty());
    QVERIFY(!rig.connected());
    QCOMPARE(rig.portNumber(), 0);
    QCOMPARE(rig.baudRate(), 0);
    QVERIFY(rig.windowHandle() != 0);
    QVERIFY(!rig.serial->PortOpen());
    const std::pair<TimerRole, int> timers[] = {{TimerRole::DotWatchdog, 3000},
                                                {TimerRole::ReadyRequest, 333},
                                                {TimerRole::WakeUpSender, 5},
                                                {TimerRole::FileSender, 1000},
                                                {TimerRole::Countdown, 1000}};
    for (const auto& [timer, interval] : timers) {
        QVERIFY(!rig.timerOn(timer));
        QCOMPARE(rig.timerInterval(timer).count(), interval);
    }
}

void TestWindow::focusStartsInSpeedBoxAndFollowsTheTabOrder() {
    WindowRig rig;
    QVERIFY(rig.activate());
    QCOMPARE(rig.focusedControl(), QStringLiteral("txtSpeed"));
    // btnFlash is skipped while disabled.
    const QStringList expected = {"txtComPort", "btnCon",     "txtbuffer", "btnopenFile",
                                  "Command4",   "Combospeed", "Command5",  "txtSpeed"};
    for (const QString& next : expected) {
        rig.pressTab();
        QCOMPARE(rig.focusedControl(), next);
    }
}

void TestWindow::closingWithoutConnectingAsksNothing() {
    WindowRig rig;
    rig.show();
    QVERIFY(rig.close());
    QCOMPARE(rig.closedCount(), 1);
    QVERIFY(rig.toolkit.messages.empty());
    QVERIFY(rig.toolkit.dialogs.empty());
    QCOMPARE(rig.serial->memberWrites, QStringList({"PortOpen=false"}));
}

void TestWindow::closingClosesThePortAndStopsTheTimers() {
    WindowRig rig;
    rig.startRun("S00600004844521B\r\n");
    QVERIFY(rig.serial->PortOpen());
    QVERIFY(rig.timerOn(TimerRole::WakeUpSender));
    rig.show();
    QVERIFY(rig.close());
    QVERIFY(!rig.serial->PortOpen());
    QVERIFY(rig.isClosing());
    const QByteArray sent = rig.serial->wire;
    rig.tick(Milliseconds(120'000));
    QCOMPARE(rig.serial->wire, sent);
    QVERIFY(rig.toolkit.messages.empty());
}

void TestWindow::listenerStartsAtLoadAndStopsAfterThePortCloses() {
    QStringList calls;
    WindowRig* rig = nullptr;
    devicenotify::UsbPlatformCalls platform;
    platform.clsidFromString = [](const char16_t*, devicenotify::Guid&) {
        return 0;
    };
    platform.registerDeviceNotification = [&](std::uintptr_t window,
                                              const devicenotify::FilterRecord&, std::uint32_t) {
        calls << QStringLiteral("register %1").arg(window);
        return std::uintptr_t{0x77};
    };
    platform.setWindowProc = [&](std::uintptr_t window, std::int32_t index, std::intptr_t) {
        calls << QStringLiteral("hook %1 %2").arg(window).arg(index);
        return std::intptr_t{0x1234};
    };
    platform.unregisterDeviceNotification = [&](std::uintptr_t handle) {
        calls << QStringLiteral("unregister %1 with port %2")
                     .arg(handle)
                     .arg(rig->serial->PortOpen() ? "open" : "closed");
        return false; // a failed stop must not hold up the close
    };
    platform.usbWindowProc = 0x5678;
    WindowRig windowRig(&platform);
    rig = &windowRig;
    const auto handle = windowRig.windowHandle();
    QCOMPARE(calls, QStringList({QStringLiteral("register %1").arg(handle),
                                 QStringLiteral("hook %1 -4").arg(handle)}));
    windowRig.pressConnect();
    calls.clear();
    QVERIFY(windowRig.close());
    QCOMPARE(calls, QStringList({QStringLiteral("unregister 119 with port closed"),
                                 QStringLiteral("hook %1 -4").arg(handle)}));
    QCOMPARE(windowRig.closedCount(), 1);
}

QTEST_MAIN(TestWindow)
#include "test_window.moc"
