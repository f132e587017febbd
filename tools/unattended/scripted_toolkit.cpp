#include "tools/unattended/scripted_toolkit.h"

namespace norvak::unattended {

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
    if (isUnattended()) {
        sink_(request);
        return;
    }
    real_.showMessage(request);
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
    lastTimeOfDay_ = real_.timeOfDayText();
    return lastTimeOfDay_;
}

QString ScriptedToolkit::showInteractiveOpenDialog(const OpenDialogRequest& request) {
    return real_.showOpenDialog(request);
}

} // namespace norvak::unattended
