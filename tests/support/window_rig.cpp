#include "tests/support/window_rig.h"

#include "mainwindow/control_names.h"
#include "mainwindow/logbox/logbox.h"

#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <algorithm>
#include <stdexcept>

namespace norvak::test {

namespace {

// The design name of each button, in the order of `Button`.
constexpr std::array<QLatin1StringView, allButtons.size()> buttonNames = {
    control_name::btnCon,   control_name::btnFlash, control_name::btnopenFile,
    control_name::Command5, control_name::Command4, control_name::Command1,
    control_name::Command2, control_name::Command3};

template <typename T> T* control(const frmProg& window, const QString& designName) {
    T* const found = window.findChild<T*>(designName);
    if (found == nullptr) {
        throw std::logic_error("the window has no control " + designName.toStdString());
    }
    return found;
}

QString shownText(const QWidget* widget) {
    if (const auto* button = qobject_cast<const QPushButton*>(widget)) {
        return button->text();
    }
    if (const auto* edit = qobject_cast<const QLineEdit*>(widget)) {
        return edit->text();
    }
    if (const auto* label = qobject_cast<const QLabel*>(widget)) {
        return label->text();
    }
    if (const auto* group = qobject_cast<const QGroupBox*>(widget)) {
        return group->title();
    }
    if (const auto* combo = qobject_cast<const QComboBox*>(widget)) {
        return combo->currentText();
    }
    if (const auto* log = qobject_cast<const LogBox*>(widget)) {
        return log->Text();
    }
    return {};
}

bool isDesignName(const QString& name) {
    return std::find(control_name::all.cbegin(), control_name::all.cend(), name) !=
           control_name::all.cend();
}

} // namespace

void WindowView::attach(frmProg& window) {
    window_ = &window;
    for (std::size_t i = 0; i < buttons_.size(); ++i) {
        buttons_[i] = control<QPushButton>(window, buttonNames[i]);
    }
    fileLabel_ = control<QLabel>(window, control_name::lblFilename);
    portBox_ = control<QLineEdit>(window, control_name::txtComPort);
    speedList_ = control<QComboBox>(window, control_name::Combospeed);
    log_ = control<LogBox>(window, control_name::txtbuffer);
    QObject::connect(window_, &frmProg::closed, window_, [this] { ++closedCount_; });
    QObject::connect(window_, &frmProg::runEnded, window_,
                     [this](const RunEnding& ending) { runEnds_.push_back(ending); });
    QObject::connect(window_, &frmProg::portAway, window_, [this](const QString& description) {
        portComings_.push_back(QStringLiteral("away: ") + description);
    });
    QObject::connect(window_, &frmProg::portBack, window_,
                     [this] { portComings_.push_back(QStringLiteral("back")); });
}

QPushButton* WindowView::button(Button which) const {
    return buttons_[static_cast<std::size_t>(which)];
}

Timer& WindowView::timer(TimerRole role) const {
    return window_->timer(role);
}

// --- Buttons ---

void WindowView::press(Button which) {
    button(which)->click();
}

void WindowView::pressLater(Button which) {
    QMetaObject::invokeMethod(button(which), &QPushButton::click, Qt::QueuedConnection);
}

QString WindowView::caption(Button which) const {
    return button(which)->text();
}

bool WindowView::enabled(Button which) const {
    return button(which)->isEnabled();
}

bool WindowView::visible(Button which) const {
    return button(which)->isVisible();
}

std::vector<Button> WindowView::visibleButtons() const {
    std::vector<Button> shown;
    for (const QPushButton* candidate : window_->findChildren<QPushButton*>()) {
        const auto* const found = std::find(buttons_.cbegin(), buttons_.cend(), candidate);
        if (found != buttons_.cend() && candidate->isVisible()) {
            shown.push_back(allButtons[static_cast<std::size_t>(found - buttons_.cbegin())]);
        }
    }
    return shown;
}

// --- The run ---

FlashState WindowView::state() const {
    return window_->shared().flashState;
}

std::int32_t WindowView::restartCountdown() const {
    return window_->shared().restartCountdown;
}

QString WindowView::fileName() const {
    return window_->shared().fileName;
}

QString WindowView::fileLabel() const {
    return fileLabel_->text();
}

QString WindowView::fileLabelToolTip() const {
    return fileLabel_->toolTip();
}

double WindowView::progressPercent() const {
    return window_->shared().progressPercent;
}

bool WindowView::streaming() const {
    return window_->isStreaming();
}

// --- The link ---

bool WindowView::connected() const {
    return window_->Connected();
}

bool WindowView::portOpen() const {
    return window_->PortOpen();
}

void WindowView::setPortText(const QString& text) {
    portBox_->setText(text);
}

std::int32_t WindowView::portNumber() const {
    return window_->shared().portNumber;
}

std::int32_t WindowView::baudRate() const {
    return window_->shared().baudRate;
}

void WindowView::send(int byte, bool invert) {
    window_->Send(byte, invert);
}

void WindowView::sendPacket(int cmd, const PacketData& data) {
    window_->SendPacket(cmd, data);
}

void WindowView::setBaudRate(std::int16_t rate) {
    window_->BaudRate(rate);
}

void WindowView::setComPort(std::int16_t port) {
    window_->comPort(port);
}

// --- The speed list ---

void WindowView::chooseSpeed(int item) {
    speedList_->setCurrentIndex(item);
    emit speedList_->activated(item);
}

void WindowView::typeSpeed(const QString& text) {
    QLineEdit* const field = speedList_->lineEdit();
    field->setFocus();
    field->selectAll();
    QTest::keyClicks(field, text);
}

void WindowView::editSpeed(const QString& text) {
    QLineEdit* const field = speedList_->lineEdit();
    field->setText(text);
    emit field->textEdited(text);
}

void WindowView::putSpeedText(const QString& text) {
    speedList_->lineEdit()->setText(text);
}

void WindowView::leaveSpeedField() {
    portBox_->setFocus();
}

QString WindowView::speedText() const {
    return speedList_->currentText();
}

QStringList WindowView::speedItems() const {
    QStringList items;
    for (int i = 0; i < speedList_->count(); ++i) {
        items << speedList_->itemText(i);
    }
    return items;
}

bool WindowView::speedEditable() const {
    return speedList_->isEditable();
}

int WindowView::speedItem() const {
    return window_->speedListIndex();
}

// --- Timers ---

bool WindowView::timerOn(TimerRole role) const {
    return timer(role).isEnabled();
}

Milliseconds WindowView::timerInterval(TimerRole role) const {
    return timer(role).interval();
}

// --- Caption and log box ---

QString WindowView::caption() const {
    return window_->windowTitle();
}

QString WindowView::logText() const {
    return log_->Text();
}

qsizetype WindowView::logLength() const {
    return log_->length();
}

void WindowView::typeIntoLog(const QString& text) {
    QTest::keyClick(log_, Qt::Key_End, Qt::ControlModifier);
    QTest::keyClicks(log_, text);
}

QString WindowView::helpText() {
    return frmProg::helpText();
}

// --- The window as a whole ---

QWidget& WindowView::widget() const {
    return *window_;
}

void WindowView::show() {
    window_->show();
}

bool WindowView::activate() {
    window_->show();
    window_->activateWindow();
    return QTest::qWaitForWindowActive(window_);
}

bool WindowView::close() {
    return window_->close();
}

bool WindowView::isClosing() const {
    return window_->isClosing();
}

void WindowView::onClosed(std::function<void()> callback) {
    QObject::connect(window_, &frmProg::closed, window_, std::move(callback));
}

std::uintptr_t WindowView::windowHandle() const {
    return window_->shared().mainWindowHandle;
}

ControlLook WindowView::look(const QString& designName) const {
    const QWidget* const widget = control<QWidget>(*window_, designName);
    const QWidget* const parent = widget->parentWidget();
    QString container;
    if (parent != window_) {
        container = parent == nullptr ? QStringLiteral("<none>") : parent->objectName();
    }
    return {.text = shownText(widget),
            .geometry = widget->geometry(),
            .visible = widget->isVisible(),
            .enabled = widget->isEnabled(),
            .toolTip = widget->toolTip(),
            .container = container};
}

QString WindowView::focusedControl() const {
    for (const QWidget* widget = QApplication::focusWidget(); widget != nullptr;
         widget = widget->parentWidget()) {
        if (widget == window_) {
            break;
        }
        if (isDesignName(widget->objectName())) {
            return widget->objectName();
        }
    }
    return {};
}

void WindowView::pressTab() {
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
}

// --- Forcing ---

void WindowView::force(const ForcedRunValues& values) {
    WindowMembers& members = window_->shared();
    if (values.state) {
        members.flashState = *values.state;
    }
    if (values.restartCountdown) {
        members.restartCountdown = *values.restartCountdown;
    }
    if (values.fileName) {
        members.fileName = *values.fileName;
    }
}

void WindowView::forceTimerOff(TimerRole role) {
    timer(role).setEnabled(false);
}

void WindowView::forceStartButton(bool enabled, const std::optional<QString>& caption) {
    QPushButton* const start = button(Button::Flash);
    start->setEnabled(enabled);
    if (caption) {
        start->setText(*caption);
    }
}

// --- WindowRig ---

WindowRig::WindowRig(const devicenotify::UsbPlatformCalls* usbPlatform) {
    auto fake = std::make_unique<FakeSerialControl>(toolkit);
    serial = fake.get();
    window_ = std::make_unique<frmProg>(toolkit, std::move(fake), usbPlatform);
    attach(*window_);
}

void WindowRig::chooseFile(const QString& path) {
    toolkit.dialogAnswers.emplace_back(path);
    press(Button::Browse);
}

void WindowRig::cancelFileDialog() {
    toolkit.dialogAnswers.emplace_back(std::nullopt);
    press(Button::Browse);
}

QString WindowRig::writeFile(const QString& name, const QByteArray& contents) {
    const QString path = dir_.filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(contents) != contents.size()) {
        throw std::runtime_error("cannot write the test file");
    }
    return path;
}

void WindowRig::startRun(const QByteArray& fileContents) {
    pressConnect();
    chooseFile(writeFile(QStringLiteral("firmware.srec"), fileContents));
    pressStart();
}

void WindowRig::startAndReachSending(const QByteArray& fileContents) {
    startRun(fileContents);
    receive(">");
    toolkit.advance(Milliseconds(333)); // "f" goes out; the boot program answers "_"
    receive("_");
}

void WindowRig::receive(const QByteArray& bytes) {
    serial->receive(bytes);
    toolkit.runDue();
}

} // namespace norvak::test
