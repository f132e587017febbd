#include "bench/support/bench_rig.h"

#include "link/control/forwarding_serial_control.h"
#include "link/control/mscomm.h"

#include <QApplication>
#include <QComboBox>
#include <QCoreApplication>
#include <QEventLoop>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QScopedValueRollback>
#include <QTimer>

#include <algorithm>
#include <stdexcept>

namespace norvak::bench {

void BenchToolkit::sleepUntil(TimePoint deadline) {
    const auto begin = std::chrono::steady_clock::now();
    ScriptedToolkit::sleepUntil(deadline);
    const auto end = std::chrono::steady_clock::now();
    times.slept += end - begin;
    times.asked += std::max(deadline - begin, TimePoint::duration::zero());
    // A step whose deadline passed during the yield before it does not sleep: it is not late.
    if (deadline > begin) {
        times.late += std::max(end - deadline, TimePoint::duration::zero());
    }
    ++times.sleeps;
}

TimePoint::duration BenchToolkit::yield() {
    if (yieldDepth_ > 0) {
        return ScriptedToolkit::yield();
    }
    const QScopedValueRollback depth(yieldDepth_, 1);
    const auto begin = std::chrono::steady_clock::now();
    // The artificial load is a handler of its own: its time counts as handlers' time.
    if (loadEvery > 0 && (times.yields + 1) % loadEvery == 0) {
        while (std::chrono::steady_clock::now() - begin < loadFor) {
        }
    }
    const auto loaded = std::chrono::steady_clock::now() - begin;
    const auto handlers = ScriptedToolkit::yield();
    times.yielding += std::chrono::steady_clock::now() - begin;
    times.handlers += loaded + handlers;
    ++times.yields;
    return loaded + handlers;
}

std::vector<double> lineFeedDelays(const std::vector<OutputCall>& calls,
                                   const SimRecording& recording, std::size_t from) {
    std::vector<double> delays;
    auto written = calls.begin();
    for (std::size_t i = from; i < recording.received.size(); ++i) {
        if (recording.received[i] != '\n') {
            continue;
        }
        written = std::find_if(written, calls.end(), [](const OutputCall& c) { return c.lineEnd; });
        if (written == calls.end()) {
            break;
        }
        delays.push_back(
            std::chrono::duration<double, std::milli>(recording.receivedAt[i] - written->returned)
                .count());
        ++written;
    }
    return delays;
}

namespace {

// The real serial control, with the time of every Output call noted.
class TimedSerial final : public ForwardingSerialControl {
public:
    TimedSerial(Toolkit& toolkit, const QString& ttyPath,
                std::shared_ptr<std::vector<OutputCall>> calls)
        : ForwardingSerialControl(
              std::make_unique<MSComm>(toolkit, [ttyPath](int) { return QStringList{ttyPath}; }))
        , calls_(std::move(calls)) {}

    void Output(QByteArrayView bytes) override {
        const auto began = std::chrono::steady_clock::now();
        inner().Output(bytes);
        calls_->push_back({began, std::chrono::steady_clock::now(), bytes == "\n"});
    }

private:
    std::shared_ptr<std::vector<OutputCall>> calls_;
};

} // namespace

std::vector<double> hostLineGaps(const std::vector<OutputCall>& calls) {
    std::vector<double> gaps;
    for (std::size_t i = 0; i + 1 < calls.size(); ++i) {
        if (calls[i].lineEnd && !calls[i + 1].lineEnd) {
            gaps.push_back(
                std::chrono::duration<double, std::milli>(calls[i + 1].began - calls[i].returned)
                    .count());
        }
    }
    return gaps;
}

std::vector<double> hostLineSpans(const std::vector<OutputCall>& calls) {
    std::vector<double> spans;
    // A line begins with the first call after an LF. Before the first LF come the wake-up
    // characters and the file request, which cannot be told from the first line's pieces, so
    // the first line is left out.
    for (std::size_t i = 0; i + 1 < calls.size(); ++i) {
        if (!calls[i].lineEnd) {
            continue;
        }
        const auto lineBegan = calls[i + 1].began;
        std::size_t end = i + 1;
        while (end < calls.size() && !calls[end].lineEnd) {
            ++end;
        }
        if (end == calls.size()) {
            break;
        }
        spans.push_back(
            std::chrono::duration<double, std::milli>(calls[end].returned - lineBegan).count());
        i = end - 1;
    }
    return spans;
}

namespace {

// A press and release of the left mouse button on the button's middle, as the operator
// clicks: unlike click(), it also moves the keyboard focus to the button, as the window system
// path of a real click does before the press reaches the button.
void clickWithMouse(QAbstractButton& button) {
    if ((button.focusPolicy() & Qt::ClickFocus) != 0) {
        button.setFocus(Qt::MouseFocusReason);
    }
    const QPointF middle = QRectF(button.rect()).center();
    const QPointF global = button.mapToGlobal(middle);
    for (const QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease}) {
        const Qt::MouseButtons held =
            type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton;
        QMouseEvent event(type, middle, global, Qt::LeftButton, held, Qt::NoModifier);
        QApplication::sendEvent(&button, &event);
    }
}

} // namespace

