#include "tools/unattended/scripted_toolkit.h"

#include <utility>

namespace norvak::unattended {

void ScriptedToolkit::answerUnattended(MessageSink sink) {
    unattended_ = true;
    sink_ = std::move(sink);
}

void ScriptedToolkit::showAttended(MessageSink watcher) {
    unattended_ = false;
    sink_ = std::move(watcher);
}

std::unique_ptr<Timer> ScriptedToolkit::makeTimer(Milliseconds interval) {
    return real_.makeTimer(interval);
}

void ScriptedToolkit::sleepUntil(TimePoint deadline) {
    real_.sleepUntil(deadline);
}

TimePoint::duration ScriptedToolkit::yield() {
    return real_.yield();
}

void ScriptedToolkit::showMessage(const MessageBoxRequest& request) {
    // Taken as they stand now: the sink may change them while it runs (one that runs the event
    // loop, as a modal box does, can end the script).
    const bool unattended = unattended_;
    if (const MessageSink sink = sink_) {
        sink(request);
    }
    if (!unattended) {
        real_.showMessage(request);
    }
}

QString ScriptedToolkit::showOpenDialog(const OpenDialogRequest& request) {
    if (!dialogAnswers_.empty()) {
        QString answer = dialogAnswers_.front();
        dialogAnswers_.pop_front();
        return answer;
    }
    if (isUnattended()) {
        return request.previousPath;
    }
    return showInteractiveOpenDialog(request);
}

QString ScriptedToolkit::timeOfDayText() {
    return real_.timeOfDayText();
}

QString ScriptedToolkit::showInteractiveOpenDialog(const OpenDialogRequest& request) {
    return real_.showOpenDialog(request);
}

} // namespace norvak::unattended
