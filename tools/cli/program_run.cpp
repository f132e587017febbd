#include "program_run.h"

#include "check_report.h"
#include "observing_serial.h"
#include "port_route.h"
#include "run_driver.h"
#include "scripted_toolkit.h"
#include "signal_watcher.h"
#include "srec_check.h"

#include "devicenotify/usb_notification.h"
#include "link/control/mscomm.h"
#include "mainwindow/frmprog.h"
#include "programming/firmware_streamer.h"

#include <QApplication>
#include <QFileInfo>

#include <optional>

#ifdef Q_OS_WIN
#include <io.h>
#define isatty _isatty
#define fileno _fileno
#else
#include <unistd.h>
#endif

namespace norvak::cli {

namespace {

using unattended::RunOutcome;

// The port box number typed for --device: the route sends it to the path.
constexpr int devicePortNumber = 1;

const QString errorCaptionStart = QStringLiteral("Connect:   Error ");

RunReporter::Style styleFor(const CliOptions& options, std::FILE* out) {
    if (options.json) {
        return RunReporter::Style::Json;
    }
    return ::isatty(::fileno(out)) != 0 ? RunReporter::Style::Terminal : RunReporter::Style::Plain;
}

void writeText(std::FILE* file, const QString& text) {
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, static_cast<std::size_t>(bytes.size()), file);
    std::fflush(file);
}

// The description part of an error caption's status: after "Connect:   Error " and the time.
QString portDescription(const QString& status, const QString& timeOfDay) {
    if (!status.startsWith(errorCaptionStart)) {
        return status;
    }
    const QString rest = status.mid(errorCaptionStart.size());
    return !timeOfDay.isEmpty() && rest.startsWith(timeOfDay) ? rest.mid(timeOfDay.size()) : rest;
}

// Ends the run before any window when the file cannot be read or, with --check, holds bad
// records; nothing when it may be sent.
std::optional<int> refuseUnfitFile(const CliOptions& options, RunReporter::Style style,
                                   std::FILE* out, std::FILE* err) {
    const auto refuseUnreadable = [&](const QString& why) {
        RunReporter(style, out, err)
            .end({exit_status::fileUnreadable, QStringLiteral("file-unreadable"), why,
                  QStringLiteral("cannot read the firmware: ") + why});
        return exit_status::fileUnreadable;
    };
    if (const auto why = whyUnreadable(options.file)) {
        return refuseUnreadable(*why);
    }
    if (!options.check) {
        return std::nullopt;
    }
    SrecReport report;
    try {
        // The run's signal watcher does not exist yet: a large file is read with SIGINT and
        // SIGTERM blocked, so the check looks for them itself.
        report = checkSrecFile(options.file, terminationSignalPending);
    } catch (const FileReadError& e) {
        return refuseUnreadable(QString::fromStdString(e.what()));
    } catch (const CheckInterrupted&) {
        RunReporter(style, out, err)
            .end({exit_status::interrupted, QStringLiteral("interrupted"),
                  QStringLiteral("Interrupted"),
                  QStringLiteral("interrupted during the check: nothing was sent.")});
        return exit_status::interrupted;
    }
    if (report.clean()) {
        return std::nullopt;
    }
    writeText(err, problemsText(options.file, report));
    RunReporter(style, out, err)
        .end({exit_status::badRecords, QStringLiteral("bad-records"),
              QStringLiteral("%1 problems in %2").arg(report.problemCount).arg(options.file),
              QStringLiteral("the file was not sent: mend the records named above.")});
    return exit_status::badRecords;
}

// Tells the reporter what the run does as the window shows it.
void reportRunSteps(unattended::RunDriver& driver, RunReporter& reporter, const frmProg& window) {
    QObject::connect(&driver, &unattended::RunDriver::step, &driver,
                     [&reporter](const QString& action) { reporter.step(action); });
    QObject::connect(&driver, &unattended::RunDriver::captionChanged, &driver,
                     [&reporter, &window](const QString& caption) {
                         const QString status = unattended::statusPart(caption);
                         if (status.startsWith(QStringLiteral("progress: "))) {
                             reporter.progress(window.shared().progressPercent, caption);
                         } else {
                             reporter.caption(caption, status);
                         }
                     });
    QObject::connect(&driver, &unattended::RunDriver::buttonChanged, &driver,
                     [&reporter, prompted = false](const QString& caption) mutable {
                         reporter.button(caption);
                         if (!prompted && caption.startsWith(QStringLiteral("Waiting restart: "))) {
                             prompted = true;
                             reporter.prompt(QStringLiteral(
                                 "Switch the device off and on now: its boot program must answer "
                                 "before the countdown runs out."));
                         }
                     });
    QObject::connect(
        &driver, &unattended::RunDriver::messageShown, &driver,
        [&reporter](const QString& text, bool critical) { reporter.message(text, critical); });
}

} // namespace

