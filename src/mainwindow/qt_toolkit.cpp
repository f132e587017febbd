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
        if (on && !timer_.isActive())
            timer_.start();
        else if (!on)
            timer_.stop();
    }
    [[nodiscard]] bool isEnabled() const override { return timer_.isActive(); }
    [[nodiscard]] Milliseconds interval() const override { return timer_.intervalAsDuration(); }

private:
    QTimer timer_;
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
