#pragma once

// A boot program reduced to what the reaction benchmark needs, as a state machine the caller
// feeds with bytes and their arrival times: after a power-on delay from the first "i" it
// answers "i" with ">", "f" with "_", each LF with "." and the end record's LF with ".P",
// then runs its application again (silent) until the next "i" starts another power-on.

#include <chrono>
#include <string>

namespace norvak::bench {

enum class ScriptEvent {
    None,
    Prompt,        // the first ">" of a boot
    ReadyRequest,  // the "f", answered with "_"
    FirstLineByte, // the first byte after the "_"
    Programmed,    // the end record's LF, answered with ".P"
};

struct ScriptStep {
    std::string answer; // to be written at once
    ScriptEvent event = ScriptEvent::None;
};

class BootScript {
public:
    using Clock = std::chrono::steady_clock;

    explicit BootScript(std::chrono::milliseconds powerOnDelay)
        : powerOnDelay_(powerOnDelay) {}

    // For the next power-on; the current one keeps its time.
    void setPowerOnDelay(std::chrono::milliseconds delay) { powerOnDelay_ = delay; }

    [[nodiscard]] ScriptStep take(char byte, Clock::time_point at);

private:
    enum class Mode { Application, BootCommand, Receiving };

    ScriptStep takeLineByte(char byte);

    std::chrono::milliseconds powerOnDelay_;
    Mode mode_ = Mode::Application;
    bool poweringOn_ = false;
    Clock::time_point powerOnAt_{};
    bool prompted_ = false;
    bool lineStarted_ = false; // a byte of the file has come since the "_"
    std::string line_;
};

} // namespace norvak::bench
