// The window as the operator first sees it, and how it closes.

#include "mainwindow/logbox/logbox.h"
#include "support/window_rig.h"

#include <QApplication>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
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

namespace {

QWidget* control(frmProg& w, const QString& name) {
    const std::map<QString, QWidget*> controls = {
        {"Frame9", w.Frame9},       {"txtSpeed", w.txtSpeed},       {"txtComPort", w.txtComPort},
        {"btnCon", w.btnCon},       {"txtRefresh", w.txtRefresh},   {"btnFlash", w.btnFlash},
        {"Command5", w.Command5},   {"Command3", w.Command3},       {"Command2", w.Command2},
        {"Command1", w.Command1},   {"lblFilename", w.lblFilename}, {"btnopenFile", w.btnopenFile},
        {"txtbuffer", w.txtbuffer}, {"Label1", w.Label1},           {"Combospeed", w.Combospeed},
        {"Command4", w.Command4}};
    return controls.at(name);
}

QString shownText(QWidget* widget) {
    if (auto* button = qobject_cast<QPushButton*>(widget))
        return button->text();
    if (auto* edit = qobject_cast<QLineEdit*>(widget))
        return edit->text();
    if (auto* label = qobject_cast<QLabel*>(widget))
        return label->text();
    if (auto* group = qobject_cast<QGroupBox*>(widget))
        return group->title();
    if (auto* combo = qobject_cast<QComboBox*>(widget))
        return combo->currentText();
    if (auto* log = qobject_cast<LogBox*>(widget))
        return log->Text();
    return {};
}

} // namespace

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
    rig.w().show();
    QWidget* widget = control(rig.w(), name);
    QCOMPARE(shownText(widget), text);
    const QRect pixels(twips.x() / 15, twips.y() / 15, twips.width() / 15, twips.height() / 15);
    QCOMPARE(widget->geometry(), pixels);
    QCOMPARE(widget->isVisible(), visible);
    QCOMPARE(widget->isEnabled(), enabled);
    QCOMPARE(widget->toolTip(), toolTip);
    const bool inFrame =
        name == "txtSpeed" || name == "txtComPort" || name == "btnCon" || name == "txtRefresh";
    QCOMPARE(widget->parentWidget(),
             inFrame ? static_cast<QWidget*>(rig.w().Frame9) : static_cast<QWidget*>(&rig.w()));
}

void TestWindow::windowIsFixedWithItsTitleAndIcon() {
    WindowRig rig;
    frmProg& w = rig.w();
    QCOMPARE(w.windowTitle(), QStringLiteral("Norvak Flash Programmer"));
    QCOMPARE(w.size(), QSize(602, 527));
    QCOMPARE(w.minimumSize(), w.maximumSize());
    QVERIFY(!w.windowIcon().isNull());
    QCOMPARE(w.windowIcon().pixmap(16, 16).size(), QSize(16, 16));
    QVERIFY(w.Combospeed->isEditable());
    QVERIFY(!w.txtbuffer->Text().size());
}

void TestWindow::speedListHoldsFiveItemsWithTheNormalOneSelected() {
    WindowRig rig;
    QComboBox* speed = rig.w().Combospeed;
    QStringList items;
    for (int i = 0; i < speed->count(); ++i)
        items << speed->itemText(i);
    QCOMPARE(items, QStringList({"20  - fastest", "40", "60  - normal", "80", "100 - slowest"}));
    QCOMPARE(rig.w().speedListIndex(), 2);
    speed->setCurrentIndex(4);
    emit speed->activated(4);
    QCOMPARE(rig.w().speedListIndex(), 4);
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
    rig.w().show();
    rig.w().activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&rig.w()));
    QComboBox* speed = rig.w().Combospeed;
    speed->lineEdit()->setFocus();
    speed->lineEdit()->selectAll();
    QTest::keyClicks(speed->lineEdit(), typed);
    // Leaving the field keeps its text.
    rig.w().txtComPort->setFocus();
    QCOMPARE(speed->currentText(), shown);
    QCOMPARE(rig.w().speedListIndex(), item);
    QCOMPARE(speed->count(), 5);
}

