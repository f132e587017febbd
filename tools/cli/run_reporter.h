#pragma once

// What `program` shows while the window's run goes on: on a terminal one updating status line
// under the lines that stay; elsewhere plain lines; with --json one JSON object per line for
// each event, flushed as it happens. Outside JSON every text is printed with its control
// characters escaped.
//
// The window takes the device's bytes one at a time. They are reported in pieces: what one
// receive event took, or what came in a tenth of a second while an event goes on, and always
// before any other event, so that the order stays as it happened. A device that floods the
// line thus costs one event per piece, not one per byte.

#include <QByteArray>
#include <QElapsedTimer>
#include <QString>

#include <cstdio>

namespace norvak::cli {

// How a run ended, for the operator and for the exit status.
struct RunEnd {
    int exitStatus = 0;
    QString outcome; // "programmed", "no-boot-program", "dot-timeout", ...
    QString text;    // the window's own words for it
    QString advice;  // what to do next; empty when programmed
};

// The file's lines that went out and the "." the device answered while it was sent, shown
// side by side at the end: a difference is shown, not judged.
struct LineCounts {
    qint64 linesSent = 0;
    qint64 dotsReceived = 0;
};

class RunReporter {
public:
    enum class Style { Terminal, Plain, Json };

    // `out` gets the events; `err` the advice after a failure.
    RunReporter(Style style, std::FILE* out, std::FILE* err);

    void step(const QString& action);
    void caption(const QString& caption, const QString& status);
    void progress(double percent, const QString& caption);
    void button(const QString& caption);
    void prompt(const QString& text);
    void received(const QByteArray& bytes);
    // A receive event has taken all it takes: its bytes are reported now.
    void receiveEventEnded();
    void message(const QString& text, bool critical);
    // While the run waited for the boot program its port went away (`description` says how),
    // and then came back and was opened again.
    void portGone(const QString& description);
    void portBack();
    void end(const RunEnd& end, const LineCounts& counts = {});

    [[nodiscard]] qint64 bytesReceived() const { return bytesReceived_; }

    // The longest the device's bytes wait while a receive event goes on.
    static constexpr qint64 receivedPieceMs = 100;

    // A long line of device text as shown: its start, how much was left out, its end.
    class DeviceLine {
    public:
        void append(char c);
        [[nodiscard]] bool isEmpty() const { return length_ == 0; }
        [[nodiscard]] QString shown() const;
        void clear();

    private:
        static constexpr qsizetype headSize = 100;
        static constexpr qsizetype tailSize = 80;
        QByteArray head_;
        QByteArray tail_; // the last tailSize characters past the head, as a ring
        qsizetype tailStart_ = 0;
        qint64 length_ = 0;
    };

private:
    void emitJson(const QByteArray& object);
    // A line that stays, stamped.
    [[nodiscard]] QByteArray lineBytes(const QString& line) const;
    // Lines that stay, with the terminal's status line drawn again under them.
    void printLines(const QByteArray& lines);
    void printLine(const QString& line);
    void setStatus(const QString& status);
    // Reports the bytes received since the last piece.
    void flushReceived();
    [[nodiscard]] QByteArray deviceLineBytes();
    [[nodiscard]] double elapsed() const;
    [[nodiscard]] QString stamped(const QString& text) const;

    Style style_;
    std::FILE* out_;
    std::FILE* err_;
    QElapsedTimer clock_;
    QString status_; // the terminal's updating line
    int lastWholePercent_ = -1;
    qint64 bytesReceived_ = 0;
    QByteArray pendingReceived_; // not yet reported
    QElapsedTimer pendingSince_;
    DeviceLine deviceLine_;
};

} // namespace norvak::cli
