// Flooding: the simulated device sends lines of printable text with CR LF (none of the
// protocol's characters among them) at 0.1, 0.4 and 1 MB/s, while the program is connected
// and idle, and again while it sends a file at "20  - fastest" (the flood then carries the
// device's dots and its "P"). The window is shown on Qt's offscreen platform, which paints
// it into memory as a screen would; no X server takes part.
//
// Figures, over the flood only:
//  - event-loop latency: a 10 ms single-shot probe timer, rescheduled from its own tick; the
//    latency is how late each tick comes (p50, p99);
//  - Help: a thread posts a mouse click on Help about once a second; the time from the post
//    to the help box's Show event (p50, p99), the box then stays open for 100 ms, receiving
//    under it;
//  - CPU: the process (getrusage) less the simulated device's thread, over wall time;
//  - memory: resident size growth over the flood per character received (the log box keeps
//    2 bytes a character of its own);
//  - characters missing or wrong: the log box against what the device sent, all along;
//  - during a run: whether the run ended "PROGRAMMED".
// Each flood runs in a child process of its own, so that memory and CPU figures start clean.
// A first run without a flood shows what the machine itself adds to the latencies.

#include "bench/support/bench_report.h"
#include "bench/support/bench_rig.h"
#include "bench/support/firmware_files.h"
#include "bench/support/process_stats.h"
#include "bench/support/recording_analysis.h"
#include "tools/simdevice/simdevice.h"

#include "mainwindow/logbox/logbox.h"

#include <QApplication>
#include <QMessageBox>
#include <QMouseEvent>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

using namespace norvak;
using namespace norvak::bench;
using namespace std::chrono_literals;

namespace {

using Clock = std::chrono::steady_clock;

double percentile(std::vector<double> values, double p) {
    if (values.empty()) {
        return std::nan("");
    }
    std::sort(values.begin(), values.end());
    const auto rank =
        static_cast<std::size_t>(std::ceil(p / 100.0 * static_cast<double>(values.size())));
    return values[std::clamp<std::size_t>(rank, 1, values.size()) - 1];
}

double millis(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

std::optional<long> newThread(const std::vector<long>& before) {
    std::vector<long> added;
    for (const long id : threadIds()) {
        if (std::find(before.begin(), before.end(), id) == before.end()) {
            added.push_back(id);
        }
    }
    return added.size() == 1 ? std::optional(added.front()) : std::nullopt;
}

// Clicks on Help from a thread of its own, about once a second, as an operator's clicks come
// from the window system whatever the interface thread is doing; the help box's Show event
// closes each click's wait.
class HelpClicker final : public QObject {
public:
    explicit HelpClicker(QPushButton& help)
        : help_(help) {
        qApp->installEventFilter(this);
    }
    ~HelpClicker() override { stop(); }
    HelpClicker(const HelpClicker&) = delete;
    HelpClicker& operator=(const HelpClicker&) = delete;

    void start() {
        thread_ = std::jthread([this](const std::stop_token& stop) { run(stop); });
    }
    void stop() {
        thread_ = {};
        qApp->removeEventFilter(this);
    }
    // Latencies in ms; a click not answered by a box counts as missed.
    [[nodiscard]] std::vector<double> latencies() const {
        const std::scoped_lock lock(mutex_);
        return latencies_;
    }
    [[nodiscard]] std::size_t missed() const {
        const std::scoped_lock lock(mutex_);
        return clicks_.size() - answered_;
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != QEvent::Show) {
            return false;
        }
        auto* box = qobject_cast<QMessageBox*>(watched);
        if (box == nullptr) {
            return false;
        }
        const auto shown = Clock::now();
        {
            const std::scoped_lock lock(mutex_);
            if (answered_ < clicks_.size()) {
                latencies_.push_back(millis(shown - clicks_[answered_++]));
            }
        }
        QTimer::singleShot(100ms, box, [box] { box->done(QMessageBox::Ok); });
        return false;
    }

private:
    void run(const std::stop_token& stop) {
        std::mt19937 random(3);
        std::uniform_int_distribution<int> gap(800, 1200);
        while (!stop.stop_requested()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(gap(random)));
            if (stop.stop_requested()) {
                break;
            }
            const QPointF inside(help_.width() / 2.0, help_.height() / 2.0);
            const QPointF global = help_.mapToGlobal(inside);
            {
                const std::scoped_lock lock(mutex_);
                clicks_.push_back(Clock::now());
            }
            QCoreApplication::postEvent(&help_, new QMouseEvent(QEvent::MouseButtonPress, inside,
                                                                global, Qt::LeftButton,
                                                                Qt::LeftButton, Qt::NoModifier));
            QCoreApplication::postEvent(&help_, new QMouseEvent(QEvent::MouseButtonRelease, inside,
                                                                global, Qt::LeftButton,
                                                                Qt::NoButton, Qt::NoModifier));
        }
    }

