// Faults found by the fault tests, each kept on the virtual clock where it can be forced.

#include "link/control/mscomm.h"
#include "tests/support/device_rig.h"
#include "tests/support/fake_serial_control.h"
#include "tests/support/virtual_toolkit.h"
#include "tests/support/window_rig.h"

#include <QTemporaryDir>
#include <QTest>

using namespace norvak;
using namespace norvak::faults;
using namespace norvak::test;
using namespace std::chrono_literals;

class TestFaultsRegressions : public QObject {
    Q_OBJECT

private slots:
    void aFileStartedAmongDeviceBytesStillSeesItsDots();
};

namespace {

// The fake serial control, but raising events as the real one does: an event that comes
// while handlers run is raised inside them (in their yields), up to the real control's
// nesting bound; beyond it, once a handler has returned.
class BoundedNesting final : public ForwardingSerialControl {
public:
    explicit BoundedNesting(VirtualToolkit& toolkit)
        : ForwardingSerialControl(std::make_unique<FakeSerialControl>(toolkit))
        , toolkit_(toolkit) {}

    [[nodiscard]] FakeSerialControl& fake() { return static_cast<FakeSerialControl&>(inner()); }

    int deepest = 0; // handlers that ran inside one another at most

private:
    void relayComm() override { raise(); }

    void raise() {
        if (depth_ >= MSComm::kMaxReceiveNesting) {
            missed_ = true;
            return;
        }
        deepest = std::max(deepest, ++depth_);
        if (const auto handler = OnComm) {
            handler();
        }
        --depth_;
        if (std::exchange(missed_, false)) {
            toolkit_.post([this] {
                if (fake().PortOpen() && fake().InBufferCount() > 0) {
                    raise();
                }
            });
        }
    }

    VirtualToolkit& toolkit_;
    int depth_ = 0;
    bool missed_ = false;
};

QByteArray firmware(int lines) {
    QByteArray file;
    for (int i = 0; i < lines; ++i) {
        file += "S1130000" + QByteArray::number(i).rightJustified(4, '0') + "\r\n";
    }
    return file;
}

} // namespace

// A byte from the device that comes as the file sender's tick falls due starts the run inside
// the receive handler's closing yield. When the serial control raised no receive event while
// its handler ran, the run saw none of its dots and the watchdog failed it; now its dots come
// in events nested in the run's own yields.
void TestFaultsRegressions::aFileStartedAmongDeviceBytesStillSeesItsDots() {
    VirtualToolkit toolkit;
    auto control = std::make_unique<BoundedNesting>(toolkit);
    BoundedNesting& serial = *control;
    frmProg window(toolkit, std::move(control), nullptr);
    WindowView view(window);
    QTemporaryDir dir;
    const QString path = dir.filePath("fw.srec");
    const QByteArray file = firmware(80); // longer to send than the watchdog waits
    {
        QFile out(path);
        QVERIFY(out.open(QIODevice::WriteOnly));
        out.write(file);
    }
    view.pressConnect();
    toolkit.dialogAnswers.emplace_back(path);
    view.press(Button::Browse);
    view.pressStart();
    serial.fake().receive(">");
    toolkit.runDue();
    toolkit.advance(333ms);
    // Scheduled before "_" enables the file sender, this byte comes first when both fall due.
    toolkit.after(1000ms, [&serial] { serial.fake().receive("\x80"); });
    serial.fake().receive("_");
    toolkit.runDue();
    QCOMPARE(view.state(), FlashState::Sending);
    const qsizetype sendingFrom = serial.fake().wire.size();
    // The device answers with a dot every 50 ms from now on.
    bool answering = true;
    std::function<void()> dot = [&] {
        if (!answering) {
            return;
        }
        serial.fake().receive(".");
        toolkit.after(50ms, dot);
    };
    toolkit.after(50ms, dot);
    toolkit.advance(10'000ms);
    answering = false;

    QCOMPARE(toolkit.messages.size(), std::size_t{0}); // no "Error: DOT Timeout"
    QCOMPARE(serial.fake().wire.mid(sendingFrom), expectedStream(file));
    QCOMPARE(view.state(), FlashState::Sending);
    QVERIFY(!view.streaming());
    QVERIFY(serial.deepest >= 2); // the run did start inside a receive handler
}

QTEST_MAIN(TestFaultsRegressions)
#include "test_regressions.moc"
