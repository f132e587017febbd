#include "tools/cli/run_reporter.h"

#include "programming/run_table.h"
#include "tools/cli/shown_text.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <cmath>
#include <utility>

namespace norvak::cli {

namespace {

QString escaped(QByteArrayView bytes) {
    QString text;
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte < 0x7F) {
            text += QLatin1Char(c);
        } else {
            text += QStringLiteral("\\x%1").arg(byte, 2, 16, QLatin1Char('0'));
        }
    }
    return text;
}

void write(std::FILE* file, const QByteArray& bytes) {
    std::fwrite(bytes.constData(), 1, static_cast<std::size_t>(bytes.size()), file);
    std::fflush(file);
}

} // namespace

void RunReporter::DeviceLine::append(char c) {
    ++length_;
    if (head_.size() < headSize) {
        head_.append(c);
    } else if (tail_.size() < tailSize) {
        tail_.append(c);
    } else {
        tail_[tailStart_] = c;
        tailStart_ = (tailStart_ + 1) % tailSize;
    }
}

QString RunReporter::DeviceLine::shown() const {
    const QByteArray tail = tail_.mid(tailStart_) + tail_.left(tailStart_);
    const qint64 left = length_ - head_.size() - tail.size();
    if (left <= 0) {
        return escaped(head_ + tail);
    }
    return escaped(head_) + QStringLiteral(" ... (%1 characters) ... ").arg(left) + escaped(tail);
}

void RunReporter::DeviceLine::clear() {
    head_.clear();
    tail_.clear();
    tailStart_ = 0;
    length_ = 0;
}

RunReporter::RunReporter(Style style, std::FILE* out, std::FILE* err)
    : style_(style)
    , out_(out)
    , err_(err) {
    clock_.start();
}

double RunReporter::elapsed() const {
    return static_cast<double>(clock_.nsecsElapsed()) / 1e9;
}

QString RunReporter::stamped(const QString& text) const {
    return QStringLiteral("%1 s  %2").arg(elapsed(), 7, 'f', 2).arg(text);
}

void RunReporter::emitJson(const QByteArray& object) {
    write(out_, object + '\n');
}

namespace {

QByteArray jsonEvent(const char* event, double t, QJsonObject fields) {
    fields[QStringLiteral("event")] = QString::fromLatin1(event);
    fields[QStringLiteral("t")] = std::round(t * 1000.0) / 1000.0;
    return QJsonDocument(fields).toJson(QJsonDocument::Compact);
}

} // namespace

QByteArray RunReporter::lineBytes(const QString& line) const {
    return stamped(withControlsEscaped(line)).toUtf8() + '\n';
}

void RunReporter::printLines(const QByteArray& lines) {
    if (style_ == Style::Terminal && !status_.isEmpty()) {
        write(out_, "\r\033[K" + lines + status_.toUtf8());
    } else {
        write(out_, lines);
    }
}

void RunReporter::printLine(const QString& line) {
    printLines(lineBytes(line));
}

void RunReporter::setStatus(const QString& status) {
    status_ = withControlsEscaped(status);
    write(out_, "\r\033[K" + status_.toUtf8());
}

void RunReporter::step(const QString& action) {
    flushReceived();
    if (style_ == Style::Json) {
        emitJson(jsonEvent("step", elapsed(), {{QStringLiteral("action"), action}}));
    } else {
        printLine(action);
    }
}

void RunReporter::caption(const QString& caption, const QString& status) {
    flushReceived();
    if (style_ == Style::Json) {
        emitJson(
            jsonEvent("caption", elapsed(),
                      {{QStringLiteral("caption"), caption}, {QStringLiteral("status"), status}}));
        return;
    }
    printLine(status.isEmpty() ? caption : status);
    if (style_ == Style::Terminal) {
        setStatus(status.isEmpty() ? caption : status);
    }
}

void RunReporter::progress(double percent, const QString& caption) {
    flushReceived();
    switch (style_) {
    case Style::Json:
        emitJson(jsonEvent(
            "progress", elapsed(),
            {{QStringLiteral("percent"), percent}, {QStringLiteral("caption"), caption}}));
        break;
    case Style::Terminal:
        setStatus(QStringLiteral("progress: %1%").arg(percent, 0, 'f', 1));
        break;
    case Style::Plain: {
        // A line per whole percent keeps a log readable whatever the file's length.
        const int whole = static_cast<int>(std::floor(percent));
        if (whole != lastWholePercent_) {
            lastWholePercent_ = whole;
            printLine(QStringLiteral("progress: %1%").arg(percent, 0, 'f', 1));
        }
        break;
    }
    }
}

