#include "mainwindow/qt_toolkit.h"

#include "mainwindow/precise_sleep.h"

#include <QCoreApplication>
#include <QFileDialog>
#include <QLocale>
#include <QMessageBox>
#include <QPointer>
#include <QTime>
#include <QTimer>

#include <optional>

namespace norvak {

namespace {

class QtTimer final : public Timer {
public:
    explicit QtTimer(Milliseconds interval) {
        timer_.setTimerType(Qt::PreciseTimer);
        timer_.setInterval(interval);
        QObject::connect(&timer_, &QTimer::timeout, &timer_, [this] { fireTick(); });
    }

    void setEnabled(bool on) override {
        // Enabling a running timer leaves its phase alone; only off-then-on restarts it.
        if (on && !timer_.isActive()) {
            timer_.start();
        } else if (!on) {
            timer_.stop();
        }
    }
    [[nodiscard]] bool isEnabled() const override { return timer_.isActive(); }
    [[nodiscard]] Milliseconds interval() const override { return timer_.intervalAsDuration(); }

private:
    QTimer timer_;
};

// A 0 ms timer ticks at the event loop's next pass through a queued call, as Qt's own
// "as soon as possible" work does: a 0 ms QTimer is run by the GLib loop only once the loop
// finds itself idle, which under a stream of readable bytes comes later and less often.
// The next tick is queued when a handler returns with the timer still enabled, so that a
// handler that switches its timer off (the receive checks all do) leaves no call behind
// that wakes the event loop for nothing.
class NextPassTimer final : public Timer {
public:
    void setEnabled(bool on) override {
        enabled_ = on;
        if (on) {
            post();
        }
    }
    [[nodiscard]] bool isEnabled() const override { return enabled_; }
    [[nodiscard]] Milliseconds interval() const override { return Milliseconds(0); }

private:
    void post() {
        if (posted_) {
            return;
        }
        posted_ = true;
        // Calls still queued when the timer goes are dropped with `context_`.
        QMetaObject::invokeMethod(
            &context_, [this] { tickIfEnabled(); }, Qt::QueuedConnection);
    }
    void tickIfEnabled() {
        posted_ = false;
        if (!enabled_) {
            return;
        }
        const QPointer<QObject> alive(&context_); // the handler may destroy the timer
        fireTick();
        if (alive && enabled_) {
            post();
        }
    }

    QObject context_;
    bool enabled_ = false;
    bool posted_ = false;
};

// Notes when the application first hands an event to a receiver while it exists.
class FirstEventClock final : public QObject {
public:
    FirstEventClock() { QCoreApplication::instance()->installEventFilter(this); }
    ~FirstEventClock() override { QCoreApplication::instance()->removeEventFilter(this); }
    FirstEventClock(const FirstEventClock&) = delete;
    FirstEventClock& operator=(const FirstEventClock&) = delete;

    [[nodiscard]] TimePoint::duration sinceFirstEvent() const {
        return first_ ? std::chrono::steady_clock::now() - *first_ : TimePoint::duration::zero();
    }

protected:
    bool eventFilter(QObject* /*receiver*/, QEvent* /*event*/) override {
        if (!first_) {
            first_ = std::chrono::steady_clock::now();
        }
        return false;
    }

private:
    std::optional<TimePoint> first_;
};

QMessageBox::Icon toQtIcon(MessageIcon icon) {
    switch (icon) {
    case MessageIcon::Information:
        return QMessageBox::Information;
    case MessageIcon::Critical:
        return QMessageBox::Critical;
    case MessageIcon::None:
        break;
    }
    return QMessageBox::NoIcon;
}

} // namespace

std::unique_ptr<Timer> QtToolkit::makeTimer(Milliseconds interval) {
    if (interval == Milliseconds(0)) {
        return std::make_unique<NextPassTimer>();
    }
    return std::make_unique<QtTimer>(interval);
}

void QtToolkit::sleepUntil(TimePoint deadline) {
    preciseSleepUntil(deadline);
}

TimePoint::duration QtToolkit::yield() {
    FirstEventClock firstEvent;
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    return firstEvent.sinceFirstEvent();
}

void QtToolkit::showMessage(const MessageBoxRequest& request) {
    QMessageBox box(toQtIcon(request.icon), request.title, request.text, QMessageBox::Ok,
                    request.parent);
    box.exec();
}

QString QtToolkit::showOpenDialog(const OpenDialogRequest& request) {
    const QString chosen =
        QFileDialog::getOpenFileName(request.parent, request.title, QString(), request.filter);
    return chosen.isEmpty() ? request.previousPath : chosen;
}

QString QtToolkit::timeOfDayText() {
    // Hours, minutes and seconds as the operator's locale writes them, without a time zone.
    const QLocale locale = QLocale::system();
    QString format = locale.timeFormat(QLocale::LongFormat);
    format.remove(QLatin1Char('t'));
    return locale.toString(QTime::currentTime(), format.trimmed());
}

} // namespace norvak
