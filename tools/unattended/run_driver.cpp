#include "tools/unattended/run_driver.h"

#include "mainwindow/frmprog.h"
#include "mainwindow/logbox/logbox.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>

namespace norvak::unattended {

QString statusPart(const QString& caption) {
    const QString prefix = applicationTitle + QStringLiteral(", ");
    return caption.startsWith(prefix) ? caption.mid(prefix.size()) : QString();
}

namespace {

// After the result the device may still be sending its closing words.
constexpr qint64 quietBeforeEndMs = 300;
constexpr qint64 windUpLimitMs = 5000;

} // namespace

RunDriver::RunDriver(frmProg& window, ScriptedToolkit& toolkit, RunPlan plan)
    : window_(window)
    , controls_(WindowControls::of(window))
    , toolkit_(toolkit)
    , plan_(std::move(plan)) {
    toolkit_.answerUnattended([this](const MessageBoxRequest& request) { onMessage(request); });
    connect(&window_, &QWidget::windowTitleChanged, this, &RunDriver::onCaption);
    connect(&window_, &frmProg::runEnded, this, &RunDriver::onRunEnded);
    watchTimer_.setInterval(watchInterval);
    connect(&watchTimer_, &QTimer::timeout, this, &RunDriver::watch);
    deadline_.setSingleShot(true);
    deadline_.setInterval(plan_.timeout);
    connect(&deadline_, &QTimer::timeout, this, [this] {
        verdict_.onTimeout();
        announceDecision();
    });
}

RunDriver::~RunDriver() {
    toolkit_.answerUnattended([](const MessageBoxRequest&) {});
}

void RunDriver::start() {
    QTimer::singleShot(0, this, &RunDriver::begin);
}

void RunDriver::interrupt() {
    if (phase_ == Phase::Finished) {
        return;
    }
    if (!verdict_.decided()) {
        // CANCEL is the button while a run is under way; the window's own guard decides.
        if (window_.shared().flashState != FlashState::Idle && controls_.flashButton.isEnabled()) {
            emit step(QStringLiteral("Press %1").arg(controls_.flashButton.text()));
            controls_.flashButton.click();
        }
        if (window_.PortOpen()) {
            emit step(QStringLiteral("Press %1").arg(controls_.connectButton.text()));
            controls_.connectButton.click();
        }
        verdict_.onInterrupted();
        announceDecision();
    }
    finish();
}

void RunDriver::begin() {
    if (phase_ != Phase::NotStarted) {
        return;
    }
    if (plan_.timeout > std::chrono::milliseconds::zero()) {
        deadline_.start();
    }
    phase_ = Phase::Running;
    if (plan_.portPresent && !plan_.portPresent()) {
        emit step(QStringLiteral("Wait for port %1 to appear").arg(plan_.port));
        portWait_.start();
        portLook_.setInterval(portLookInterval);
        connect(&portLook_, &QTimer::timeout, this, &RunDriver::lookForPort);
        portLook_.start();
        return;
    }
    run();
}

void RunDriver::lookForPort() {
    if (phase_ != Phase::Running || verdict_.decided()) {
        portLook_.stop();
        return;
    }
    if (plan_.portPresent()) {
        portLook_.stop();
        run();
    } else if (portWait_.elapsed() >= plan_.portWaitLimit.count()) {
        portLook_.stop();
        verdict_.fail(RunOutcome::PortFailed,
                      QStringLiteral("Port %1 did not appear within %2 seconds.")
                          .arg(plan_.port)
                          .arg(plan_.portWaitLimit.count() / 1000));
        announceDecision();
    }
}

void RunDriver::run() {
    if (!clickThrough()) {
        announceDecision();
        return;
    }
    lookAtButton();
    watchTimer_.start();
}

bool RunDriver::clickThrough() {
    controls_.portBox.setText(QString::number(plan_.port));
    emit step(QStringLiteral("Connect to port %1").arg(plan_.port));
    controls_.connectButton.click();
    if (!window_.PortOpen()) {
        verdict_.fail(RunOutcome::PortFailed, QStringLiteral("the port did not open"));
        return false;
    }
    emit step(QStringLiteral("Choose %1").arg(plan_.firmware));
    toolkit_.answerNextOpenDialog(plan_.firmware);
    controls_.browseButton.click();
    if (window_.shared().fileName != plan_.firmware || !controls_.flashButton.isEnabled()) {
        verdict_.fail(RunOutcome::FileUnreadable,
                      QStringLiteral("the firmware file was not taken"));
        return false;
    }
    chooseSpeed();
    emit aboutToStart();
    emit step(QStringLiteral("Press %1").arg(controls_.flashButton.text()));
    controls_.flashButton.click();
    if (window_.shared().flashState == FlashState::Idle) {
        verdict_.fail(RunOutcome::Failed, QStringLiteral("the run did not start"));
        return false;
    }
    return true;
}

void RunDriver::chooseSpeed() {
    if (plan_.speedItem < 0 || plan_.speedItem >= controls_.speedList.count()) {
        return;
    }
    emit step(QStringLiteral("Choose speed %1").arg(controls_.speedList.itemText(plan_.speedItem)));
    // As the operator picks an item from the list.
    controls_.speedList.setCurrentIndex(plan_.speedItem);
    emit controls_.speedList.activated(plan_.speedItem);
}

void RunDriver::onCaption(const QString& caption) {
    if (phase_ == Phase::Finished || phase_ == Phase::NotStarted) {
        return;
    }
    emit captionChanged(caption);
    lookAtButton();
}

void RunDriver::onMessage(const MessageBoxRequest& request) {
    if (phase_ == Phase::Finished) {
        return;
    }
    emit messageShown(request.text, request.icon == MessageIcon::Critical);
}

void RunDriver::onRunEnded(const RunEnding& ending) {
    if (phase_ == Phase::Finished || phase_ == Phase::NotStarted) {
        return;
    }
    lookAtButton();
    verdict_.onRunEnded(ending);
    announceDecision();
}

void RunDriver::announceDecision() {
    if (!verdict_.decided() || decisionAnnounced_) {
        return;
    }
    decisionAnnounced_ = true;
    emit decided();
    windUp();
}

void RunDriver::lookAtButton() {
    const QString caption = controls_.flashButton.text();
    if (caption == buttonCaption_) {
        return;
    }
    buttonCaption_ = caption;
    emit buttonChanged(caption);
}

bool RunDriver::windowTimersWillEndRun() const {
    // The watchdog may still end the run, and a countdown still running may find the boot
    // program missing. Until they have had their say the run is not over.
    return window_.timer(TimerRole::DotWatchdog).isEnabled() ||
           window_.timer(TimerRole::Countdown).isEnabled();
}

void RunDriver::watch() {
    if (phase_ == Phase::Finished) {
        return;
    }
    lookAtButton();
    const bool streaming = window_.isStreaming();
    if (phase_ == Phase::Running && !verdict_.decided() &&
        window_.shared().flashState == FlashState::Idle && !streaming &&
        !windowTimersWillEndRun()) {
        verdict_.onSettledIdle();
        announceDecision();
    }
    if (phase_ != Phase::WindingUp) {
        return;
    }
    const qsizetype logLength = controls_.logBox.length();
    if (logLength != lastLogLength_) {
        lastLogLength_ = logLength;
        quietClock_.start();
    }
    const bool settled = !streaming && quietClock_.elapsed() >= quietBeforeEndMs;
    if (settled || windUpClock_.elapsed() >= windUpLimitMs) {
        finish();
    }
}

void RunDriver::windUp() {
    if (phase_ == Phase::WindingUp || phase_ == Phase::Finished) {
        return;
    }
    phase_ = Phase::WindingUp;
    deadline_.stop();
    windUpClock_.start();
    quietClock_.start();
    lastLogLength_ = controls_.logBox.length();
    watchTimer_.start();
}

void RunDriver::finish() {
    if (phase_ == Phase::Finished) {
        return;
    }
    lookAtButton();
    phase_ = Phase::Finished;
    watchTimer_.stop();
    deadline_.stop();
    emit finished();
}

} // namespace norvak::unattended
