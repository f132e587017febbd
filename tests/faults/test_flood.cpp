// A device that floods the line with a megabyte of bytes no protocol character is made of
// (NUL, CR, LF, 0x80..0xFF), while idle and while the file is sent: every byte reaches the
// log box in order, and a run in progress still ends as programmed. The device runs unpaced:
// a megabyte at 57600 baud would take three minutes.

#include "tests/support/device_rig.h"

#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <functional>
#include <random>
#include <string>

using namespace norvak;
using test::Button;
using namespace norvak::faults;
using namespace std::chrono_literals;

class TestFaultsFlood : public QObject {
    Q_OBJECT

private slots:
    void floodWhileIdleIsShownInFull();
    void floodWhileTheFileIsSentLeavesTheRunIntact();
    void textAtAMegabyteASecondDuringARun();
};

namespace {

constexpr std::size_t floodSize = 1024 * 1024;

std::string floodBytes(std::uint32_t seed) {
    std::mt19937 random(seed);
    // 0: NUL, 1: CR, 2: LF, 3..130: 0x80..0xFF.
    std::uniform_int_distribution<int> pick(0, 130);
    std::string bytes(floodSize, '\0');
    for (char& byte : bytes) {
        const int choice = pick(random);
        byte = static_cast<char>(choice == 0   ? 0
                                 : choice == 1 ? '\r'
                                 : choice == 2 ? '\n'
                                               : 0x80 + (choice - 3));
    }
    return bytes;
}

SimDeviceConfig unpaced() {
    SimDeviceConfig config;
    config.paced = false;
    return config;
}

// Looks at the recording in place. The polls below must not copy it: a copy of megabytes on
// every poll leaves the window no time to keep up under the sanitizers.
bool recordingHolds(DeviceRig& rig, const std::function<bool(const SimRecording&)>& predicate) {
    return rig.device().waitFor(predicate, std::chrono::milliseconds{0});
}

} // namespace

