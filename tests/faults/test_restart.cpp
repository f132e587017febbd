// CANCEL and a new START in quick succession, on the real event loop against the simulated
// device: the runs never overlap on the line, and nothing of the cancelled run ends the new.

#include "tests/support/device_rig.h"

#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <algorithm>

using namespace norvak;
using test::Button;
using namespace norvak::faults;
using namespace std::chrono_literals;

class TestFaultsRestart : public QObject {
    Q_OBJECT

private slots:
    void startRightAfterCancelSendsOnlyWakeUpsAfterWholeLines();
    void startASecondAfterCancelEndsProgrammed();
};

namespace {

SimDeviceConfig poweredOnAfterWakeUps() {
    SimDeviceConfig config;
    config.autoPowerCycleAfter = 300ms;
    return config;
}

// Clicks CANCEL as soon as the device has received `lines` lines, early in the pause after
// the last of them, and START `startAfter` later.
void cancelAndStartAgain(DeviceRig& rig, std::size_t lines, std::chrono::milliseconds startAfter,
                         bool& restarted) {
    rig.once(
        [&rig, lines] {
            const std::string received = rig.device().recording().received;
            return static_cast<std::size_t>(std::count(received.begin(), received.end(), '\n')) >=
                   lines;
        },
        [&rig, startAfter, &restarted] {
            rig.press(Button::Flash); // CANCEL
            QTimer::singleShot(startAfter, &rig.widget(), [&rig, &restarted] {
                rig.press(Button::Flash); // START
                restarted = true;
            });
        });
}

} // namespace

void TestFaultsRestart::startRightAfterCancelSendsOnlyWakeUpsAfterWholeLines() {
    // 100 ms pauses: START comes before the streamer's next look at the state.
    DeviceRig rig(poweredOnAfterWakeUps(), 4);
    rig.pressConnect();
    const QString firmware = firmwarePath("sample-crlf.srec");
    rig.chooseFile(firmware);
    rig.pressStart();
    bool restarted = false;
    cancelAndStartAgain(rig, 5, 40ms, restarted);
    QTRY_VERIFY_WITH_TIMEOUT(restarted, 20'000);
    QCOMPARE(rig.state(), FlashState::WaitingForBoot);
    // Long enough for the old streamer to have sent several more lines if it went on.
    QTRY_VERIFY_WITH_TIMEOUT(
        [&rig] {
            const std::string received = rig.device().recording().received;
            const auto afterFile = received.rfind('\n');
            // The bytes after the LF, as the check below counts them.
            return afterFile != std::string::npos && received.size() - afterFile - 1 > 100;
        }(),
        10'000);
    QTRY_VERIFY(!rig.streaming());

    // Wake-ups, "f", whole lines of the file, then wake-ups only (up to a new run's "f").
    const QByteArray received = QByteArray::fromStdString(rig.device().recording().received);
    const qsizetype firstF = received.indexOf('f');
    QVERIFY(firstF > 0);
    qsizetype end = received.indexOf('f', firstF + 1);
    if (end < 0) {
        end = received.size();
    }
    const QByteArray run = received.mid(firstF + 1, end - firstF - 1);
    const qsizetype lastLf = run.lastIndexOf('\n');
    QVERIFY(lastLf > 0);
    QVERIFY2(expectedStream(readFile(firmware)).startsWith(run.left(lastLf + 1)),
             "the old file's lines arrived broken or mixed with wake-ups");
    const QByteArray tail = run.mid(lastLf + 1);
    QVERIFY(tail.size() > 100);
    QCOMPARE(tail, QByteArray(tail.size(), 'i'));
}

void TestFaultsRestart::startASecondAfterCancelEndsProgrammed() {
    DeviceRig rig(poweredOnAfterWakeUps(), 1);
    rig.pressConnect();
    rig.chooseFile(firmwarePath("small-crlf.srec"));
    rig.pressStart();
    bool restarted = false;
    cancelAndStartAgain(rig, 5, 1000ms, restarted);
    QTRY_VERIFY_WITH_TIMEOUT(restarted, 20'000);
    // The operator switches the device off and on a moment later, so that its boot program
    // answers after the cancelled run's watchdog would have expired.
    QTest::qWait(1500);
    rig.device().powerCycle();
    QTRY_VERIFY_WITH_TIMEOUT(
        rig.captions.contains(QStringLiteral("Norvak Flash Programmer, PROGRAMMED")), 30'000);
    QCOMPARE(rig.state(), FlashState::Idle);
    QCOMPARE(rig.device().recording().programmedFiles.size(), std::size_t{1});
    // The cancelled run's watchdog was switched off at START: no failure came in between.
    QVERIFY(rig.messages.empty());
    QVERIFY(!rig.captions.contains(QStringLiteral("Norvak Flash Programmer, Programming FAILLED")));
}

QTEST_MAIN(TestFaultsRestart)
#include "test_restart.moc"
