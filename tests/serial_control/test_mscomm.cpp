#include "link/control/mscomm.h"
#include "mainwindow/qt_toolkit.h"
#include "tests/support/pty_pair.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <memory>
#include <thread>

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

using namespace std::chrono_literals;
using norvak::MSComm;
using norvak::PortLostError;
using norvak::SerialError;
using norvak::test::PtyPair;

namespace {

constexpr int kEventTimeoutMs = 10000; // generous: machines are shared

// Maps every port number to the given paths.
norvak::PortCandidates mapTo(const QStringList& paths) {
    return [paths](int) {
        return paths;
    };
}

// A control on port 1 mapped to the pty, opened with the programmer's settings.
std::unique_ptr<MSComm> openOn(norvak::Toolkit& toolkit, const PtyPair& pty) {
    auto comm = std::make_unique<MSComm>(toolkit, mapTo({pty.slavePath()}));
    comm->setCommPort(1);
    comm->setSettings(QStringLiteral("57600,n,8,1"));
    comm->setPortOpen(true);
    return comm;
}

// The description of the SerialError `action` throws; empty (and a failed check) if none.
// `portLost`, when given, tells whether it was the lost port's own kind.
template <typename Action> QString failureOf(Action&& action, bool* portLost = nullptr) {
    try {
        action();
    } catch (const SerialError& error) {
        if (portLost != nullptr) {
            *portLost = dynamic_cast<const PortLostError*>(&error) != nullptr;
        }
        return error.description();
    }
    return {};
}

} // namespace

class TestMSComm : public QObject {
    Q_OBJECT

private slots:
    void outputSendsEveryByteAtOnce();
    void outputLargerThanThePendingLimitArrivesWhole();
    void outputFailsWhileClosedAndSendsNothing();
    void outputFailsWhenTheLineStalls();
    void openAppliesTheLineSettings();
    void openAndCloseAreIdempotent();
    void commPortIsFixedWhileOpenAndPositive();
    void onCommAnnouncesReceivedBytes();
    void bytesArrivingWhileTheHandlerYieldsAreAnnouncedInside();
    void nestingStopsAtTheBoundAndLosesNothing();
    void oneByteInputsAreSeparateCharacters();
    void handlerMayAnswerAndClose();
    void receivingGoesOnAfterInputFetchedFromTheSystem();
    void noReceiveEventsWithThresholdZero();
    void inputHonoursInputLenAndInBufferCountSeesTheSystem();
    void mappingOpensTheFirstExistingCandidate();
    void missingPortIsDescribed();
    void openFailureDescriptions();
    void secondOpeningIsRefusedByEveryNameOfTheDevice();
    void hangUpIsReportedOnceAndClosesThePort();
    void outputIntoAHungUpLineThrowsAndReportsLater();

private:
    norvak::QtToolkit toolkit_;
};

void TestMSComm::outputSendsEveryByteAtOnce() {
    PtyPair pty;
    auto comm = openOn(toolkit_, pty);
    QByteArray all;
    for (int b = 0; b < 256; ++b) {
        all.append(static_cast<char>(b));
    }
    comm->Output(all);
    // No event loop runs from here on: the bytes must be with the system already.
    QCOMPARE(pty.read(5s, all.size()), all);

    comm->Output(QByteArrayView("\r\n\x11\x13\x1a\x00 i", 8));
    QCOMPARE(pty.read(5s, 8), QByteArray("\r\n\x11\x13\x1a\x00 i", 8));
}

void TestMSComm::outputLargerThanThePendingLimitArrivesWhole() {
    PtyPair pty;
    auto comm = openOn(toolkit_, pty);
    QByteArray big(200 * 1024, Qt::Uninitialized);
    for (qsizetype i = 0; i < big.size(); ++i) {
        big[i] = static_cast<char>((i * 7 + i / 251) & 0xff);
    }
    const QByteArray after("after the big one\n");
    QByteArray got;
    std::atomic<bool> done = false;
    // The device side reads while Output blocks on the full system buffer.
    std::thread reader([&] {
        got = pty.read(60s, big.size() + after.size());
        done = true;
    });
    comm->Output(big);
    // Output returns with at most a few KiB left for the event loop to send; what comes next
    // waits behind them.
    comm->Output(after);
    QTRY_VERIFY_WITH_TIMEOUT(done, 60000);
    reader.join();
    QCOMPARE(got.size(), big.size() + after.size());
    QVERIFY(got == big + after);
}

