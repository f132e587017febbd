#include "tools/demo/demo_run.h"

#include "mainwindow/frmprog.h"
#include "mainwindow/logbox/logbox.h"
#include "mainwindow/window_controls.h"

#include <QPixmap>
#include <QTimer>

namespace norvak::demo {

namespace {

QString forTerminal(QString text) {
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return text;
}

unattended::RunPlan planFor(const RunSettings& settings) {
    return {.port = settings.port,
            .firmware = settings.firmware,
            .speedItem = settings.speedItem,
            .timeout = settings.timeout};
}

} // namespace

DemoRun::DemoRun(frmProg& window, DemoToolkit& toolkit, RunSettings settings, QTextStream& out)
    : window_(window)
    , settings_(std::move(settings))
    , out_(out)
    , driver_(window, toolkit, planFor(settings_)) {
    connect(&driver_, &unattended::RunDriver::step, this, &DemoRun::print);
    connect(&driver_, &unattended::RunDriver::aboutToStart, this, [this] {
        if (!settings_.screenshotAtStart.isEmpty()) {
            saveScreenshot(settings_.screenshotAtStart);
        }
    });
    connect(&driver_, &unattended::RunDriver::captionChanged, this, &DemoRun::onCaption);
    connect(&driver_, &unattended::RunDriver::messageShown, this, [this](const QString& text) {
        print(QStringLiteral("Message box: ") + forTerminal(text));
    });
    connect(&driver_, &unattended::RunDriver::finished, this, &DemoRun::finish);
}

void DemoRun::start() {
    clock_.start();
    driver_.start();
}

int DemoRun::exitCode() const {
    const int code = verdict().exitCode();
    return code == 0 && screenshotFailed_ ? 2 : code;
}

void DemoRun::onCaption(const QString& caption) {
    print(caption);
    if (!settings_.screenshotDuringRun.isEmpty() && !runScreenshotDue_ &&
        window_.shared().flashState == FlashState::Sending &&
        window_.shared().progressPercent >= settings_.screenshotPercent) {
        runScreenshotDue_ = true;
        // Out of the streamer's call: the window is drawn between two lines.
        QTimer::singleShot(0, this, [this] { saveScreenshot(settings_.screenshotDuringRun); });
    }
}

void DemoRun::finish() {
    out_ << "--- log box ---\n" << forTerminal(WindowControls::of(window_).logBox.Text());
    if (!WindowControls::of(window_).logBox.Text().endsWith(QLatin1Char('\n'))) {
        out_ << '\n';
    }
    out_ << "--- end of log box ---\n";
    if (verdict().outcome() == RunOutcome::Programmed) {
        print(QStringLiteral("Result: PROGRAMMED"));
    } else {
        print(QStringLiteral("Result: FAILED: ") + verdict().reason());
    }
    emit finished(exitCode());
}

void DemoRun::saveScreenshot(const QString& path) {
    if (window_.grab().save(path, "PNG")) {
        print(QStringLiteral("Saved the window to %1").arg(path));
        return;
    }
    screenshotFailed_ = true;
    print(QStringLiteral("Could not save the window to %1").arg(path));
}

void DemoRun::print(const QString& line) {
    out_ << elapsed() << "  " << line << Qt::endl;
}

QString DemoRun::elapsed() const {
    const double seconds = clock_.isValid() ? static_cast<double>(clock_.elapsed()) / 1000.0 : 0.0;
    return QStringLiteral("%1 s").arg(seconds, 7, 'f', 2);
}

} // namespace norvak::demo