void TestFaultsFlood::floodWhileIdleIsShownInFull() {
    DeviceRig rig(unpaced());
    rig.pressConnect();
    QVERIFY(rig.portOpen());
    const std::string flood = floodBytes(17);
    rig.device().sendRaw(flood);
    QTRY_COMPARE_WITH_TIMEOUT(rig.logLength(), qsizetype{floodSize}, 120'000);
    QCOMPARE(rig.device().recording().sent, flood);
    QVERIFY(rig.logText() == QString::fromLatin1(flood));
    QCOMPARE(rig.state(), FlashState::Idle);
    QCOMPARE(rig.caption(), QStringLiteral("Norvak Flash Programmer, Connect: True"));
    QVERIFY(rig.messages.empty());
}

// The flood comes in chunks, each once the window has shown the one before: an unpaced
// megabyte in one burst would hold the receive handler far longer than any real line could
// (it drains until the buffer is found empty) and the dot watchdog would rightly give up.
void TestFaultsFlood::floodWhileTheFileIsSentLeavesTheRunIntact() {
    SimDeviceConfig config = unpaced();
    config.autoPowerCycleAfter = 300ms;
    DeviceRig rig(config);
    rig.pressConnect();
    const QString firmware = firmwarePath("sample-crlf.srec");
    rig.chooseFile(firmware);
    rig.pressStart();

    constexpr std::size_t chunk = 32 * 1024;
    const std::string flood = floodBytes(29);
    std::size_t queued = 0;
    qsizetype logAtStart = -1;
    bool floodStartedWhileSending = false;
    QTimer feeder;
    feeder.setInterval(2);
    QObject::connect(&feeder, &QTimer::timeout, [&] {
        if (logAtStart < 0) {
            if (rig.device().recording().acceptedLines.size() < 5) {
                return;
            }
            floodStartedWhileSending = rig.state() == FlashState::Sending;
            logAtStart = rig.logLength();
        }
        if (rig.logLength() < logAtStart + static_cast<qsizetype>(queued)) {
            return;
        }
        const std::size_t size = std::min(chunk, flood.size() - queued);
        rig.device().sendRaw(std::string_view(flood).substr(queued, size));
        queued += size;
        if (queued == flood.size()) {
            feeder.stop();
        }
    });
    feeder.start();

    // The run and the flood both come to their end, in either order.
    QTRY_VERIFY_WITH_TIMEOUT(
        queued == flood.size() && !rig.streaming() &&
            recordingHolds(rig,
                           [](const SimRecording& r) { return r.programmedFiles.size() == 1; }),
        120'000);
    std::size_t sentSize = 0;
    QTRY_VERIFY(recordingHolds(rig,
                               [&sentSize](const SimRecording& r) {
                                   sentSize = r.sent.size();
                                   return true;
                               }) &&
                rig.logLength() == static_cast<qsizetype>(sentSize));
    QVERIFY(floodStartedWhileSending);

    // Everything the device sent stands in the log box in order: the flood whole, with the
    // protocol's answers somewhere within it.
    const SimRecording recording = rig.device().recording();
    QVERIFY(rig.logText() == QString::fromLatin1(recording.sent));
    QVERIFY(rig.logText().endsWith(QString::fromLatin1(SimDevice::programmedMessage)) ||
            rig.logText().endsWith(QString::fromLatin1(flood.substr(flood.size() - 64))));
    std::string floodAsShown;
    std::copy_if(
        recording.sent.begin(), recording.sent.end(), std::back_inserter(floodAsShown), [](char c) {
            return static_cast<unsigned char>(c) >= 0x80 || c == '\0' || c == '\r' || c == '\n';
        });
    // The programmed message ends in CR LF, the only bytes of the protocol that look like
    // flood: take them out where the two part.
    const auto parting =
        std::mismatch(flood.begin(), flood.end(), floodAsShown.begin(), floodAsShown.end());
    const auto at = static_cast<std::size_t>(parting.first - flood.begin());
    QCOMPARE(floodAsShown.size(), flood.size() + 2);
    floodAsShown.erase(at, 2);
    QVERIFY(floodAsShown == flood);
    QVERIFY(recording.dots.size() >= 5);

    // The file went out whole and was programmed once; the watchdog stayed quiet.
    const QByteArray received = QByteArray::fromStdString(recording.received);
    QCOMPARE(received.mid(received.indexOf('f') + 1), expectedStream(readFile(firmware)));
    QCOMPARE(recording.programmedFiles.size(), std::size_t{1});
    QCOMPARE(recording.programmedFiles[0].rejectedLines, 0);
    QCOMPARE(rig.state(), FlashState::Idle);
    QCOMPARE(rig.caption(Button::Flash), QStringLiteral("START PROGRAMMING"));
    QVERIFY(rig.messages.empty());
}

// A chatty device: text at a megabyte a second for ten seconds, from the moment the file
// starts, with the device's dots and its "P" among it. The window keeps up: nothing is lost
// or reordered, and the run ends as programmed.
void TestFaultsFlood::textAtAMegabyteASecondDuringARun() {
    SimDeviceConfig config = unpaced();
    config.autoPowerCycleAfter = 300ms;
    DeviceRig rig(config, 1); // 40 ms a line: the file takes longer than the flood
    rig.pressConnect();
    const QString firmware = firmwarePath("sample-crlf.srec");
    rig.chooseFile(firmware);
    rig.pressStart();
    constexpr double rate = 1'000'000;
    constexpr std::size_t floodSize = 10'000'000;
    std::size_t floodEnd = 0; // where the flood's last byte goes in what the device sends
    rig.once([&rig] { return rig.state() == FlashState::Sending; },
             [&rig] { rig.device().textFlood(rate, floodSize); });
    QTRY_VERIFY_WITH_TIMEOUT(
        recordingHolds(rig, [](const SimRecording& r) { return r.programmedFiles.size() == 1; }) &&
            !rig.streaming(),
        120'000);
    QTRY_VERIFY_WITH_TIMEOUT(recordingHolds(rig,
                                            [&floodEnd](const SimRecording& r) {
                                                floodEnd = r.sent.size();
                                                return floodEnd >= floodSize;
                                            }) &&
                                 rig.logLength() == static_cast<qsizetype>(floodEnd),
                             60'000);

    const SimRecording recording = rig.device().recording();
    QCOMPARE(recording.sent.size(), floodEnd); // the flood had ended: the log box has it all
    QVERIFY(rig.logText() == QString::fromLatin1(recording.sent));
    // The run was under way through most of the flood: the "P" came after nine tenths of it.
    const auto programmedAt = recording.sent.find(SimDevice::programmedMessage);
    QVERIFY(programmedAt != std::string::npos && programmedAt > floodSize * 9 / 10);
    QVERIFY2(rig.captions.contains(QStringLiteral("Norvak Flash Programmer, PROGRAMMED")),
             qPrintable(rig.captions.join(u'|')));
    const QByteArray received = QByteArray::fromStdString(recording.received);
    QCOMPARE(received.mid(received.indexOf('f') + 1), expectedStream(readFile(firmware)));
    QCOMPARE(recording.programmedFiles[0].rejectedLines, 0);
    QCOMPARE(rig.state(), FlashState::Idle);
    QVERIFY(rig.messages.empty()); // no "Error: DOT Timeout"
}

QTEST_MAIN(TestFaultsFlood)
#include "test_flood.moc"
