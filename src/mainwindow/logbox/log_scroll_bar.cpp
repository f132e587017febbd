#include "mainwindow/logbox/log_scroll_bar.h"

#include <QStyle>
#include <QStyleOptionSlider>

namespace norvak {

LogScrollBar::LogScrollBar(QWidget* parent)
    : QScrollBar(Qt::Vertical, parent) {}

LogScrollBar::Look LogScrollBar::currentLook() const {
    QStyleOptionSlider option;
    initStyleOption(&option);
    return {
        style()->subControlRect(QStyle::CC_ScrollBar, &option, QStyle::SC_ScrollBarSlider, this),
        value() == minimum(), value() == maximum()};
}

void LogScrollBar::sliderChange(SliderChange change) {
    // Resizing, restyling, hovering and pressing repaint through their own events; only the
    // slider's own changes come here. A repaint already due paints the newest look anyway.
    if (holding_ > 0) {
        changedWhileHolding_ = true;
        return;
    }
    if (change == SliderOrientationChange || currentLook() != painted_) {
        QScrollBar::sliderChange(change);
    }
}

void LogScrollBar::repaintIfChanged() {
    if (currentLook() != painted_) {
        update();
    }
}

void LogScrollBar::paintEvent(QPaintEvent* event) {
    painted_ = currentLook();
    QScrollBar::paintEvent(event);
}

} // namespace norvak
