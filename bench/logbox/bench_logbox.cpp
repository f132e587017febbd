// Cost of the window's append path (setSelStart(length()) + setSelText(ch)) on a shown log
// box, near 1,000 and near 1,000,000 characters, for short CR LF lines and for one endless
// line of dots, plus the resident memory per character at 10,000,000 characters.
// QPlainTextEdit is measured over its first 20,000 characters for comparison.
// Figures are printed, never asserted: the exit code is always 0.
#include "mainwindow/logbox/logbox.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QPlainTextEdit>
#include <QTextCursor>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

constexpr qsizetype eventInterval = 1000; // let paints happen, as the event loop would
constexpr qsizetype sampleWindow = 1000;  // appends timed around each mark
constexpr double goalMedianUs = 30.0;
constexpr double goalRatio = 1.5;
constexpr double goalBytesPerChar = 64.0;

enum class Pattern { CrLfEvery80, EndlessDots };

const char* nameOf(Pattern pattern) {
    return pattern == Pattern::CrLfEvery80 ? "CR LF every 80" : "one line of dots";
}

QChar characterAt(Pattern pattern, qsizetype index) {
    if (pattern == Pattern::EndlessDots) {
        return QLatin1Char('.');
    }
    switch (index % 80) {
    case 78:
        return QLatin1Char('\r');
    case 79:
        return QLatin1Char('\n');
    default:
        return QLatin1Char(static_cast<char>('!' + index % 80));
    }
}

double residentBytes() {
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly)) {
        return -1;
    }
    const QList<QByteArray> fields = statm.readAll().split(' ');
    if (fields.size() < 2) {
        return -1;
    }
    return fields[1].toDouble() * static_cast<double>(sysconf(_SC_PAGESIZE));
}

double median(std::vector<double> samples) {
    if (samples.empty()) {
        return 0;
    }
    const auto middle = samples.begin() + static_cast<std::ptrdiff_t>(samples.size() / 2);
    std::nth_element(samples.begin(), middle, samples.end());
    return *middle;
}

struct Run {
    double medianNearStartUs = 0;
    double medianNearMarkUs = 0;
    double meanWithPaintsUs = 0; // whole run, event processing included
    double bytesPerChar = -1;
    double paintAtMarkUs = 0; // repainting the whole viewport
    double paintAtEndUs = 0;
};

// Median time of a synchronous repaint of the whole viewport.
double repaintUs(QWidget& viewport) {
    std::vector<double> samples;
    QElapsedTimer timer;
    for (int i = 0; i < 21; ++i) {
        timer.start();
        viewport.repaint();
        samples.push_back(static_cast<double>(timer.nsecsElapsed()) / 1000.0);
    }
    return median(samples);
}

// Appends `total` characters one at a time; times each append within sampleWindow / 2 of
// 1,000 and of `mark` characters.
Run appendRun(const std::function<void(QChar)>& append, Pattern pattern, qsizetype mark,
              qsizetype total, const std::function<void(qsizetype)>& atCount = {}) {
    const double rssBefore = residentBytes();
    std::vector<double> nearStart;
    std::vector<double> nearMark;
    QElapsedTimer all;
    QElapsedTimer one;
    all.start();
    for (qsizetype i = 0; i < total; ++i) {
        const QChar c = characterAt(pattern, i);
        const bool timed =
            std::abs(i - 1000) < sampleWindow / 2 || std::abs(i - mark) < sampleWindow / 2;
        if (timed) {
            one.start();
            append(c);
            const double us = static_cast<double>(one.nsecsElapsed()) / 1000.0;
            (i < mark / 2 ? nearStart : nearMark).push_back(us);
        } else {
            append(c);
        }
        if ((i + 1) % eventInterval == 0) {
            QCoreApplication::processEvents();
        }
        if (atCount && i + 1 == mark) {
            atCount(i + 1);
        }
    }
    QCoreApplication::processEvents();
    if (atCount) {
        atCount(total);
    }
    Run run;
    run.meanWithPaintsUs =
        static_cast<double>(all.nsecsElapsed()) / 1000.0 / static_cast<double>(total);
    run.medianNearStartUs = median(nearStart);
    run.medianNearMarkUs = median(nearMark);
    const double rssAfter = residentBytes();
    if (rssBefore >= 0 && rssAfter >= 0) {
        run.bytesPerChar = (rssAfter - rssBefore) / static_cast<double>(total);
    }
    return run;
}

Run logBoxRun(Pattern pattern, qsizetype total) {
    norvak::LogBox box;
    box.resize(800, 600);
    box.show();
    QCoreApplication::processEvents();
    const auto append = [&box](QChar c) {
        box.setSelStart(box.length());
        box.setSelText(QString(c));
    };
    double paintAtMark = 0;
    double paintAtEnd = 0;
    const auto measurePaint = [&](qsizetype count) {
        (count < total ? paintAtMark : paintAtEnd) = repaintUs(*box.viewport());
    };
    Run run = appendRun(append, pattern, 1'000'000, total, measurePaint);
    run.paintAtMarkUs = paintAtMark;
    run.paintAtEndUs = paintAtEnd;
    return run;
}