RunEnd runEnd(const unattended::RunVerdict& verdict, const QString& portDescription) {
    switch (verdict.outcome()) {
    case RunOutcome::Programmed:
        return {exit_status::ok, QStringLiteral("programmed"), QStringLiteral("PROGRAMMED"), {}};
    case RunOutcome::NoBootProgram:
        return {exit_status::noBootProgram, QStringLiteral("no-boot-program"),
                QStringLiteral("Restart to bootprogram failled!"),
                QStringLiteral("no boot program answered before the countdown ran out. Switch "
                               "the device off and on after the run has started, and check the "
                               "cable and the port.")};
    case RunOutcome::DotTimeout:
        return {exit_status::dotTimeout, QStringLiteral("dot-timeout"),
                QStringLiteral("Programming FAILLED"),
                QStringLiteral("the device stopped acknowledging lines (no \".\" for 3 seconds). "
                               "Check the file with 'norvak-flash-cli check', try a slower "
                               "--speed, then switch the device off and on and program it "
                               "again.")};
    case RunOutcome::PortFailed:
        return {exit_status::portFailed, QStringLiteral("port-failed"), portDescription,
                portDescription + QStringLiteral(" 'norvak-flash-cli ports' lists the ports.")};
    case RunOutcome::FileUnreadable:
        return {exit_status::fileUnreadable, QStringLiteral("file-unreadable"), verdict.reason(),
                verdict.reason() +
                    QStringLiteral(". Nothing more was sent: make the file readable, then switch "
                                   "the device off and on and program it again.")};
    case RunOutcome::Interrupted:
        return {exit_status::interrupted, QStringLiteral("interrupted"),
                QStringLiteral("Interrupted"),
                QStringLiteral("interrupted: the run was cancelled and the port closed. Switch "
                               "the device off and on and program it again.")};
    case RunOutcome::Running:
    case RunOutcome::Failed:
    case RunOutcome::TimedOut:
        break;
    }
    return {exit_status::dotTimeout, QStringLiteral("failed"), verdict.reason(),
            QStringLiteral("programming failed: ") + verdict.reason()};
}

int runProgram(const CliOptions& options, int& argc, char** argv, std::FILE* out, std::FILE* err) {
    const RunReporter::Style style = styleFor(options, out);
    if (const auto refused = refuseUnfitFile(options, style, out, err)) {
        return *refused;
    }

    // Offscreen whatever the desktop: the window is never shown to anyone.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("norvak-flash-cli"));
    SignalWatcher signalWatcher;
    RunReporter reporter(style, out, err);

    unattended::ScriptedToolkit toolkit;
    const bool byDevice = !options.device.isEmpty();
    const int port = byDevice ? devicePortNumber : *options.port;
    auto control =
        std::make_unique<MSComm>(toolkit, byDevice ? unattended::withDeviceAt(port, options.device)
                                                   : defaultPortCandidates());
    auto observed = std::make_unique<unattended::ObservingSerial>(
        std::move(control), [&reporter](const QByteArray& bytes) { reporter.received(bytes); });
    frmProg window(toolkit, std::move(observed), devicenotify::nativeUsbPlatform());
    window.show();

    const QString firmware = QFileInfo(options.file).absoluteFilePath();
    unattended::RunDriver driver(
        window, toolkit, {.port = port, .firmware = firmware, .speedItem = options.speedItem()});
    reportRunSteps(driver, reporter, window);
    QObject::connect(&signalWatcher, &SignalWatcher::terminationRequested, &driver,
                     [&driver] { driver.interrupt(); });

    int status = exit_status::dotTimeout;
    QObject::connect(&driver, &unattended::RunDriver::finished, &driver, [&] {
        const QString description =
            portDescription(driver.verdict().reason(), toolkit.lastTimeOfDayText());
        const RunEnd end = runEnd(driver.verdict(), description);
        status = end.exitStatus;
        reporter.end(end);
        window.close();
    });
    QObject::connect(&window, &frmProg::closed, &app, &QCoreApplication::quit);
    driver.start();
    QApplication::exec();
    return status;
}

} // namespace norvak::cli
