#include "tests/support/device_rig.h"

#include "link/control/mscomm.h"

#include <QFile>
#include <QTimer>

#include <algorithm>

namespace norvak::faults {

namespace {

// Where port 1 leads while the adapter is out: a path that never exists.
const QString nowhere = QStringLiteral("/nonexistent/norvak-faults/ttyUSB0");

} // namespace

DeviceRig::DeviceRig(const SimDeviceConfig& config, int speedItem)
    : device_(std::make_unique<SimDevice>(config))
    , portPath_(QString::fromStdString(config.linkPath.empty() ? device_->slavePath()
                                                               : config.linkPath)) {
    toolkit.answerUnattended([this](const MessageBoxRequest& request) {
        messages.push_back(request);
        if (whileShown) {
            whileShown(request);
        }
    });
    auto mscomm = std::make_unique<MSComm>(toolkit, [this](int port) {
        return port == 1 ? QStringList{portPath_} : QStringList{nowhere};
    });
    auto counting = std::make_unique<CountingSerial>(std::move(mscomm));
    serial = counting.get();
    window_ = std::make_unique<frmProg>(toolkit, std::move(counting), nullptr);
    attach(*window_);
    QObject::connect(&widget(), &QWidget::windowTitleChanged,
                     [this](const QString& title) { captions << title; });
    setPortText(QStringLiteral("1"));
    chooseSpeed(speedItem);
    show();
}

DeviceRig::~DeviceRig() {
    watchers_.clear();
    // The window goes before the device: its port is closed while the line is still there.
    window_.reset();
}

void DeviceRig::once(std::function<bool()> condition, std::function<void()> action) {
    auto watcher = std::make_unique<QTimer>();
    QTimer* const timer = watcher.get();
    timer->setInterval(5);
    QObject::connect(timer, &QTimer::timeout,
                     [timer, condition = std::move(condition), action = std::move(action)] {
                         if (!condition()) {
                             return;
                         }
                         timer->stop();
                         action();
                     });
    timer->start();
    watchers_.push_back(std::move(watcher));
}

void DeviceRig::unplug() {
    portPath_ = nowhere;
    device_->hangUp();
}

void DeviceRig::plugIn(const SimDeviceConfig& config) {
    device_ = std::make_unique<SimDevice>(config);
    portPath_ = QString::fromStdString(device_->slavePath());
}

void DeviceRig::chooseFile(const QString& path) {
    toolkit.answerNextOpenDialog(path);
    press(test::Button::Browse);
}

qsizetype DeviceRig::errorCaptionCount() const {
    return std::count_if(captions.cbegin(), captions.cend(), [](const QString& caption) {
        return errorCaption.match(caption).hasMatch();
    });
}

QString firmwarePath(const char* name) {
    return QStringLiteral(NORVAK_FIRMWARE_DIR "/") + QLatin1StringView(name);
}

QByteArray readFile(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return {};
    }
    return file.readAll();
}

QList<QByteArray> fileLines(const QByteArray& file) {
    QList<QByteArray> lines;
    qsizetype at = 0;
    while (file.size() - at >= 2) {
        qsizetype end = at;
        while (end < file.size() && file[end] != '\r' && file[end] != '\n') {
            ++end;
        }
        lines << file.mid(at, end - at);
        at = end;
        if (at < file.size()) {
            const bool carriageReturn = file[at] == '\r';
            ++at;
            if (carriageReturn && at < file.size() && file[at] == '\n') {
                ++at;
            }
        }
    }
    return lines;
}

QByteArray expectedStream(const QByteArray& file) {
    QByteArray stream;
    for (const QByteArray& line : fileLines(file)) {
        stream += line + '\n';
    }
    return stream;
}

} // namespace norvak::faults
