#pragma once

// The real toolkit, with two differences for the demo: the file dialog starts in the sample
// firmware folder, and an unattended run answers message boxes and the file dialog itself.

#include "mainwindow/qt_toolkit.h"

#include <QString>

#include <deque>
#include <functional>

namespace norvak::demo {

class DemoToolkit final : public Toolkit {
public:
    using MessageSink = std::function<void(const MessageBoxRequest&)>;

    explicit DemoToolkit(QString firmwareFolder);

    // From now on nothing modal shows: message boxes go to `sink` and return at once, and
    // file dialogs return the answers queued for them, or cancel when there is none.
    void answerUnattended(MessageSink sink) { sink_ = std::move(sink); }
    [[nodiscard]] bool isUnattended() const { return static_cast<bool>(sink_); }
    // The next file dialog returns `path` without showing itself.
    void answerNextOpenDialog(const QString& path) { dialogAnswers_.push_back(path); }

    [[nodiscard]] std::unique_ptr<Timer> makeTimer(Milliseconds interval) override;
    void sleepUntil(TimePoint deadline) override;
    void yield() override;
    void showMessage(const MessageBoxRequest& request) override;
    [[nodiscard]] QString showOpenDialog(const OpenDialogRequest& request) override;
    [[nodiscard]] QString timeOfDayText() override;

    // Where the dialog starts: beside the last choice, else in the sample folder.
    [[nodiscard]] QString dialogStartFolder(const QString& previousPath) const;

private:
    QtToolkit real_;
    QString firmwareFolder_;
    MessageSink sink_;
    std::deque<QString> dialogAnswers_;
};

} // namespace norvak::demo