void TestMSComm::outputFailsWhileClosedAndSendsNothing() {
    PtyPair pty;
    MSComm comm(toolkit_, mapTo({pty.slavePath()}));
    bool portLost = true;
    QVERIFY(failureOf([&] { comm.Output("f"); }, &portLost).contains(QLatin1String("closed")));
    QVERIFY(!portLost); // a closed port is no lost one

    comm.setPortOpen(true);
    comm.setPortOpen(false);
    QVERIFY(failureOf([&] { comm.Output("f"); }).contains(QLatin1String("Port 1")));
    QCOMPARE(pty.read(200ms), QByteArray());
    QVERIFY(!failureOf([&] { (void)comm.Input(); }).isEmpty());
    QCOMPARE(comm.InBufferCount(), std::int16_t{0});
}

void TestMSComm::outputFailsWhenTheLineStalls() {
    PtyPair pty; // nobody reads the device side: the system buffer fills and stays full
    auto comm = openOn(toolkit_, pty);
    bool portLost = false;
    const QString failure =
        failureOf([&] { comm->Output(QByteArray(256 * 1024, 'S')); }, &portLost);
    QVERIFY2(failure.contains(QLatin1String("no data")), qPrintable(failure));
    QVERIFY(portLost); // a line that takes nothing is as good as gone
    QVERIFY(failure.contains(pty.slavePath()));
    QVERIFY(comm->PortOpen());
}

void TestMSComm::openAppliesTheLineSettings() {
    PtyPair pty;
    auto comm = openOn(toolkit_, pty);
    termios tio = pty.slaveTermios();
    QCOMPARE(cfgetospeed(&tio), speed_t{B57600});
    QCOMPARE(cfgetispeed(&tio), speed_t{B57600});
    QCOMPARE(tio.c_cflag & CSIZE, tcflag_t{CS8});
    QCOMPARE(tio.c_cflag & (PARENB | CSTOPB | CRTSCTS), tcflag_t{0});
    QCOMPARE(tio.c_iflag & (IXON | IXOFF), tcflag_t{0});

    comm->setSettings(QStringLiteral("9600,N,8,2")); // applied while open
    tio = pty.slaveTermios();
    QCOMPARE(cfgetospeed(&tio), speed_t{B9600});
    QCOMPARE(tio.c_cflag & (PARENB | CSTOPB), tcflag_t{CSTOPB});

    // A malformed text changes nothing.
    QVERIFY(!failureOf([&] { comm->setSettings(QStringLiteral("9600,q,8,2")); }).isEmpty());
    // A pseudo-terminal keeps 8 data bits without parity: the rate set before the parity
    // was refused is put back, and the description names the port and the settings.
    const QString refused = failureOf([&] { comm->setSettings(QStringLiteral("115200,e,8,1")); });
    QVERIFY2(refused.startsWith(QStringLiteral("Port 1 (%1)").arg(pty.slavePath())),
             qPrintable(refused));
    QVERIFY(refused.contains(QLatin1String("115200,e,8,1")));
    QCOMPARE(comm->Settings(), QStringLiteral("9600,N,8,2"));
    tio = pty.slaveTermios();
    QCOMPARE(cfgetospeed(&tio), speed_t{B9600});
    QVERIFY(comm->PortOpen());
}

void TestMSComm::openAndCloseAreIdempotent() {
    PtyPair pty;
    MSComm comm(toolkit_, mapTo({pty.slavePath()}));
    comm.setPortOpen(false);
    QVERIFY(!comm.PortOpen());
    comm.setPortOpen(true);
    comm.setPortOpen(true);
    QVERIFY(comm.PortOpen());
    comm.setPortOpen(false);
    comm.setPortOpen(false);
    QVERIFY(!comm.PortOpen());
    comm.setPortOpen(true); // and again after closing
    comm.Output("x");
    QCOMPARE(pty.read(5s), QByteArray("x"));
}

