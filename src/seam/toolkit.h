#pragma once

// The one seam between the program's logic and time, the event loop and modal UI.
// The real implementation (QtToolkit) uses precise Qt timers, a real sleep, the Qt event
// loop, QMessageBox and QFileDialog; the tests use a virtual clock and answer boxes and
// dialogs themselves.

#include <QString>

#include <chrono>
#include <functional>
#include <memory>

class QWidget;

namespace norvak {

using Milliseconds = std::chrono::milliseconds;
using TimePoint = std::chrono::steady_clock::time_point;

enum class MessageIcon { None, Information, Critical };

// A window timer: ticks come every interval while enabled, the first one a full interval
// after enabling; enabling a running timer changes nothing; disabling and enabling again
// restarts the full interval. A handler that yields while its timer is still enabled can be
// entered again by the next tick, so such handlers guard themselves.
class Timer {
public:
    virtual ~Timer() = default;
    Timer(const Timer&) = delete;
    Timer& operator=(const Timer&) = delete;

    virtual void setEnabled(bool on) = 0;
    [[nodiscard]] virtual bool isEnabled() const = 0;
    [[nodiscard]] virtual Milliseconds interval() const = 0;

    void onTick(std::function<void()> handler) { tick_ = std::move(handler); }

protected:
    Timer() = default;
    void fireTick() {
        if (tick_) {
            tick_();
        }
    }

private:
    std::function<void()> tick_;
};

struct MessageBoxRequest {
    QWidget* parent = nullptr;
    QString title;
    QString text;
    MessageIcon icon = MessageIcon::None;
};

struct OpenDialogRequest {
    QWidget* parent = nullptr;
    QString title;
    QString filter;       // in Qt's form, e.g. "All Files (*.srec)"
    QString previousPath; // what the dialog returns when the operator cancels
};

class Toolkit {
public:
    virtual ~Toolkit() = default;

    [[nodiscard]] virtual std::unique_ptr<Timer> makeTimer(Milliseconds interval) = 0;
    // Blocks the interface thread until `deadline` on monotonicNow()'s clock, and returns at
    // once when it has passed; nothing else runs meanwhile. Never ends before the deadline.
    virtual void sleepUntil(TimePoint deadline) = 0;
    // Handles every pending event (clicks, ticks, serial events, close requests) and returns
    // how long handlers ran in it: from the moment the first event was handed to one until
    // the yield returns. The event loop's own look for events before that is not counted, so
    // that a yield with nothing to handle counts as none.
    virtual TimePoint::duration yield() = 0;
    // Modal, OK only; returns when the operator has closed it.
    virtual void showMessage(const MessageBoxRequest& request) = 0;
    // Modal; the chosen path, or previousPath when the operator cancels.
    [[nodiscard]] virtual QString showOpenDialog(const OpenDialogRequest& request) = 0;
    // The time of day as the operator's locale writes it (hours, minutes, seconds).
    [[nodiscard]] virtual QString timeOfDayText() = 0;
    // A clock that only moves forward, for measuring pauses. A virtual clock overrides it.
    [[nodiscard]] virtual TimePoint monotonicNow() { return std::chrono::steady_clock::now(); }

protected:
    Toolkit() = default;
};

} // namespace norvak
