#include "tools/demo/demo_toolkit.h"

#include <QFileDialog>
#include <QFileInfo>

namespace norvak::demo {

DemoToolkit::DemoToolkit(QString firmwareFolder)
    : firmwareFolder_(std::move(firmwareFolder)) {}

QString DemoToolkit::showInteractiveOpenDialog(const OpenDialogRequest& request) {
    const QString chosen = QFileDialog::getOpenFileName(
        request.parent, request.title, dialogStartFolder(request.previousPath), request.filter);
    return chosen.isEmpty() ? request.previousPath : chosen;
}

QString DemoToolkit::dialogStartFolder(const QString& previousPath) const {
    if (!previousPath.isEmpty()) {
        return QFileInfo(previousPath).absolutePath();
    }
    return firmwareFolder_;
}

} // namespace norvak::demo
