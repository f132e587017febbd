#pragma once

// The log box's vertical scroll bar. A stream at the end changes its range with every
// receive event, and a plain QScrollBar repaints itself whole for each change, even when
// the handle has not moved by a pixel: at the line's full rate that repaint cost more than
// drawing the received text. This one repaints only when the picture changes.
#include <QRect>
#include <QScopedValueRollback>
#include <QScrollBar>

#include <utility>

namespace norvak {

class LogScrollBar : public QScrollBar {
    Q_OBJECT
public:
    explicit LogScrollBar(QWidget* parent = nullptr);

    // Makes several changes as one (a new range, then the value that follows it to the end):
    // the steps between are never painted, and the bar repaints once if its picture changed.
    template <typename Changes> void changeTogether(Changes&& changes) {
        {
            const QScopedValueRollback holding(holding_, holding_ + 1);
            std::forward<Changes>(changes)();
        }
        if (holding_ == 0 && std::exchange(changedWhileHolding_, false)) {
            repaintIfChanged();
        }
    }

protected:
    void sliderChange(SliderChange change) override;
    void paintEvent(QPaintEvent* event) override;

private:
    // What a change of value, range or steps can change in the picture.
    struct Look {
        QRect handle;
        bool atMinimum = false;
        bool atMaximum = false;
        bool operator==(const Look&) const = default;
    };
    [[nodiscard]] Look currentLook() const;
    void repaintIfChanged();

    Look painted_; // as last painted: resizes and restyles paint without a slider change
    int holding_ = 0;
    bool changedWhileHolding_ = false; // most appends leave the range as it was
};

} // namespace norvak
