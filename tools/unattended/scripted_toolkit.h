#pragma once

// The real toolkit, whose message boxes and file dialogs a script can answer: for programs
// that drive the window offscreen (the demo's unattended run, norvak-flash-cli). Until a
// script takes them over, boxes and dialogs show as the real toolkit shows them.

#include "mainwindow/qt_toolkit.h"

#include <QString>

#include <deque>
#include <functional>

namespace norvak::unattended {

class ScriptedToolkit : public Toolkit {
public:
    using MessageSink = std::function<void(const MessageBoxRequest&)>;

    ScriptedToolkit() = default;

    // From now on nothing modal shows: message boxes go to `sink` and return at once, and
    // file dialogs return the answers queued for them, or cancel when there is none.
    void answerUnattended(MessageSink sink) { sink_ = std::move(sink); }
    [[nodiscard]] bool isUnattended() const { return static_cast<bool>(sink_); }
    // The next file dialog returns `path` without showing itself.
    void answerNextOpenDialog(const QString& path) { dialogAnswers_.push_back(path); }

    [[nodiscard]] std::unique_ptr<Timer> makeTimer(Milliseconds interval) override;
    void sleepUntil(TimePoint deadline) override;
    TimePoint::duration yield() override;
    void showMessage(const MessageBoxRequest& request) final;
    [[nodiscard]] QString showOpenDialog(const OpenDialogRequest& request) final;
    [[nodiscard]] QString timeOfDayText() override;
    // The time of day last handed to the window (it starts the error caption's description).
    [[nodiscard]] const QString& lastTimeOfDayText() const { return lastTimeOfDay_; }

protected:
    // The dialog an operator sees while no script answers it.
    [[nodiscard]] virtual QString showInteractiveOpenDialog(const OpenDialogRequest& request);

private:
    QtToolkit real_;
    MessageSink sink_;
    std::deque<QString> dialogAnswers_;
    QString lastTimeOfDay_;
};

} // namespace norvak::unattended
