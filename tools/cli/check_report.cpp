#include "tools/cli/check_report.h"

#include "protocol/boot_line.h"
#include "tools/cli/cli_options.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace norvak::cli {

namespace {

constexpr std::size_t maxRangesInText = 20;

QString address(quint64 value, quint64 highest) {
    const int digits = highest > 0xFFFFFF ? 8 : highest > 0xFFFF ? 6 : 4;
    return QStringLiteral("0x") +
           QString::number(value, 16).toUpper().rightJustified(digits, QLatin1Char('0'));
}

QString headerText(const QByteArray& header) {
    QString text;
    for (const char c : header) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte < 0x7F && c != '"' && c != '\\') {
            text += QLatin1Char(c);
        } else {
            text += QStringLiteral("\\x%1").arg(byte, 2, 16, QLatin1Char('0'));
        }
    }
    return text;
}

QString seconds(double value) {
    if (value < 60.0) {
        return QStringLiteral("%1 s").arg(value, 0, 'f', 1);
    }
    const auto whole = static_cast<qint64>(value + 0.5);
    return QStringLiteral("%1 min %2 s").arg(whole / 60).arg(whole % 60, 2, 10, QLatin1Char('0'));
}

QString recordsText(const SrecReport& report) {
    QStringList parts;
    for (std::size_t type = 0; type < report.recordsByType.size(); ++type) {
        if (report.recordsByType[type] > 0) {
            parts << QStringLiteral("S%1 %2").arg(type).arg(report.recordsByType[type]);
        }
    }
    return parts.isEmpty() ? QStringLiteral("none") : parts.join(QStringLiteral(", "));
}

QString rangesText(const SrecReport& report) {
    if (report.ranges.empty()) {
        return QStringLiteral("none\n");
    }
    const quint64 highest = report.ranges.back().end - 1;
    QString text;
    const QString indent(22, QLatin1Char(' '));
    for (std::size_t i = 0; i < report.ranges.size() && i < maxRangesInText; ++i) {
        const AddressRange& range = report.ranges[i];
        if (i > 0) {
            const quint64 gapFirst = report.ranges[i - 1].end;
            text += indent + QStringLiteral("gap %1-%2 (%3 bytes)\n")
                                 .arg(address(gapFirst, highest), address(range.first - 1, highest))
                                 .arg(range.first - gapFirst);
            text += indent;
        }
        text += QStringLiteral("%1-%2 (%3 bytes)\n")
                    .arg(address(range.first, highest), address(range.end - 1, highest))
                    .arg(range.end - range.first);
    }
    if (report.ranges.size() > maxRangesInText) {
        text += indent +
                QStringLiteral("... %1 more ranges\n").arg(report.ranges.size() - maxRangesInText);
    }
    return text;
}

} // namespace

QString problemsText(const QString& file, const SrecReport& report) {
    QString text;
    for (const SrecProblem& problem : report.problems) {
        const bool warning = problem.severity() == SrecSeverity::Warning;
        text += QStringLiteral("%1:%2:%3: %4%5\n")
                    .arg(file)
                    .arg(problem.line)
                    .arg(problem.column)
                    .arg(warning ? QStringLiteral("warning: ") : QString(), problem.message);
    }
    const qint64 unlisted = report.problemCount - static_cast<qint64>(report.problems.size());
    if (unlisted > 0) {
        text += QStringLiteral("%1: ... and %2 more problems\n").arg(file).arg(unlisted);
    }
    return text;
}

QString problemCountText(const SrecReport& report) {
    const auto counted = [](qint64 count, const char* what) {
        return QStringLiteral("%1 %2%3")
            .arg(count)
            .arg(QLatin1StringView(what))
            .arg(count == 1 ? "" : "s");
    };
    return counted(report.errorCount, "error") + QStringLiteral(", ") +
           counted(report.warningCount, "warning");
}