    QPushButton& help_;
    mutable std::mutex mutex_;
    std::vector<Clock::time_point> clicks_;
    std::size_t answered_ = 0;
    std::vector<double> latencies_;
    std::jthread thread_;
};

// Checks the log box against what the device sent, as both grow, so that neither the
// device's recording nor a copy of the log box piles up.
class OrderCheck {
public:
    void take(const SimRecording& recording) { pending_ += recording.sent; }
    void check(const LogBox& log) {
        const qsizetype shown = log.length() - checked_;
        const auto count = std::min<qsizetype>(shown, static_cast<qsizetype>(pending_.size()));
        if (count <= 0) {
            return;
        }
        const QString got = log.document().mid(checked_, count);
        differences_ += countDifferences(QString::fromLatin1(pending_.data(), count), got);
        pending_.erase(0, static_cast<std::size_t>(count));
        checked_ += count;
    }
    [[nodiscard]] qsizetype checked() const { return checked_; }
    // Everything the device has sent so far stands in the log box.
    [[nodiscard]] bool caughtUp(const LogBox& log) const {
        return pending_.empty() && log.length() == checked_;
    }
    [[nodiscard]] qsizetype differences(const LogBox& log) const {
        // Bytes sent that never reached the log box, or characters the device never sent.
        return differences_ + static_cast<qsizetype>(pending_.size()) + (log.length() - checked_);
    }

private:
    std::string pending_;
    qsizetype checked_ = 0;
    qsizetype differences_ = 0;
};

struct Scenario {
    double megabytesPerSecond = 1;
    bool duringRun = false;
    std::chrono::seconds duration{60};
};

std::string scenarioName(const Scenario& s) {
    char rate[16];
    std::snprintf(rate, sizeof rate, "%g", s.megabytesPerSecond);
    const std::string what = s.megabytesPerSecond == 0 ? std::string("No flood")
                                                       : std::string("Flood ") + rate + " MB/s";
    return what + " " + (s.duringRun ? "during a run" : "idle") + ", " +
           std::to_string(s.duration.count()) + " s";
}

// A 10 ms single-shot timer, rescheduled from its own tick: how late each tick comes.
class LatencyProbe {
public:
    LatencyProbe() {
        timer_.setSingleShot(true);
        timer_.setTimerType(Qt::PreciseTimer);
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            const auto now = Clock::now();
            latencies_.push_back(millis(now - due_));
            scheduleFrom(now);
        });
    }
    void start() { scheduleFrom(Clock::now()); }
    void stop() { timer_.stop(); }
    [[nodiscard]] const std::vector<double>& latencies() const { return latencies_; }

private:
    void scheduleFrom(Clock::time_point now) {
        due_ = now + kPeriod;
        timer_.start(kPeriod);
    }

    static constexpr auto kPeriod = 10ms;
    QTimer timer_;
    Clock::time_point due_;
    std::vector<double> latencies_;
};

// What the process has used so far; two of them give the flood's share.
struct Usage {
    Clock::time_point wall;
    Seconds process{};
    Seconds device{};
    double resident = 0;
    qsizetype logLength = 0;
};

// Figures over the flood, from the usage before and after it.
struct FloodUsage {
    Seconds wall{};
    Seconds programCpu{}; // the process less the simulated device's thread
    Seconds deviceCpu{};
    double residentGrowth = 0;
    double received = 0; // characters the log box gained
};

