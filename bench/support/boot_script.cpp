#include "bench/support/boot_script.h"

#include <utility>

namespace norvak::bench {

ScriptStep BootScript::take(char byte, Clock::time_point at) {
    switch (mode_) {
    case Mode::Application:
        if (byte != 'i') {
            return {};
        }
        if (!poweringOn_) {
            poweringOn_ = true;
            powerOnAt_ = at + powerOnDelay_;
        }
        if (at < powerOnAt_) {
            return {};
        }
        poweringOn_ = false;
        mode_ = Mode::BootCommand;
        prompted_ = false;
        [[fallthrough]];
    case Mode::BootCommand:
        if (byte == 'i') {
            const bool first = !std::exchange(prompted_, true);
            return {">", first ? ScriptEvent::Prompt : ScriptEvent::None};
        }
        if (byte == 'f') {
            mode_ = Mode::Receiving;
            lineStarted_ = false;
            line_.clear();
            return {"_", ScriptEvent::ReadyRequest};
        }
        return {};
    case Mode::Receiving:
        return takeLineByte(byte);
    }
    return {};
}

ScriptStep BootScript::takeLineByte(char byte) {
    const bool first = !std::exchange(lineStarted_, true);
    ScriptStep step{{}, first ? ScriptEvent::FirstLineByte : ScriptEvent::None};
    if (byte != '\n') {
        line_ += byte;
        return step;
    }
    const bool endRecord =
        line_.size() >= 2 && line_[0] == 'S' && line_[1] >= '7' && line_[1] <= '9';
    line_.clear();
    step.answer = endRecord ? ".P" : ".";
    if (endRecord) {
        mode_ = Mode::Application;
        step.event = ScriptEvent::Programmed;
    }
    return step;
}

} // namespace norvak::bench