void TestMSComm::commPortIsFixedWhileOpenAndPositive() {
    PtyPair pty;
    auto comm = openOn(toolkit_, pty);
    QVERIFY(failureOf([&] { comm->setCommPort(2); }).contains(QLatin1String("open")));
    QCOMPARE(comm->CommPort(), std::int16_t{1});
    comm->setPortOpen(false);
    comm->setCommPort(2);
    QCOMPARE(comm->CommPort(), std::int16_t{2});
    QVERIFY(failureOf([&] { comm->setCommPort(0); }).contains(QLatin1String("0")));
    QVERIFY(!failureOf([&] { comm->setCommPort(-3); }).isEmpty());
    QCOMPARE(comm->CommPort(), std::int16_t{2});
}

void TestMSComm::onCommAnnouncesReceivedBytes() {
    PtyPair pty;
    auto comm = openOn(toolkit_, pty);
    comm->setRThreshold(1);
    QByteArray received;
    int events = 0;
    comm->OnComm = [&] {
        ++events;
        QCOMPARE(comm->CommEvent(), norvak::comm_event::Receive);
        QVERIFY(comm->InBufferCount() >= 1);
        received += comm->Input();
    };
    pty.write(">");
    QTRY_COMPARE_WITH_TIMEOUT(received, QByteArray(">"), kEventTimeoutMs);
    pty.write("_..P");
    QTRY_COMPARE_WITH_TIMEOUT(received, QByteArray(">_..P"), kEventTimeoutMs);
    QVERIFY(events >= 2);
}

void TestMSComm::bytesArrivingWhileTheHandlerYieldsAreAnnouncedInside() {
    PtyPair pty;
    auto comm = openOn(toolkit_, pty);
    comm->setRThreshold(1);
    comm->setInputLen(1);
    QByteArray received;
    int depth = 0;
    int deepest = 0;
    QByteArray seenByTheOuterHandler;
    comm->OnComm = [&] {
        const int level = ++depth;
        deepest = std::max(deepest, level);
        while (comm->InBufferCount() > 0) {
            received += comm->Input();
        }
        if (level == 1 && received == "first") {
            // More arrives while the handler is suspended in an event loop of its own: a
            // nested event hands it on before the outer handler goes on.
            pty.write("second");
            QTRY_VERIFY_WITH_TIMEOUT(received.endsWith("second"), kEventTimeoutMs);
            seenByTheOuterHandler = received;
        }
        --depth;
    };
    pty.write("first");
    QTRY_COMPARE_WITH_TIMEOUT(seenByTheOuterHandler, QByteArray("firstsecond"), kEventTimeoutMs);
    QCOMPARE(deepest, 2);
    QCOMPARE(received, QByteArray("firstsecond"));
}

void TestMSComm::nestingStopsAtTheBoundAndLosesNothing() {
    PtyPair pty;
    auto comm = openOn(toolkit_, pty);
    comm->setRThreshold(1);
    comm->setInputLen(1);
    QByteArray received;
    int depth = 0;
    int deepest = 0;
    comm->OnComm = [&] {
        deepest = std::max(deepest, ++depth);
        while (comm->InBufferCount() > 0) {
            received += comm->Input();
        }
        // Suspended for longer than the gap between events, every time: each level would
        // start the next one while bytes keep coming.
        QTest::qWait(2 * static_cast<int>(MSComm::kReceiveEventGap.count()));
        --depth;
    };
    QByteArray sent;
    for (int i = 0; i < 600; ++i) {
        sent += static_cast<char>('a' + i % 26);
    }
    std::jthread device([&pty, &sent] {
        for (const char byte : sent) {
            pty.write(QByteArrayView(&byte, 1));
            std::this_thread::sleep_for(1ms);
        }
    });
    QTRY_COMPARE_WITH_TIMEOUT(received.size(), sent.size(), 4 * kEventTimeoutMs);
    device.join();
    QCOMPARE(received, sent);
    QCOMPARE(deepest, MSComm::kMaxReceiveNesting);
}

void TestMSComm::oneByteInputsAreSeparateCharacters() {
    PtyPair pty;
    auto comm = openOn(toolkit_, pty);
    comm->setInputLen(1);
    QByteArray all;
    for (int byte = 0; byte < 256; ++byte) {
        all += static_cast<char>(byte);
    }
    pty.write(all);
    QTRY_VERIFY_WITH_TIMEOUT(comm->InBufferCount() > 0, kEventTimeoutMs);
    // Each one-character result stays what it was after the next ones were taken.
    QList<QByteArray> taken;
    while (taken.size() < all.size()) {
        if (comm->InBufferCount() == 0) {
            QTest::qWait(1);
            continue;
        }
        taken.append(comm->Input());
    }
    for (int byte = 0; byte < 256; ++byte) {
        QCOMPARE(taken[byte], all.mid(byte, 1));
    }
    QCOMPARE(comm->InBufferCount(), std::int16_t{0});
}