FloodUsage usageBetween(const Usage& before, const Usage& after) {
    const Seconds device = after.device - before.device;
    return {after.wall - before.wall, after.process - before.process - device, device,
            after.resident - before.resident,
            static_cast<double>(after.logLength - before.logLength)};
}

SimDeviceConfig floodDeviceConfig(const Scenario& scenario) {
    SimDeviceConfig config;
    config.paced = false; // the flood keeps its own pace; a baud rate would cap it
    if (scenario.duringRun) {
        config.autoPowerCycleAfter = 300ms;
    }
    return config;
}

bool isFloodCharacter(char c) {
    return c != '.' && c != '>' && c != '_';
}

// One flood against one window, measured from its start to the moment everything the device
// sent stands in the log box (or, without a flood, for the scenario's duration).
class FloodRun {
public:
    explicit FloodRun(const Scenario& scenario)
        : scenario_(scenario)
        , threadsBefore_(threadIds())
        , device_(floodDeviceConfig(scenario))
        , deviceThread_(newThread(threadsBefore_))
        , rig_(QString::fromStdString(device_.slavePath()))
        , log_(WindowControls::of(rig_.window()).logBox)
        , clicker_(WindowControls::of(rig_.window()).helpButton)
        , total_(static_cast<std::size_t>(scenario.megabytesPerSecond * 1e6 *
                                          static_cast<double>(scenario.duration.count()))) {}

    int run() {
        rig_.toolkit().showAttended(); // the help boxes show, and are closed below
        rig_.connectPort();
        if (scenario_.duringRun) {
            startProgramming();
        }
        watchUntilDone();
        printResults();
        return 0;
    }

private:
    void startProgramming() {
        // Longer than the flood at about 21 ms a line, Help's boxes included.
        const QString firmware = dir_.filePath(QStringLiteral("long.srec"));
        writeSrecLines(firmware, scenario_.duration.count() * 60 + 600);
        rig_.chooseFile(firmware);
        rig_.setSpeedItem(0);
        rig_.start();
    }

    void watchUntilDone() {
        // Everything is driven from here: a run sends its file inside nested event loops.
        QTimer watch;
        watch.setInterval(50ms);
        QObject::connect(&watch, &QTimer::timeout, [this] { watchTick(); });
        watch.start();
        runEventsUntil(
            [this] {
                return floodDone_ && (!scenario_.duringRun ||
                                      rig_.window().shared().flashState == FlashState::Idle);
            },
            scenario_.duration * 3 + 120s, 50ms);
        watch.stop();
        order_.take(device_.takeRecording());
        order_.check(log_);
        if (!floodDone_) {
            printNote(scenarioName(scenario_) + ": the flood did not end in time");
            endFlood();
        }
    }

    void watchTick() {
        if (!started_ &&
            (!scenario_.duringRun || rig_.window().shared().flashState == FlashState::Sending)) {
            started_ = true;
            startFlood();
        }
        const SimRecording recording = device_.takeRecording();
        order_.take(recording);
        order_.check(log_);
        if (!started_ || floodDone_) {
            return;
        }
        floodSent_ += static_cast<std::size_t>(
            std::count_if(recording.sent.begin(), recording.sent.end(), isFloodCharacter));
        const bool allShown = total_ > 0 && floodSent_ >= total_ && order_.caughtUp(log_);
        const bool baselineOver = total_ == 0 && Clock::now() - before_.wall >= scenario_.duration;
        if (allShown || baselineOver) {
            endFlood();
        }
    }

    [[nodiscard]] Usage usageNow() const {
        const Seconds device =
            deviceThread_ ? Seconds(threadCpuTime(*deviceThread_).value_or(0ns)) : Seconds{0};
        return {Clock::now(), processCpuTime(), device, statusBytes("VmRSS").value_or(std::nan("")),
                log_.length()};
    }

    void startFlood() {
        before_ = usageNow();
        if (total_ > 0) {
            device_.textFlood(scenario_.megabytesPerSecond * 1e6, total_);
        }
        probe_.start();
        clicker_.start();
    }

    void endFlood() {
        usage_ = usageBetween(before_, usageNow());
        floodDone_ = true;
        probe_.stop();
        clicker_.stop();
    }

