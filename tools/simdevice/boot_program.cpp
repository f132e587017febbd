#include "tools/simdevice/boot_program.h"

#include "tools/simdevice/srecord.h"

#include <utility>

namespace norvak::detail {
namespace {

constexpr std::size_t maxLineLength = 1024; // longer than any S-record (514 characters)

std::string errorText(int line) {
    // Neither '.' nor 'P': the host takes those for a dot and the end of the run.
    return "\r\nE: bad line " + std::to_string(line) + "\r\n";
}

} // namespace

BootProgram::BootProgram(const SimDeviceConfig& config, SimRecording& recording, DevicePort& port)
    : config_(config)
    , rec_(recording)
    , port_(port) {}

void BootProgram::take(char byte, SimClock::time_point at) {
    rec_.received += byte;
    rec_.receivedAt.push_back(at);
    switch (rec_.mode) {
    case SimMode::Application:
        if (byte == 'i' && config_.autoPowerCycleAfter && !powerCycleAt_) {
            powerCycleAt_ = at + *config_.autoPowerCycleAfter;
        }
        break;
    case SimMode::BootCommand:
        if (byte == 'i') {
            answerPrompt(at);
        } else if (byte == 'f') {
            answer("_", at);
            startReceiving(at);
        }
        break;
    case SimMode::BootReceiving:
        if (busyUntil_) {
            receiveWhileBusy(byte);
        } else {
            takeLineByte(byte, std::exchange(overrun_, false), at);
        }
        break;
    case SimMode::HungUp:
        break;
    }
}

void BootProgram::powerCycle() {
    powerCycleAt_.reset();
    if (rec_.mode == SimMode::HungUp) {
        return;
    }
    reset();
}

void BootProgram::poweredOnWithNewLine() {
    powerCycleAt_.reset();
    reset();
}

void BootProgram::reset() {
    ++rec_.powerCycles;
    rec_.mode = SimMode::BootCommand;
    busyUntil_.reset();
    buffer_.clear();
    overrun_ = false;
    line_.clear();
    lineDamaged_ = false;
    port_.dropUnsent();
}

void BootProgram::lineGone() {
    rec_.mode = SimMode::HungUp;
    powerCycleAt_.reset();
    busyUntil_.reset();
}

std::optional<SimClock::time_point> BootProgram::nextTimer() const {
    if (powerCycleAt_ && busyUntil_) {
        return std::min(*powerCycleAt_, *busyUntil_);
    }
    return powerCycleAt_ ? powerCycleAt_ : busyUntil_;
}

void BootProgram::runTimer() {
    if (powerCycleAt_ && (!busyUntil_ || *powerCycleAt_ <= *busyUntil_)) {
        if (config_.powerCycleRemovesPortFor &&
            port_.removeLineFor(*config_.powerCycleRemovesPortFor)) {
            powerCycleAt_.reset(); // back on with the new line
            return;
        }
        powerCycle();
    } else if (busyUntil_) {
        finishLine(*busyUntil_);
    }
}

void BootProgram::answerPrompt(SimClock::time_point at) {
    char prompt = '>';
    while (config_.garbagePrompt && prompt == '>') {
        prompt = port_.randomByte();
    }
    answer(std::string_view(&prompt, 1), at);
}

void BootProgram::startReceiving(SimClock::time_point at) {
    rec_.mode = SimMode::BootReceiving;
    lineNumber_ = 0;
    line_.clear();
    lineDamaged_ = false;
    buffer_.clear();
    overrun_ = false;
    file_ = SimProgrammedFile{};
    file_.started = at;
}

void BootProgram::receiveWhileBusy(char byte) {
    if (buffer_.size() < config_.receiveBufferSize) {
        buffer_.push_back({byte, std::exchange(overrun_, false)});
    } else {
        ++rec_.lostBytes;
        ++file_.lostBytes;
        overrun_ = true;
    }
}

void BootProgram::takeLineByte(char byte, bool afterLoss, SimClock::time_point at) {
    lineDamaged_ = lineDamaged_ || afterLoss;
    if (byte == '\n') {
        completeLine(at);
    } else if (line_.size() < maxLineLength) {
        line_ += byte;
    } else {
        lineDamaged_ = true;
    }
}

void BootProgram::completeLine(SimClock::time_point at) {
    const int number = ++lineNumber_;
    std::string text = std::exchange(line_, {});
    const bool damaged = std::exchange(lineDamaged_, false);
    if (!text.empty() && text.back() == '\r') {
        text.pop_back();
    }
    const bool empty = text.empty() && !damaged;
    const SrecCheck check = empty ? SrecCheck{} : checkSrecLine(text);
    if (damaged || !check.ok()) {
        rec_.rejectedLines.push_back({number, std::move(text), at});
        ++file_.rejectedLines;
        answer(errorText(number), at);
        if (config_.hangUpAfterLine == number) {
            port_.hangUpWhenSent();
        }
        return;
    }
    if (!empty && check.record.type >= 1 && check.record.type <= 3) {
        ++file_.dataRecords;
        file_.dataBytes += check.record.data.size();
    }
    rec_.acceptedLines.push_back({number, std::move(text), at});
    pending_ = {number, !empty && isSrecTermination(check.record.type)};
    // With nothing to program the timer is due at once and the dot follows this byte.
    busyUntil_ =
        at + config_.slowDots + (empty ? SimClock::duration::zero() : config_.programmingTime);
}

void BootProgram::finishLine(SimClock::time_point at) {
    busyUntil_.reset();
    ++file_.lines;
    if (!config_.dotsStopAfterLine || pending_.number <= *config_.dotsStopAfterLine) {
        answer(".", at, true);
    }
    if (config_.hangUpAfterLine == pending_.number) {
        port_.hangUpWhenSent();
    }
    if (pending_.endRecord) {
        finishFile(at);
    } else {
        drainBuffer(at);
    }
}

void BootProgram::finishFile(SimClock::time_point at) {
    answer(simProgrammedMessage, at);
    file_.finished = at;
    rec_.programmedFiles.push_back(file_);
    rec_.mode = SimMode::Application;
    buffer_.clear();
}

void BootProgram::drainBuffer(SimClock::time_point at) {
    while (!busyUntil_ && rec_.mode == SimMode::BootReceiving && !buffer_.empty()) {
        const BufferedByte next = buffer_.front();
        buffer_.pop_front();
        takeLineByte(next.value, next.afterLoss, at);
    }
}

void BootProgram::answer(std::string_view bytes, SimClock::time_point at, bool dot) {
    if (!config_.silent) {
        port_.send(bytes, at, dot);
    }
}

} // namespace norvak::detail