void TestMSComm::handlerMayAnswerAndClose() {
    PtyPair pty;
    auto comm = openOn(toolkit_, pty);
    comm->setRThreshold(1);
    QByteArray received;
    comm->OnComm = [&] {
        received += comm->Input();
        if (received.endsWith('>')) {
            comm->Output("f");
        } else if (received.endsWith('P')) {
            comm->setPortOpen(false); // from inside Qt's readyRead
        }
    };
    pty.write(">");
    QByteArray answered;
    QTRY_COMPARE_WITH_TIMEOUT(answered += pty.read(0ms), QByteArray("f"), kEventTimeoutMs);
    pty.write("_.P");
    QTRY_VERIFY_WITH_TIMEOUT(!comm->PortOpen(), kEventTimeoutMs);
    QCOMPARE(received, QByteArray(">_.P"));
    pty.write("late");
    QTest::qWait(100); // nothing is announced once closed
    QCOMPARE(received, QByteArray(">_.P"));
}

void TestMSComm::receivingGoesOnAfterInputFetchedFromTheSystem() {
    PtyPair pty;
    auto comm = openOn(toolkit_, pty);
    comm->setRThreshold(1);
    QByteArray received;
    comm->OnComm = [&] {
        received += comm->Input();
    };
    QCoreApplication::processEvents();

    pty.write("a");
    const QDeadlineTimer deadline(kEventTimeoutMs);
    while (comm->InBufferCount() < 1 && !deadline.hasExpired()) {
        std::this_thread::sleep_for(1ms);
    }
    // Input takes the byte from the system in the same event-loop pass in which Qt's read
    // notifier fires for it; Qt then reads nothing and blames the errno left over from an
    // earlier call, often EAGAIN from the event loop's own wake-up. Receiving must go on.
    QObject context;
    QMetaObject::invokeMethod(
        &context,
        [&] {
            received += comm->Input();
            errno = EAGAIN;
        },
        Qt::QueuedConnection);
    QTRY_COMPARE_WITH_TIMEOUT(received, QByteArray("a"), kEventTimeoutMs);
    QTest::qWait(50);
    pty.write("b");
    QTRY_COMPARE_WITH_TIMEOUT(received, QByteArray("ab"), kEventTimeoutMs);
}

void TestMSComm::noReceiveEventsWithThresholdZero() {
    PtyPair pty;
    auto comm = openOn(toolkit_, pty);
    int events = 0;
    comm->OnComm = [&] {
        ++events;
    };
    pty.write("abc");
    QTRY_COMPARE_WITH_TIMEOUT(comm->InBufferCount(), std::int16_t{3}, kEventTimeoutMs);
    QTest::qWait(100);
    QCOMPARE(events, 0);
    // Raising the threshold announces what already waits.
    comm->setRThreshold(3);
    QTRY_COMPARE_WITH_TIMEOUT(events, 1, kEventTimeoutMs);
    // The handler left them unread: they have been announced, no event storm follows.
    QTest::qWait(100);
    QCOMPARE(events, 1);
    // New bytes are announced again, together with the old ones.
    pty.write("d");
    QTRY_COMPARE_WITH_TIMEOUT(events, 2, kEventTimeoutMs);
    QCOMPARE(comm->Input(), QByteArray("abcd"));
}

void TestMSComm::inputHonoursInputLenAndInBufferCountSeesTheSystem() {
    PtyPair pty;
    auto comm = openOn(toolkit_, pty);
    pty.write("0123456789");
    // No event loop: the count must come from the system itself.
    const QDeadlineTimer deadline(kEventTimeoutMs);
    while (comm->InBufferCount() < 10 && !deadline.hasExpired()) {
        std::this_thread::sleep_for(1ms);
    }
    QCOMPARE(comm->InBufferCount(), std::int16_t{10});
    comm->setInputLen(4);
    QCOMPARE(comm->Input(), QByteArray("0123"));
    QCOMPARE(comm->InBufferCount(), std::int16_t{6});
    QCOMPARE(comm->Input(), QByteArray("4567"));
    QCOMPARE(comm->Input(), QByteArray("89"));
    QCOMPARE(comm->Input(), QByteArray());
    QCOMPARE(comm->InBufferCount(), std::int16_t{0});

    comm->setInputLen(0);
    pty.write("all of it");
    QTRY_COMPARE_WITH_TIMEOUT(comm->InBufferCount(), std::int16_t{9}, kEventTimeoutMs);
    QCOMPARE(comm->Input(), QByteArray("all of it"));
    QVERIFY(!failureOf([&] { comm->setInputLen(-1); }).isEmpty());
}

