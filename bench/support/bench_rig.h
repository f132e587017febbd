#pragma once

// The real program on the real Qt event loop, as the benchmarks drive it: the main window
// with the real serial control on a given tty, boxes and file dialogs answered by a script.

#include "mainwindow/frmprog.h"
#include "mainwindow/window_controls.h"
#include "tools/simdevice/simdevice.h"
#include "tools/unattended/scripted_toolkit.h"

#include <QString>

#include <chrono>
#include <functional>
#include <memory>
#include <vector>

namespace norvak::bench {

// Where the interface thread's time went: in sleeps, and in yields to the event loop.
struct ToolkitTimes {
    std::chrono::nanoseconds asked{};    // sleep durations requested
    std::chrono::nanoseconds slept{};    // time actually spent in those sleeps
    std::chrono::nanoseconds late{};     // past the deadlines, summed over the sleeps that slept
    std::chrono::nanoseconds yielding{}; // outermost yields only: handlers yield again inside
    std::chrono::nanoseconds handlers{}; // of that, what the yields counted as handlers' time
    long sleeps = 0;
    long yields = 0;
};

// The scripted real toolkit, keeping account of its sleeps and yields. Nobody sits in front
// of it: message boxes are dropped and file dialogs answer what chooseFile() queued, unless a
// benchmark calls showAttended() to see the real modal boxes (and closes them itself).
class BenchToolkit final : public unattended::ScriptedToolkit {
public:
    BenchToolkit() { answerUnattended({}); }

    void sleepUntil(TimePoint deadline) override;
    TimePoint::duration yield() override;

    ToolkitTimes times;
    // An artificial handler: every `loadEvery`-th outermost yield keeps the thread busy for
    // `loadFor` (0: none).
    int loadEvery = 0;
    std::chrono::microseconds loadFor{0};

private:
    int yieldDepth_ = 0;
};

// When the program handed each piece to the serial control: the moment an Output call began
// and the moment it returned, and whether the piece was a line's LF.
struct OutputCall {
    std::chrono::steady_clock::time_point began;
    std::chrono::steady_clock::time_point returned;
    bool lineEnd = false;
};

// From each line's LF (its Output call returned) to the next line (its Output call began),
// in milliseconds: the pause as the program kept it, without the line's own jitter.
[[nodiscard]] std::vector<double> hostLineGaps(const std::vector<OutputCall>& calls);
// From each line's first piece (its Output call began) to its LF (that call returned), in
// milliseconds: what writing one line costs the program.
[[nodiscard]] std::vector<double> hostLineSpans(const std::vector<OutputCall>& calls);
// From the return of each LF's Output call to that LF's arrival at the device, in milliseconds:
// the n-th LF written is met with the n-th LF the device received from index `from` on. A gap
// at the device can fall short of the program's own only by this delay of the LF before it.
[[nodiscard]] std::vector<double> lineFeedDelays(const std::vector<OutputCall>& calls,
                                                 const SimRecording& recording, std::size_t from);

class ProgrammerRig {
public:
    // Port 1 of the window maps to `ttyPath`; the window is shown (offscreen) unless `shown`
    // is false, when nothing is ever painted.
    explicit ProgrammerRig(const QString& ttyPath, bool shown = true);
    ~ProgrammerRig();
    ProgrammerRig(const ProgrammerRig&) = delete;
    ProgrammerRig& operator=(const ProgrammerRig&) = delete;

    [[nodiscard]] frmProg& window() { return *window_; }
    [[nodiscard]] BenchToolkit& toolkit() { return toolkit_; }
    // Every Output call the program made, in order.
    [[nodiscard]] const std::vector<OutputCall>& outputCalls() const { return *outputCalls_; }
    // Every run end the window announced, in order.
    [[nodiscard]] const std::vector<RunEnding>& runEnds() const { return runEnds_; }
    [[nodiscard]] bool programmed() const;

    // Presses Connect; throws std::runtime_error with why when the port stays closed.
    void connectPort();
    void chooseFile(const QString& path);
    // Chooses an item of the speed list; -1 types into its field instead (no pause at all).
    void setSpeedItem(int index);
    // Presses START PROGRAMMING; throws std::runtime_error if no run starts.
    void start();

private:
    BenchToolkit toolkit_;
    std::shared_ptr<std::vector<OutputCall>> outputCalls_;
    std::vector<RunEnding> runEnds_;
    std::unique_ptr<frmProg> window_;
};

// Runs the event loop until `done` holds, checking every `interval`; false on timeout.
bool runEventsUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout,
                    std::chrono::milliseconds interval = std::chrono::milliseconds(20));
// Runs the event loop for `duration`.
void runEventsFor(std::chrono::milliseconds duration);

} // namespace norvak::bench
