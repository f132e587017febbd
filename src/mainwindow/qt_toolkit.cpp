#include "mainwindow/qt_toolkit.h"

#include "mainwindow/precise_sleep.h"

#include <QCoreApplication>
#include <QFileDialog>
#include <QLocale>
#include <QMessageBox>
#include <QTime>
#include <QTimer>

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
        post(); // the next tick, unless the handler switches the timer off
        fireTick();
    }

    QObject context_;
    bool enabled_ = false;
    bool posted_ = false;
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

void QtToolkit::yield() {
    QCoreApplication::processEvents(QEventLoop::AllEvents);
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
