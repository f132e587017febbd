#include "demo_toolkit.h"

#include <QFileDialog>
#include <QFileInfo>

namespace norvak::demo {

DemoToolkit::DemoToolkit(QString firmwareFolder)
    : firmwareFolder_(std::move(firmwareFolder)) {}

std::unique_ptr<Timer> DemoToolkit::makeTimer(Milliseconds interval) {
    return real_.makeTimer(interval);
}

void DemoToolkit::sleepUntil(TimePoint deadline) {
    real_.sleepUntil(deadline);
}

void DemoToolkit::yield() {
    real_.yield();
}

void DemoToolkit::showMessage(const MessageBoxRequest& request) {
    if (isUnattended()) {
        sink_(request);
        return;
    }
    real_.showMessage(request);
}

QString DemoToolkit::showOpenDialog(const OpenDialogRequest& request) {
    if (!dialogAnswers_.empty()) {
        QString answer = dialogAnswers_.front();
        dialogAnswers_.pop_front();
        return answer;
    }
    if (isUnattended())
        return request.previousPath;
    const QString chosen = QFileDialog::getOpenFileName(
        request.parent, request.title, dialogStartFolder(request.previousPath), request.filter);
    return chosen.isEmpty() ? request.previousPath : chosen;
}

QString DemoToolkit::timeOfDayText() {
    return real_.timeOfDayText();
}

QString DemoToolkit::dialogStartFolder(const QString& previousPath) const {
    if (!previousPath.isEmpty())
        return QFileInfo(previousPath).absolutePath();
    return firmwareFolder_;
}

} // namespace norvak::demo
