#pragma once

// The real toolkit (Qt timers, real sleep, the Qt event loop) with message boxes and file
// dialogs answered by the test, for end-to-end runs with real bytes on a real tty.

#include "mainwindow/qt_toolkit.h"

#include <deque>
#include <functional>
#include <vector>

namespace norvak::test {

class AnsweringToolkit final : public Toolkit {
public:
    [[nodiscard]] std::unique_ptr<Timer> makeTimer(Milliseconds interval) override {
        return real_.makeTimer(interval);
    }
    void sleepUntil(TimePoint deadline) override { real_.sleepUntil(deadline); }
    TimePoint::duration yield() override { return real_.yield(); }
    void showMessage(const MessageBoxRequest& request) override {
        messages.push_back(request);
        if (whileShown) {
            whileShown(request);
        }
    }
    [[nodiscard]] QString showOpenDialog(const OpenDialogRequest& request) override {
        if (dialogAnswers.empty()) {
            return request.previousPath;
        }
        QString answer = dialogAnswers.front();
        dialogAnswers.pop_front();
        return answer;
    }
    [[nodiscard]] QString timeOfDayText() override { return real_.timeOfDayText(); }

    std::vector<MessageBoxRequest> messages;
    // Runs while a box is "open": a test can run the event loop there, as a modal box does.
    std::function<void(const MessageBoxRequest&)> whileShown;
    std::deque<QString> dialogAnswers;

private:
    QtToolkit real_;
};

} // namespace norvak::test
