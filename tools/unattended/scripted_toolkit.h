#pragma once

// The real toolkit, whose message boxes and file dialogs a script can answer: the one that
// every program driving the window on the real event loop uses (the demo, norvak-flash-cli,
// the end-to-end tests, the benchmarks). Until a script takes them over, boxes and dialogs
// show as the real toolkit shows them.

#include "mainwindow/qt_toolkit.h"

#include <QString>

#include <deque>
#include <functional>

namespace norvak::unattended {

class ScriptedToolkit : public Toolkit {
public:
    using MessageSink = std::function<void(const MessageBoxRequest&)>;

    ScriptedToolkit() = default;

    // From now on nothing modal shows: message boxes go to `sink` (if it is set) and return
    // at once, and file dialogs return the answers queued for them, or cancel when there is
    // none.
    void answerUnattended(MessageSink sink);
    // From now on boxes and dialogs show as the real toolkit shows them, as at the start;
    // each message box is first handed to `watcher` (if it is set).
    void showAttended(MessageSink watcher = {});
    [[nodiscard]] bool isUnattended() const { return unattended_; }
    // The next file dialog returns `path` without showing itself.
    void answerNextOpenDialog(const QString& path) { dialogAnswers_.push_back(path); }

    [[nodiscard]] std::unique_ptr<Timer> makeTimer(Milliseconds interval) override;
    void sleepUntil(TimePoint deadline) override;
    TimePoint::duration yield() override;
    void showMessage(const MessageBoxRequest& request) final;
    [[nodiscard]] QString showOpenDialog(const OpenDialogRequest& request) final;
    [[nodiscard]] QString timeOfDayText() override;

protected:
    // The dialog an operator sees while no script answers it.
    [[nodiscard]] virtual QString showInteractiveOpenDialog(const OpenDialogRequest& request);

private:
    QtToolkit real_;
    bool unattended_ = false;
    MessageSink sink_;
    std::deque<QString> dialogAnswers_;
};

} // namespace norvak::unattended
