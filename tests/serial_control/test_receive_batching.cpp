// The serial control announces a stream of received bytes in batches: receive events come at
// least MSComm::kReceiveEventGap apart while bytes keep coming, and no byte is lost or
// reordered on the way.

#include "link/control/mscomm.h"
#include "mainwindow/qt_toolkit.h"
#include "tests/support/pty_pair.h"

#include <QElapsedTimer>
#include <QTest>

#include <atomic>
#include <thread>
#include <vector>

using namespace std::chrono_literals;
using norvak::MSComm;
using norvak::test::PtyPair;

class TestReceiveBatching : public QObject {
    Q_OBJECT

private slots:
    void aSteadyStreamIsAnnouncedInBatches();
    void loneBytesAreEachAnnounced();

private:
    norvak::QtToolkit toolkit_;
};

namespace {

std::unique_ptr<MSComm> openOn(norvak::Toolkit& toolkit, const PtyPair& pty) {
    auto comm = std::make_unique<MSComm>(
        toolkit, [path = pty.slavePath()](int) { return QStringList{path}; });
    comm->setCommPort(1);
    comm->setSettings(QStringLiteral("57600,n,8,1"));
    comm->setRThreshold(1);
    comm->setInputLen(1);
    comm->setPortOpen(true);
    return comm;
}

// Bytes 0..255 over and over, `count` in all.
QByteArray pattern(qsizetype count) {
    QByteArray bytes(count, '\0');
    for (qsizetype i = 0; i < count; ++i) {
        bytes[i] = static_cast<char>(i % 256);
    }
    return bytes;
}

} // namespace

void TestReceiveBatching::aSteadyStreamIsAnnouncedInBatches() {
    PtyPair pty;
    auto comm = openOn(toolkit_, pty);
    QByteArray received;
    std::vector<qint64> eventTimes;
    QElapsedTimer clock;
    clock.start();
    comm->OnComm = [&] {
        eventTimes.push_back(clock.nsecsElapsed());
        // Drained one byte at a time, as the window does.
        while (comm->InBufferCount() > 0) {
            received += comm->Input();
        }
    };
    // A byte every millisecond for 300 ms, from a thread of its own: a stream the system hands
    // on in many small deliveries.
    const QByteArray sent = pattern(300);
    std::jthread device([&pty, &sent] {
        for (const char byte : sent) {
            pty.write(QByteArrayView(&byte, 1));
            std::this_thread::sleep_for(1ms);
        }
    });
    QTRY_COMPARE_WITH_TIMEOUT(received.size(), sent.size(), 20000);
    device.join();
    QCOMPARE(received, sent);
    // The handler's own clock reads follow the control's by a little: allow a millisecond.
    const qint64 gap = std::chrono::nanoseconds(MSComm::kReceiveEventGap - 1ms).count();
    for (std::size_t i = 1; i < eventTimes.size(); ++i) {
        QVERIFY2(eventTimes[i] - eventTimes[i - 1] >= gap, qPrintable(QString::number(i)));
    }
    QVERIFY(eventTimes.size() < 300);
}

void TestReceiveBatching::loneBytesAreEachAnnounced() {
    PtyPair pty;
    auto comm = openOn(toolkit_, pty);
    QByteArray received;
    int events = 0;
    comm->OnComm = [&] {
        ++events;
        received += comm->Input();
    };
    pty.write(">");
    QTRY_COMPARE_WITH_TIMEOUT(received, QByteArray(">"), 10000);
    // A second byte within the gap still comes, in an event of its own.
    pty.write("_");
    QTRY_COMPARE_WITH_TIMEOUT(received, QByteArray(">_"), 10000);
    QCOMPARE(events, 2);
}

QTEST_GUILESS_MAIN(TestReceiveBatching)
#include "test_receive_batching.moc"