QString checkText(const QString& file, const SrecReport& report) {
    QString text = problemsText(file, report);
    text += report.clean() ? QStringLiteral("%1: clean\n").arg(file)
                           : QStringLiteral("%1: %2\n").arg(file, problemCountText(report));
    const auto row = [](const char* label, const QString& value) {
        return QStringLiteral("  %1%2\n").arg(QString::fromLatin1(label), -20).arg(value);
    };
    text += row("Lines sent:", QString::number(report.linesSent));
    text += row("Line ends:", report.lineEndName());
    text += row("Records:", recordsText(report));
    text += row("Data bytes:", QString::number(report.dataBytes));
    text += QStringLiteral("  %1").arg(QStringLiteral("Addresses:"), -20) + rangesText(report);
    text +=
        row("Header (S0):", report.header ? QStringLiteral("\"%1\"").arg(headerText(*report.header))
                                          : QStringLiteral("none"));
    text += QStringLiteral("  Time on the line at %1 baud, from the first line on:\n")
                .arg(protocol::baudRate);
    for (int item = 0; item < protocol::speedItemCount; ++item) {
        text += QStringLiteral("    --speed %1%2\n")
                    .arg(speedChoices[static_cast<std::size_t>(item)], -6)
                    .arg(seconds(report.streamSeconds[static_cast<std::size_t>(item)]));
    }
    return text;
}

QByteArray checkJson(const QString& file, const SrecReport& report) {
    QJsonObject object;
    object[QStringLiteral("file")] = file;
    object[QStringLiteral("clean")] = report.clean();
    object[QStringLiteral("problemCount")] = report.problemCount;
    object[QStringLiteral("errorCount")] = report.errorCount;
    object[QStringLiteral("warningCount")] = report.warningCount;
    QJsonArray problems;
    for (const SrecProblem& problem : report.problems) {
        problems.append(
            QJsonObject{{QStringLiteral("line"), problem.line},
                        {QStringLiteral("column"), problem.column},
                        {QStringLiteral("kind"), QString::fromLatin1(kindName(problem.kind))},
                        {QStringLiteral("severity"), problem.severity() == SrecSeverity::Warning
                                                         ? QStringLiteral("warning")
                                                         : QStringLiteral("error")},
                        {QStringLiteral("message"), problem.message}});
    }
    object[QStringLiteral("problems")] = problems;
    object[QStringLiteral("fileBytes")] = report.fileBytes;
    object[QStringLiteral("linesSent")] = report.linesSent;
    object[QStringLiteral("lineEnds")] =
        QJsonObject{{QStringLiteral("kind"), report.lineEndName()},
                    {QStringLiteral("crLf"), report.lineEnds.crLf},
                    {QStringLiteral("lf"), report.lineEnds.lf},
                    {QStringLiteral("cr"), report.lineEnds.cr},
                    {QStringLiteral("none"), report.lineEnds.none}};
    QJsonObject records;
    for (std::size_t type = 0; type < report.recordsByType.size(); ++type) {
        records[QStringLiteral("S%1").arg(type)] = report.recordsByType[type];
    }
    object[QStringLiteral("records")] = records;
    object[QStringLiteral("dataRecords")] = report.dataRecords;
    object[QStringLiteral("dataBytes")] = report.dataBytes;
    QJsonArray ranges;
    for (const AddressRange& range : report.ranges) {
        ranges.append(
            QJsonObject{{QStringLiteral("first"), static_cast<qint64>(range.first)},
                        {QStringLiteral("last"), static_cast<qint64>(range.end - 1)},
                        {QStringLiteral("bytes"), static_cast<qint64>(range.end - range.first)}});
    }
    object[QStringLiteral("ranges")] = ranges;
    object[QStringLiteral("header")] =
        report.header ? QJsonValue(QString::fromLatin1(*report.header)) : QJsonValue();
    QJsonObject times;
    for (int item = 0; item < protocol::speedItemCount; ++item) {
        times[QString::number(speedChoices[static_cast<std::size_t>(item)])] =
            report.streamSeconds[static_cast<std::size_t>(item)];
    }
    object[QStringLiteral("streamSeconds")] = times;
    return QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n';
}

QByteArray unreadableJson(const QString& file, const QString& error) {
    const QJsonObject object{{QStringLiteral("file"), file},
                             {QStringLiteral("clean"), false},
                             {QStringLiteral("error"), error}};
    return QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n';
}

} // namespace norvak::cli