void TestWindow::aPastedItemTextCountsAsThatItem() {
    WindowRig rig;
    QComboBox* speed = rig.w().Combospeed;
    speed->lineEdit()->setText(QStringLiteral("80"));
    QCOMPARE(rig.w().speedListIndex(), 3);
    speed->lineEdit()->setText(QStringLiteral("20  - fastest"));
    QCOMPARE(rig.w().speedListIndex(), 0);
    speed->setCurrentIndex(4);
    QCOMPARE(rig.w().speedListIndex(), 4);
}

void TestWindow::membersAndTimersAfterLoad() {
    WindowRig rig;
    const WindowMembers& m = rig.w().members;
    QCOMPARE(m.flashState, FlashState::Idle);
    QCOMPARE(m.restartCountdown, 60);
    QVERIFY(m.fileName.isEmpty());
    QVERIFY(!m.Connected);
    QCOMPARE(m.portNumber, 0);
    QCOMPARE(m.baudRate, 0);
    QVERIFY(m.mainWindowHandle != 0);
    QVERIFY(!rig.serial->PortOpen());
    const std::pair<Timer*, int> timers[] = {{rig.w().TimerdotNotReceived.get(), 3000},
                                             {rig.w().Timersendf.get(), 333},
                                             {rig.w().Timersendi.get(), 5},
                                             {rig.w().TimerSendFile.get(), 1000},
                                             {rig.w().Timerresettobootprg.get(), 1000}};
    for (const auto& [timer, interval] : timers) {
        QVERIFY(!timer->isEnabled());
        QCOMPARE(timer->interval().count(), interval);
    }
}

void TestWindow::focusStartsInSpeedBoxAndFollowsTheTabOrder() {
    WindowRig rig;
    frmProg& w = rig.w();
    w.show();
    w.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(w.txtSpeed));
    // btnFlash is skipped while disabled.
    const QList<QWidget*> expected = {w.txtComPort, w.btnCon,     w.txtbuffer, w.btnopenFile,
                                      w.Command4,   w.Combospeed, w.Command5,  w.txtSpeed};
    for (QWidget* next : expected) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QVERIFY(QApplication::focusWidget() == next ||
                next->isAncestorOf(QApplication::focusWidget()));
    }
}

void TestWindow::closingWithoutConnectingAsksNothing() {
    WindowRig rig;
    QSignalSpy closed(&rig.w(), &frmProg::closed);
    rig.w().show();
    QVERIFY(rig.w().close());
    QCOMPARE(closed.count(), 1);
    QVERIFY(rig.toolkit.messages.empty());
    QVERIFY(rig.toolkit.dialogs.empty());
    QCOMPARE(rig.serial->memberWrites, QStringList({"PortOpen=false"}));
}

void TestWindow::closingClosesThePortAndStopsTheTimers() {
    WindowRig rig;
    rig.startRun("S00600004844521B\r\n");
    QVERIFY(rig.serial->PortOpen());
    QVERIFY(rig.w().Timersendi->isEnabled());
    rig.w().show();
    QVERIFY(rig.w().close());
    QVERIFY(!rig.serial->PortOpen());
    QVERIFY(rig.w().isClosing());
    const QByteArray sent = rig.serial->wire;
    rig.toolkit.advance(Milliseconds(120'000));
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
    const auto handle = windowRig.w().members.mainWindowHandle;
    QCOMPARE(calls, QStringList({QStringLiteral("register %1").arg(handle),
                                 QStringLiteral("hook %1 -4").arg(handle)}));
    windowRig.pressConnect();
    calls.clear();
    QSignalSpy closed(&windowRig.w(), &frmProg::closed);
    QVERIFY(windowRig.w().close());
    QCOMPARE(calls, QStringList({QStringLiteral("unregister 119 with port closed"),
                                 QStringLiteral("hook %1 -4").arg(handle)}));
    QCOMPARE(closed.count(), 1);
}

QTEST_MAIN(TestWindow)
#include "test_window.moc"