void TestMSComm::mappingOpensTheFirstExistingCandidate() {
    const QStringList linuxPorts = norvak::defaultPortCandidates()(3);
    QCOMPARE(linuxPorts, (QStringList{"/dev/ttyUSB2", "/dev/ttyACM2", "/dev/ttyS2"}));
    QVERIFY(norvak::defaultPortCandidates()(0).isEmpty());

    PtyPair pty;
    int asked = 0;
    MSComm comm(toolkit_, [&](int port) -> QStringList {
        asked = port;
        return port == 3 ? QStringList{"/nonexistent/ttyUSB2", pty.slavePath()} : QStringList{};
    });
    comm.setCommPort(3);
    comm.setPortOpen(true);
    QCOMPARE(asked, 3);
    QCOMPARE(comm.devicePath(), pty.slavePath());
    comm.Output("i");
    QCOMPARE(pty.read(5s), QByteArray("i"));
}

void TestMSComm::missingPortIsDescribed() {
    MSComm comm(toolkit_, mapTo({"/nonexistent/ttyUSB6", "/nonexistent/ttyS6"}));
    comm.setCommPort(7);
    const QString failure = failureOf([&] { comm.setPortOpen(true); });
    QVERIFY2(failure.startsWith(QLatin1String("Port 7: no serial port found (tried "
                                              "/nonexistent/ttyUSB6, /nonexistent/ttyS6)")),
             qPrintable(failure));
    QVERIFY(!comm.PortOpen());

    MSComm unmapped(toolkit_, mapTo({}));
    QVERIFY(failureOf([&] {
                unmapped.setPortOpen(true);
            }).contains(QLatin1String("no serial port found")));

    // A path that exists but is no serial port.
    MSComm notSerial(toolkit_, mapTo({"/dev/null"}));
    const QString nullFailure = failureOf([&] { notSerial.setPortOpen(true); });
    QVERIFY2(nullFailure.startsWith(QLatin1String("Port 1 (/dev/null)")), qPrintable(nullFailure));
    QVERIFY(!notSerial.PortOpen());
}

void TestMSComm::openFailureDescriptions() {
    using norvak::OpenFailure;
    QCOMPARE(norvak::classifyOpenFailure(QSerialPort::PermissionError, false),
             OpenFailure::PermissionDenied);
    QCOMPARE(norvak::classifyOpenFailure(QSerialPort::PermissionError, true), OpenFailure::InUse);
    QCOMPARE(norvak::classifyOpenFailure(QSerialPort::DeviceNotFoundError, true),
             OpenFailure::NotFound);
    QCOMPARE(norvak::classifyOpenFailure(QSerialPort::UnsupportedOperationError, true),
             OpenFailure::UnsupportedSettings);

    const QString denied = norvak::describeOpenFailure(
        1, "/dev/ttyUSB0", OpenFailure::PermissionDenied, "Permission denied");
    QVERIFY2(denied.startsWith(QLatin1String("Port 1 (/dev/ttyUSB0): permission denied")),
             qPrintable(denied));
    QVERIFY(denied.contains(QLatin1String("usermod -aG dialout")));
    QVERIFY(denied.contains(QLatin1String("Permission denied)")));

    const QString missing =
        norvak::describeOpenFailure(2, "/dev/ttyACM1", OpenFailure::NotFound, "No such device");
    QVERIFY2(missing.startsWith(QLatin1String("Port 2 (/dev/ttyACM1): no such device")),
             qPrintable(missing));
    QVERIFY(missing.contains(QLatin1String("Check the cable and the port number.")));

    const QString settings = norvak::describeOpenFailure(
        1, "/dev/ttyS0", OpenFailure::UnsupportedSettings, "Invalid argument", "57600,n,8,1.5");
    QVERIFY(settings.contains(QLatin1String("57600,n,8,1.5")));
}

