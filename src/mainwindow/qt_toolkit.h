#pragma once

// The real toolkit: precise Qt timers, a precise blocking sleep, the Qt event loop, QMessageBox and
// QFileDialog.

#include "seam/toolkit.h"

namespace norvak {

class QtToolkit final : public Toolkit {
public:
    QtToolkit() = default;

    [[nodiscard]] std::unique_ptr<Timer> makeTimer(Milliseconds interval) override;
    void sleepUntil(TimePoint deadline) override;
    TimePoint::duration yield() override;
    void showMessage(const MessageBoxRequest& request) override;
    [[nodiscard]] QString showOpenDialog(const OpenDialogRequest& request) override;
    [[nodiscard]] QString timeOfDayText() override;
};

} // namespace norvak