ProgrammerRig::ProgrammerRig(const QString& ttyPath, bool shown)
    : outputCalls_(std::make_shared<std::vector<OutputCall>>()) {
    window_ = std::make_unique<frmProg>(
        toolkit_, std::make_unique<TimedSerial>(toolkit_, ttyPath, outputCalls_), nullptr);
    QObject::connect(window_.get(), &frmProg::runEnded, window_.get(),
                     [this](const RunEnding& ending) { runEnds_.push_back(ending); });
    WindowControls::of(*window_).portBox.setText(QStringLiteral("1"));
    if (shown) {
        window_->show();
    }
    QCoreApplication::processEvents();
}

ProgrammerRig::~ProgrammerRig() {
    // Closing runs the window's own shutdown: timers off, port closed.
    window_->close();
}

bool ProgrammerRig::programmed() const {
    return std::ranges::any_of(runEnds_, [](const RunEnding& ending) {
        return ending.reason == RunEndReason::Programmed;
    });
}

void ProgrammerRig::connectPort() {
    clickWithMouse(WindowControls::of(*window_).connectButton);
    if (!window_->PortOpen()) {
        const QString why = runEnds_.empty() ? QString() : runEnds_.back().description;
        throw std::runtime_error("the port did not open: " + why.toStdString());
    }
}

void ProgrammerRig::chooseFile(const QString& path) {
    toolkit_.answerNextOpenDialog(path);
    clickWithMouse(WindowControls::of(*window_).browseButton);
}

void ProgrammerRig::setSpeedItem(int index) {
    QComboBox& speedList = WindowControls::of(*window_).speedList;
    if (index < 0) {
        speedList.lineEdit()->setText(QStringLiteral("0"));
        emit speedList.lineEdit()->textEdited(QStringLiteral("0"));
    } else {
        speedList.setCurrentIndex(index);
        emit speedList.activated(index);
    }
}

void ProgrammerRig::start() {
    QPushButton& flashButton = WindowControls::of(*window_).flashButton;
    if (!flashButton.isEnabled()) {
        throw std::runtime_error("the programming button is disabled");
    }
    clickWithMouse(flashButton);
    if (window_->shared().flashState != FlashState::WaitingForBoot) {
        throw std::runtime_error("no run started");
    }
}

bool runEventsUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout,
                    std::chrono::milliseconds interval) {
    if (done()) {
        return true;
    }
    QEventLoop loop;
    bool finished = false;
    QTimer check;
    check.setInterval(interval);
    QObject::connect(&check, &QTimer::timeout, &loop, [&] {
        if (done()) {
            finished = true;
            loop.quit();
        }
    });
    QTimer::singleShot(timeout, &loop, &QEventLoop::quit);
    check.start();
    loop.exec();
    return finished || done();
}

void runEventsFor(std::chrono::milliseconds duration) {
    QEventLoop loop;
    QTimer::singleShot(duration, &loop, &QEventLoop::quit);
    loop.exec();
}

} // namespace norvak::bench
