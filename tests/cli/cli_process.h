#pragma once

// norvak-flash-cli run as a script runs it, for the tests that drive the program itself: its
// start, its end, its JSON events and what the device took.

#include "tools/simdevice/simdevice.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QList>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <chrono>
#include <memory>

namespace norvak::clitest {

using namespace std::chrono_literals;

inline const QString cliPath = QStringLiteral(NORVAK_CLI);

// A device that is power-cycled soon after the first wake-up and programs at once.
inline SimDeviceConfig deviceConfig() {
    SimDeviceConfig config;
    config.autoPowerCycleAfter = 200ms;
    config.programmingTime = 1ms;
    return config;
}

inline QString devicePath(const SimDevice& device) {
    return QString::fromStdString(device.slavePath());
}

inline std::unique_ptr<QProcess> startCli(const QStringList& arguments) {
    auto process = std::make_unique<QProcess>();
    process->setProgram(cliPath);
    process->setArguments(arguments);
    process->start();
    return process;
}

// The exit status, or -1 when the program did not end normally in time.
inline int finish(QProcess& process, std::chrono::milliseconds limit = 60s) {
    if (process.error() == QProcess::FailedToStart) {
        return -1;
    }
    if (process.state() != QProcess::NotRunning &&
        !process.waitForFinished(static_cast<int>(limit.count()))) {
        return -1;
    }
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}

struct Events {
    QList<QJsonObject> list;
    QString error; // the first line that is not a JSON object

    [[nodiscard]] qsizetype indexOf(const char* event, const char* key = nullptr,
                                    const QString& value = {}, qsizetype from = 0) const {
        for (qsizetype i = from; i < list.size(); ++i) {
            const QJsonObject& e = list[i];
            if (e[QStringLiteral("event")].toString() != QLatin1StringView(event)) {
                continue;
            }
            if (key == nullptr || e[QLatin1StringView(key)].toString() == value) {
                return i;
            }
        }
        return -1;
    }
};

inline Events parseEvents(const QByteArray& output) {
    Events events;
    for (const QByteArray& line : output.split('\n')) {
        if (line.isEmpty()) {
            continue;
        }
        QJsonParseError error{};
        const QJsonDocument document = QJsonDocument::fromJson(line, &error);
        if (!document.isObject()) {
            if (events.error.isEmpty()) {
                events.error = QString::fromUtf8(line);
            }
            continue;
        }
        events.list << document.object();
    }
    return events;
}

// What the device took after the ready request "f": the file as it went on the line.
inline QByteArray streamAfterReady(const SimRecording& recording) {
    const std::string& received = recording.received;
    const auto ready = received.find('f');
    return ready == std::string::npos ? QByteArray()
                                      : QByteArray::fromStdString(received.substr(ready + 1));
}

} // namespace norvak::clitest