void RunReporter::button(const QString& caption) {
    flushReceived();
    switch (style_) {
    case Style::Json:
        emitJson(jsonEvent("button", elapsed(), {{QStringLiteral("caption"), caption}}));
        break;
    case Style::Terminal:
        if (caption.startsWith(RunTable::countdownCaption)) {
            setStatus(caption + QStringLiteral("  (switch the device off and on)"));
        } else {
            printLine(QStringLiteral("button: ") + caption);
        }
        break;
    case Style::Plain:
        // The countdown as plain lines only every ten seconds.
        if (!caption.startsWith(RunTable::countdownCaption) || caption.endsWith(u'0')) {
            printLine(QStringLiteral("button: ") + caption);
        }
        break;
    }
}

void RunReporter::prompt(const QString& text) {
    flushReceived();
    if (style_ == Style::Json) {
        emitJson(jsonEvent("prompt", elapsed(), {{QStringLiteral("text"), text}}));
    } else {
        printLine(text);
    }
}

void RunReporter::received(const QByteArray& bytes) {
    bytesReceived_ += bytes.size();
    if (pendingReceived_.isEmpty()) {
        pendingSince_.start();
    }
    pendingReceived_ += bytes;
    if (pendingSince_.elapsed() >= receivedPieceMs) {
        flushReceived();
    }
}

void RunReporter::receiveEventEnded() {
    flushReceived();
}

void RunReporter::flushReceived() {
    if (pendingReceived_.isEmpty()) {
        return;
    }
    const QByteArray piece = std::exchange(pendingReceived_, {});
    if (style_ == Style::Json) {
        emitJson(jsonEvent("received", elapsed(),
                           {{QStringLiteral("text"), QString::fromLatin1(piece)},
                            {QStringLiteral("bytes"), piece.size()},
                            {QStringLiteral("total"), bytesReceived_}}));
        return;
    }
    // The whole lines of the piece in one write.
    QByteArray lines;
    for (const char c : piece) {
        if (c == '\r' || c == '\n') {
            lines += deviceLineBytes();
        } else {
            deviceLine_.append(c);
        }
    }
    if (!lines.isEmpty()) {
        printLines(lines);
    }
}

QByteArray RunReporter::deviceLineBytes() {
    if (deviceLine_.isEmpty()) {
        return {};
    }
    const QString shown = deviceLine_.shown();
    deviceLine_.clear();
    return lineBytes(QStringLiteral("device: ") + shown);
}

void RunReporter::message(const QString& text, bool critical) {
    flushReceived();
    if (style_ == Style::Json) {
        emitJson(
            jsonEvent("message", elapsed(),
                      {{QStringLiteral("text"), text}, {QStringLiteral("critical"), critical}}));
        return;
    }
    QString oneLine = text;
    oneLine.replace(QStringLiteral("\r\n"), QStringLiteral(" / "));
    printLine(QStringLiteral("message box: ") + oneLine);
}

void RunReporter::portGone(const QString& description) {
    flushReceived();
    if (style_ == Style::Json) {
        emitJson(jsonEvent("port-gone", elapsed(), {{QStringLiteral("description"), description}}));
    } else {
        printLine(QStringLiteral("Port went away: %1 Watching for it until the countdown runs out.")
                      .arg(description));
    }
}

void RunReporter::portBack() {
    flushReceived();
    if (style_ == Style::Json) {
        emitJson(jsonEvent("port-back", elapsed(), {}));
    } else {
        printLine(QStringLiteral("Port is back: opened again with the same settings."));
    }
}

void RunReporter::end(const RunEnd& end, const LineCounts& counts) {
    flushReceived();
    if (style_ == Style::Json) {
        emitJson(jsonEvent("outcome", elapsed(),
                           {{QStringLiteral("outcome"), end.outcome},
                            {QStringLiteral("exitStatus"), end.exitStatus},
                            {QStringLiteral("text"), end.text},
                            {QStringLiteral("bytesReceived"), bytesReceived_},
                            {QStringLiteral("linesSent"), counts.linesSent},
                            {QStringLiteral("dotsReceived"), counts.dotsReceived}}));
    } else {
        if (const QByteArray rest = deviceLineBytes(); !rest.isEmpty()) {
            printLines(rest);
        }
        if (style_ == Style::Terminal && !status_.isEmpty()) {
            // The updating line gives way to the outcome.
            status_.clear();
            write(out_, "\r\033[K");
        }
        printLine(end.exitStatus == 0 ? QStringLiteral("Result: ") + end.text
                                      : QStringLiteral("Result: FAILED (exit status %1): %2")
                                            .arg(end.exitStatus)
                                            .arg(end.text));
        printLine(QStringLiteral("Lines sent: %1, dots received: %2")
                      .arg(counts.linesSent)
                      .arg(counts.dotsReceived));
    }
    if (!end.advice.isEmpty()) {
        write(err_, ("norvak-flash-cli: " + withControlsEscaped(end.advice) + '\n').toUtf8());
    }
}

} // namespace norvak::cli
