#pragma once

// Placeholder log box; replaced by the real widget.
#include <QPlainTextEdit>

namespace norvak {

class LogBox : public QPlainTextEdit {
    Q_OBJECT
public:
    explicit LogBox(QWidget* parent = nullptr);
    [[nodiscard]] QString Text() const { return text_; }
    void setText(const QString& text) { text_ = text; }
    [[nodiscard]] qsizetype length() const { return text_.size(); }
    void setSelStart(qsizetype pos) { sel_ = pos; }
    void setSelText(const QString& text) { text_.insert(sel_, text); sel_ += text.size(); }

private:
    QString text_;
    qsizetype sel_ = 0;
};

} // namespace norvak