// Root passes the system's exclusive mode of a tty, and Qt's lock file is named after the
// path: the second opening must be stopped by the device itself, by whichever name it comes.
void TestMSComm::secondOpeningIsRefusedByEveryNameOfTheDevice() {
    PtyPair pty;
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString link = dir.filePath(QStringLiteral("usb-Norvak_Adapter-if00-port0"));
    QVERIFY(QFile::link(pty.slavePath(), link));
    auto first = openOn(toolkit_, pty);
    const QString holder = QStringLiteral("%1 (pid %2)")
                               .arg(QFileInfo(QCoreApplication::arguments().value(0)).fileName())
                               .arg(QCoreApplication::applicationPid());
    for (const QString& name : {pty.slavePath(), link}) {
        MSComm second(toolkit_, mapTo({name}));
        const QString failure = failureOf([&] { second.setPortOpen(true); });
        QCOMPARE(failure, QStringLiteral("Port 1 (%1) is in use by %2. Close the other program, "
                                         "or choose another port number.")
                              .arg(name, holder));
        QVERIFY(!second.PortOpen());
    }
#ifdef TIOCGEXCL
    // The refused openings left the first one's line as it was: still in exclusive mode.
    const int probe = ::open(QFile::encodeName(pty.slavePath()).constData(),
                             O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (probe >= 0) { // only root opens a tty in exclusive mode
        int exclusive = 0;
        QCOMPARE(::ioctl(probe, TIOCGEXCL, &exclusive), 0);
        ::close(probe);
        QCOMPARE(exclusive, 1);
    }
#endif
    first->Output("ok");
    QCOMPARE(pty.read(5s, 2), QByteArray("ok"));
    // Once the first lets go, any name opens.
    first->setPortOpen(false);
    MSComm byLink(toolkit_, mapTo({link}));
    byLink.setPortOpen(true);
    QVERIFY(byLink.PortOpen());
    byLink.Output("by link");
    QCOMPARE(pty.read(5s, 7), QByteArray("by link"));
}

void TestMSComm::hangUpIsReportedOnceAndClosesThePort() {
    PtyPair pty;
    auto comm = openOn(toolkit_, pty);
    comm->setRThreshold(1);
    QStringList reports;
    bool openDuringReport = true;
    comm->OnPortLost = [&](const QString& description) {
        reports << description;
        openDuringReport = comm->PortOpen();
    };
    pty.closeMaster();
    QTRY_COMPARE_WITH_TIMEOUT(reports.size(), 1, kEventTimeoutMs);
    QTest::qWait(200);
    QCOMPARE(reports.size(), 1);
    QVERIFY(!openDuringReport);
    QVERIFY(!comm->PortOpen());
    QVERIFY2(reports.front().startsWith(QStringLiteral("Port 1 (%1)").arg(pty.slavePath())),
             qPrintable(reports.front()));

    bool portLost = false;
    const QString failure = failureOf([&] { comm->Output("i"); }, &portLost);
    QVERIFY2(failure.contains(pty.slavePath()), qPrintable(failure));
    QVERIFY(portLost);
    comm->setPortOpen(false); // no failure closing what is closed
}

void TestMSComm::outputIntoAHungUpLineThrowsAndReportsLater() {
    PtyPair pty;
    auto comm = openOn(toolkit_, pty);
    int reports = 0;
    comm->OnPortLost = [&](const QString&) {
        ++reports;
    };
    pty.closeMaster();
    // No event loop has run: Output is the first to meet the hang-up.
    bool portLost = false;
    const QString failure = failureOf([&] { comm->Output("S0030000FC\n"); }, &portLost);
    QVERIFY2(failure.contains(QLatin1String("lost")), qPrintable(failure));
    QVERIFY(portLost);
    QCOMPARE(reports, 0); // reported from the event loop, not from inside Output
    QVERIFY(!comm->PortOpen());
    QVERIFY(!failureOf([&] { comm->Output("again"); }).isEmpty());
    QTRY_COMPARE_WITH_TIMEOUT(reports, 1, kEventTimeoutMs);
    QTest::qWait(200);
    QCOMPARE(reports, 1);
}

QTEST_GUILESS_MAIN(TestMSComm)
#include "test_mscomm.moc"
