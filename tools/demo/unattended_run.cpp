#include "unattended_run.h"

#include "mainwindow/frmprog.h"
#include "mainwindow/logbox/logbox.h"

#include <QLineEdit>
#include <QPixmap>
#include <QPushButton>

namespace norvak::demo {

namespace {

using namespace std::chrono_literals;

constexpr auto watchInterval = 100ms;
// After the result the device may still be sending its closing words.
constexpr qint64 quietBeforeEndMs = 300;
constexpr qint64 windUpLimitMs = 5000;

QString forTerminal(QString text) {
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return text;
}

} // namespace

UnattendedRun::UnattendedRun(frmProg& window, DemoToolkit& toolkit, RunSettings settings,
                             QTextStream& out)
    : window_(window)
    , toolkit_(toolkit)
    , settings_(std::move(settings))
    , out_(out) {
    toolkit_.answerUnattended([this](const MessageBoxRequest& request) { onMessage(request); });
    connect(&window_, &QWidget::windowTitleChanged, this, &UnattendedRun::onCaption);
    watchTimer_.setInterval(watchInterval);
    connect(&watchTimer_, &QTimer::timeout, this, &UnattendedRun::watch);
    deadline_.setSingleShot(true);
    deadline_.setInterval(settings_.timeout);
    connect(&deadline_, &QTimer::timeout, this, [this] {
        verdict_.onTimeout();
        windUp();
    });
}

UnattendedRun::~UnattendedRun() {
    toolkit_.answerUnattended([](const MessageBoxRequest&) {});
}

void UnattendedRun::start() {
    QTimer::singleShot(0, this, &UnattendedRun::begin);
}

int UnattendedRun::exitCode() const {
    const int code = verdict_.exitCode();
    return code == 0 && screenshotFailed_ ? 2 : code;
}

void UnattendedRun::begin() {
    clock_.start();
    deadline_.start();
    phase_ = Phase::Running;
    if (!clickThrough()) {
        windUp();
        return;
    }
    watchTimer_.start();
}

bool UnattendedRun::clickThrough() {
    window_.txtComPort->setText(QString::number(settings_.port));
    print(QStringLiteral("Connect to port %1").arg(settings_.port));
    window_.btnCon->click();
    if (!window_.PortOpen()) {
        verdict_.fail(QStringLiteral("the port did not open"));
        return false;
    }
    print(QStringLiteral("Choose %1").arg(settings_.firmware));
    toolkit_.answerNextOpenDialog(settings_.firmware);
    window_.btnopenFile->click();
    if (window_.members.fileName != settings_.firmware || !window_.btnFlash->isEnabled()) {
        verdict_.fail(QStringLiteral("the firmware file was not taken"));
        return false;
    }
    if (!settings_.screenshotAtStart.isEmpty())
        saveScreenshot(settings_.screenshotAtStart);
    print(QStringLiteral("Press %1").arg(window_.btnFlash->text()));
    window_.btnFlash->click();
    if (window_.members.flashState == FlashState::Idle) {
        verdict_.fail(QStringLiteral("the run did not start"));
        return false;
    }
    return true;
}

void UnattendedRun::onCaption(const QString& caption) {
    if (phase_ == Phase::Finished)
        return;
    print(caption);
    verdict_.onCaption(caption);
    if (!settings_.screenshotDuringRun.isEmpty() && !runScreenshotDue_ &&
        window_.members.flashState == FlashState::Sending &&
        window_.members.progressPercent >= settings_.screenshotPercent) {
        runScreenshotDue_ = true;
        // Out of the streamer's call: the window is drawn between two lines.
        QTimer::singleShot(0, this, [this] { saveScreenshot(settings_.screenshotDuringRun); });
    }
    if (verdict_.decided())
        windUp();
}

void UnattendedRun::onMessage(const MessageBoxRequest& request) {
    print(QStringLiteral("Message box: ") + forTerminal(request.text));
    verdict_.onMessage(request);
    if (verdict_.decided())
        windUp();
}

void UnattendedRun::watch() {
    const bool streaming = window_.streamer().isRunning();
    if (phase_ == Phase::Running && !verdict_.decided() &&
        window_.members.flashState == FlashState::Idle && !streaming) {
        verdict_.fail(QStringLiteral("the run ended without \"PROGRAMMED\""));
        windUp();
    }
    if (phase_ != Phase::WindingUp)
        return;
    const qsizetype logLength = window_.txtbuffer->length();
    if (logLength != lastLogLength_) {
        lastLogLength_ = logLength;
        quietClock_.start();
    }
    const bool settled = !streaming && quietClock_.elapsed() >= quietBeforeEndMs;
    if (settled || windUpClock_.elapsed() >= windUpLimitMs)
        finish();
}

void UnattendedRun::windUp() {
    if (phase_ == Phase::WindingUp || phase_ == Phase::Finished)
        return;
    phase_ = Phase::WindingUp;
    deadline_.stop();
    windUpClock_.start();
    quietClock_.start();
    lastLogLength_ = window_.txtbuffer->length();
    watchTimer_.start();
}

void UnattendedRun::finish() {
    phase_ = Phase::Finished;
    watchTimer_.stop();
    out_ << "--- log box ---\n" << forTerminal(window_.txtbuffer->Text());
    if (!window_.txtbuffer->Text().endsWith(QLatin1Char('\n')))
        out_ << '\n';
    out_ << "--- end of log box ---\n";
    if (verdict_.outcome() == RunOutcome::Programmed)
        print(QStringLiteral("Result: PROGRAMMED"));
    else
        print(QStringLiteral("Result: FAILED: ") + verdict_.reason());
    emit finished(exitCode());
}

void UnattendedRun::saveScreenshot(const QString& path) {
    if (window_.grab().save(path, "PNG")) {
        print(QStringLiteral("Saved the window to %1").arg(path));
        return;
    }
    screenshotFailed_ = true;
    print(QStringLiteral("Could not save the window to %1").arg(path));
}

void UnattendedRun::print(const QString& line) {
    out_ << elapsed() << "  " << line << Qt::endl;
}

QString UnattendedRun::elapsed() const {
    const double seconds = clock_.isValid() ? static_cast<double>(clock_.elapsed()) / 1000.0 : 0.0;
    return QStringLiteral("%1 s").arg(seconds, 7, 'f', 2);
}

} // namespace norvak::demo