    void printResults() const {
        const std::string name = scenarioName(scenario_);
        const std::vector<double>& probes = probe_.latencies();
        const std::vector<double> help = clicker_.latencies();
        const double cpuPercent = usage_.programCpu / usage_.wall * 100.0;
        if (total_ == 0) {
            // The same probes without a flood: what the machine itself adds.
            printInfo(name + ": event-loop latency p50", percentile(probes, 50), "ms");
            printInfo(name + ": event-loop latency p99", percentile(probes, 99), "ms");
            printInfo(name + ": Help click to box shown p50", percentile(help, 50), "ms");
            printInfo(name + ": Help click to box shown p99", percentile(help, 99), "ms");
            printInfo(name + ": CPU of the program, % of one core", cpuPercent, "%");
            return;
        }
        printFigure(name + ": event-loop latency p50", percentile(probes, 50), "ms", atMost(100));
        printFigure(name + ": event-loop latency p99", percentile(probes, 99), "ms", atMost(100));
        printFigure(name + ": Help click to box shown p50", percentile(help, 50), "ms",
                    atMost(100));
        printFigure(name + ": Help click to box shown p99", percentile(help, 99), "ms",
                    atMost(100));
        printFigure(name + ": Help clicks without a box", static_cast<double>(clicker_.missed()),
                    "clicks", atMost(0));
        printFigure(name + ": CPU of the program, % of one core", cpuPercent, "%", atMost(30));
        printFigure(name + ": memory growth per character received",
                    usage_.residentGrowth / usage_.received, "B/char", atMost(3));
        printFigure(name + ": characters missing or wrong in the log box",
                    static_cast<double>(order_.differences(log_)), "chars", atMost(0));
        if (scenario_.duringRun) {
            printFigure(name + ": the run ended PROGRAMMED", rig_.programmed() ? 1 : 0, "yes=1",
                        atLeast(1));
        }
        printInfo(name + ": characters received per second", usage_.received / usage_.wall.count(),
                  "1/s");
        printInfo(name + ": simulated device thread, % of one core",
                  usage_.deviceCpu / usage_.wall * 100.0, "%");
    }

    const Scenario scenario_;
    const std::vector<long> threadsBefore_;
    SimDevice device_;
    const std::optional<long> deviceThread_;
    ProgrammerRig rig_;
    LogBox& log_;
    QTemporaryDir dir_;
    OrderCheck order_;
    HelpClicker clicker_;
    LatencyProbe probe_;
    const std::size_t total_;
    std::size_t floodSent_ = 0;
    bool started_ = false;
    bool floodDone_ = false;
    Usage before_;
    FloodUsage usage_;
};

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    const QApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    const qsizetype scenarioAt = args.indexOf(QStringLiteral("--scenario"));
    if (scenarioAt >= 0 && scenarioAt + 3 < args.size()) {
        Scenario scenario;
        scenario.megabytesPerSecond = args[scenarioAt + 1].toDouble();
        scenario.duringRun = args[scenarioAt + 2] == QStringLiteral("run");
        scenario.duration = std::chrono::seconds(args[scenarioAt + 3].toInt());
        return FloodRun(scenario).run();
    }

    const Options options = parseOptions(argc, argv);
    const int seconds = options.quick ? 10 : 60;
    printHeader();
    const std::vector<std::pair<double, bool>> floods = {
        {0, false}, {0.1, false}, {0.4, false}, {1, false}, {0.1, true}, {0.4, true}, {1, true}};
    for (const auto& [rate, duringRun] : floods) {
        {
            QProcess child;
            child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
            child.start(QCoreApplication::applicationFilePath(),
                        {QStringLiteral("--scenario"), QString::number(rate),
                         duringRun ? QStringLiteral("run") : QStringLiteral("idle"),
                         QString::number(seconds)});
            if (!child.waitForFinished(-1) || child.exitCode() != 0) {
                printNote("a flood run ended abnormally");
            }
            std::fputs(child.readAllStandardOutput().constData(), stdout);
            std::fflush(stdout);
        }
    }
    return 0;
}
