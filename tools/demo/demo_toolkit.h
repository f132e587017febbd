#pragma once

// The toolkit of the demo: the file dialog starts in the sample firmware folder, and an
// unattended run answers message boxes and the file dialog itself.

#include "tools/unattended/scripted_toolkit.h"

#include <QString>

namespace norvak::demo {

class DemoToolkit final : public unattended::ScriptedToolkit {
public:
    explicit DemoToolkit(QString firmwareFolder);

    // Where the dialog starts: beside the last choice, else in the sample folder.
    [[nodiscard]] QString dialogStartFolder(const QString& previousPath) const;

protected:
    [[nodiscard]] QString showInteractiveOpenDialog(const OpenDialogRequest& request) override;

private:
    QString firmwareFolder_;
};

} // namespace norvak::demo