Run plainTextEditRun(Pattern pattern) {
    QPlainTextEdit edit;
    edit.resize(800, 600);
    edit.show();
    QCoreApplication::processEvents();
    const auto append = [&edit](QChar c) {
        edit.moveCursor(QTextCursor::End);
        edit.insertPlainText(QString(c));
    };
    return appendRun(append, pattern, 20'000 - sampleWindow / 2, 20'000);
}

struct BulkFigures {
    double setTextMs = 0;
    double textMs = 0;
    double middleInsertMs = 0; // the operator types into the middle, then the device appends
};

// The rare whole-text operations on `total` characters of CR LF lines.
BulkFigures bulkRun(qsizetype total) {
    QString text(total, Qt::Uninitialized);
    for (qsizetype i = 0; i < total; ++i) {
        text[i] = characterAt(Pattern::CrLfEvery80, i);
    }
    norvak::LogBox box;
    box.resize(800, 600);
    box.show();
    QCoreApplication::processEvents();
    BulkFigures figures;
    QElapsedTimer timer;
    timer.start();
    box.setText(text);
    QCoreApplication::processEvents();
    figures.setTextMs = static_cast<double>(timer.nsecsElapsed()) / 1e6;
    timer.start();
    const QString copy = box.Text();
    figures.textMs = static_cast<double>(timer.nsecsElapsed()) / 1e6;
    timer.start();
    box.setSelStart(box.length() / 2);
    box.setSelText(QStringLiteral("x"));
    box.setSelStart(box.length());
    box.setSelText(QStringLiteral("."));
    QCoreApplication::processEvents();
    figures.middleInsertMs = static_cast<double>(timer.nsecsElapsed()) / 1e6;
    return figures;
}

void printRow(const std::string& figure, double value, const char* unit, double goal,
              bool lowerIsBetter = true) {
    const bool met = lowerIsBetter ? value <= goal : value >= goal;
    std::printf("%-58s %12.3f %-7s %10.1f   %s\n", figure.c_str(), value, unit, goal,
                met ? "yes" : "no");
}

void printInfo(const std::string& figure, double value, const char* unit) {
    std::printf("%-58s %12.3f %-7s %10s   %s\n", figure.c_str(), value, unit, "-", "-");
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    const QApplication app(argc, argv);
    const qsizetype total =
        argc > 1 ? std::max(QByteArray(argv[1]).toLongLong(), 1'001'000LL) : 10'000'000;

    std::printf("%-58s %12s %-7s %10s   %s\n", "figure", "value", "unit", "goal", "met");
    for (const Pattern pattern : {Pattern::CrLfEvery80, Pattern::EndlessDots}) {
        const Run run = logBoxRun(pattern, total);
        const std::string prefix = std::string("LogBox, ") + nameOf(pattern) + ": ";
        printRow(prefix + "median append near 1k", run.medianNearStartUs, "us", goalMedianUs);
        printRow(prefix + "median append near 1M", run.medianNearMarkUs, "us", goalMedianUs);
        printRow(prefix + "ratio 1M / 1k", run.medianNearMarkUs / run.medianNearStartUs, "x",
                 goalRatio);
        printInfo(prefix + "mean append incl. paints", run.meanWithPaintsUs, "us");
        printInfo(prefix + "full repaint at 1M", run.paintAtMarkUs, "us");
        printInfo(prefix + "full repaint at end", run.paintAtEndUs, "us");
        printRow(prefix + "memory at " + std::to_string(total / 1'000'000) + "M", run.bytesPerChar,
                 "B/char", goalBytesPerChar);
    }
    const BulkFigures bulk = bulkRun(total);
    const std::string size = std::to_string(total / 1'000'000) + "M";
    printInfo("LogBox: setText of " + size + " chars incl. paint", bulk.setTextMs, "ms");
    printInfo("LogBox: Text() of " + size + " chars", bulk.textMs, "ms");
    printInfo("LogBox: insert in the middle of " + size + ", then append", bulk.middleInsertMs,
              "ms");
    for (const Pattern pattern : {Pattern::CrLfEvery80, Pattern::EndlessDots}) {
        const Run run = plainTextEditRun(pattern);
        const std::string prefix = std::string("QPlainTextEdit, ") + nameOf(pattern) + ": ";
        printRow(prefix + "median append near 1k", run.medianNearStartUs, "us", goalMedianUs);
        printRow(prefix + "median append near 20k", run.medianNearMarkUs, "us", goalMedianUs);
        printRow(prefix + "ratio 20k / 1k", run.medianNearMarkUs / run.medianNearStartUs, "x",
                 goalRatio);
        printInfo(prefix + "mean append incl. paints", run.meanWithPaintsUs, "us");
    }
    std::fflush(stdout);
    return 0;
}
