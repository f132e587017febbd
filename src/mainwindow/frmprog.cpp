#include "mainwindow/frmprog.h"

#include "mainwindow/control_names.h"
#include "mainwindow/logbox/logbox.h"
#include "mainwindow/speed_list.h"
#include "protocol/boot_line.h"
#include "protocol/run_timing.h"
#include "seam/failure_handling.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QGroupBox>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace norvak {

namespace {

// The layout is designed in twips; the screen has 15 twips per pixel.
QRect twips(int left, int top, int width, int height) {
    constexpr int twipsPerPixel = 15;
    return {left / twipsPerPixel, top / twipsPerPixel, width / twipsPerPixel,
            height / twipsPerPixel};
}

} // namespace

frmProg::frmProg(Toolkit& toolkit, std::unique_ptr<SerialControl> serial,
                 const devicenotify::UsbPlatformCalls* usbPlatform, QWidget* parent)
    : QWidget(parent)
    , toolkit_(toolkit)
    , serial_(std::move(serial))
    , link_(*this, *serial_)
    , table_(*this, link_)
    , dispatcher_(*this, *serial_, table_)
    , streamer_(*this, *serial_, link_, table_)
    , listener_(usbPlatform) {
    setWindowTitle(applicationTitle);
    setWindowIcon(QIcon(QStringLiteral(":/norvak/icon.xpm")));
    setFixedSize(602, 527);
    createControls();
    placeControls();
    setTabOrder();
    createTimers();
    connectHandlers();
    Form_Load();
}

frmProg::~frmProg() {
    // The handlers must not run while the members they use are taken apart.
    serial_->OnComm = nullptr;
    serial_->OnPortLost = nullptr;
}

void frmProg::createControls() {
    Frame9 = new QGroupBox(QStringLiteral("Com settings"), this);
    // The box shows the link's rate; nothing reads it back.
    txtSpeed = new QLineEdit(QString::number(protocol::baudRate), Frame9);
    txtSpeed->setToolTip(QStringLiteral("Port speed: 38400, %1,76800").arg(protocol::baudRate));
    txtComPort = new QLineEdit(QStringLiteral("4"), Frame9);
    txtComPort->setToolTip(QStringLiteral("Com Port number"));
    btnCon = new QPushButton(SerialLink::connectCaption, Frame9);
    txtRefresh = new QLineEdit(QStringLiteral("333"), Frame9);
    txtRefresh->setVisible(false);

    btnFlash = new QPushButton(RunTable::startCaption, this);
    btnFlash->setEnabled(false);
    Command5 = new QPushButton(QStringLiteral("Help"), this);
    Command3 = new QPushButton(QStringLiteral("sFile"), this);
    Command2 = new QPushButton(QStringLiteral("g"), this);
    Command1 = new QPushButton(QStringLiteral("f"), this);
    for (QPushButton* hidden : {Command3, Command2, Command1}) {
        hidden->setVisible(false);
    }

    lblFilename = new QLabel(QStringLiteral("file"), this);
    btnopenFile = new QPushButton(QStringLiteral("browse"), this);
    txtbuffer = new LogBox(this);
    Label1 = new QLabel(QStringLiteral("Speed:"), this);
    Combospeed = new QComboBox(this);
    Combospeed->setEditable(true);
    Combospeed->setInsertPolicy(QComboBox::NoInsert);
    Command4 = new QPushButton(QStringLiteral("Clear screen"), this);

    namespace name = control_name;
    const std::pair<QWidget*, QLatin1StringView> names[] = {
        {Frame9, name::Frame9},           {txtSpeed, name::txtSpeed},
        {txtComPort, name::txtComPort},   {btnCon, name::btnCon},
        {txtRefresh, name::txtRefresh},   {btnFlash, name::btnFlash},
        {Command5, name::Command5},       {Command3, name::Command3},
        {Command2, name::Command2},       {Command1, name::Command1},
        {lblFilename, name::lblFilename}, {btnopenFile, name::btnopenFile},
        {txtbuffer, name::txtbuffer},     {Label1, name::Label1},
        {Combospeed, name::Combospeed},   {Command4, name::Command4}};
    for (const auto& [widget, designName] : names) {
        widget->setObjectName(designName);
    }
}

void frmProg::placeControls() {
    Frame9->setGeometry(twips(360, 120, 2775, 675));
    txtSpeed->setGeometry(twips(240, 240, 735, 285));
    txtComPort->setGeometry(twips(1200, 240, 315, 285));
    btnCon->setGeometry(twips(1560, 240, 1065, 285));
    txtRefresh->setGeometry(twips(240, 600, 375, 285));
    btnFlash->setGeometry(twips(3240, 240, 3255, 495));
    Command5->setGeometry(twips(6720, 240, 1935, 495));
    Command3->setGeometry(twips(7320, 240, 615, 495));
    Command2->setGeometry(twips(8040, 360, 375, 375));
    Command1->setGeometry(twips(8520, 360, 375, 315));
    lblFilename->setGeometry(twips(360, 840, 7455, 285));
    btnopenFile->setGeometry(twips(8040, 840, 855, 285));
    txtbuffer->setGeometry(twips(240, 1200, 8655, 6135));
    Label1->setGeometry(twips(600, 7440, 735, 255));
    Combospeed->setGeometry(twips(1320, 7440, 1815, 315));
    Command4->setGeometry(twips(6960, 7440, 1335, 375));
}

void frmProg::setTabOrder() {
    const QList<QWidget*> order = {txtRefresh,  txtSpeed,   txtComPort, btnCon,   txtbuffer,
                                   btnopenFile, btnFlash,   Command1,   Command2, Command3,
                                   Command4,    Combospeed, Command5};
    for (qsizetype i = 1; i < order.size(); ++i) {
        QWidget::setTabOrder(order[i - 1], order[i]);
    }
    for (QWidget* label : {static_cast<QWidget*>(lblFilename), static_cast<QWidget*>(Label1)}) {
        label->setFocusPolicy(Qt::NoFocus);
    }
    txtSpeed->setFocus();
}

void frmProg::createTimers() {
    TimerdotNotReceived = toolkit_.makeTimer(protocol::dotWatchdogInterval);
    Timersendf = toolkit_.makeTimer(protocol::readyRequestDelay);
    Timersendi = toolkit_.makeTimer(protocol::wakeUpInterval);
    TimerSendFile = toolkit_.makeTimer(protocol::fileSenderDelay);
    Timerresettobootprg = toolkit_.makeTimer(protocol::countdownInterval);
    portWatch = toolkit_.makeTimer(protocol::portWatchInterval);
}

void frmProg::connectHandlers() {
    connect(btnCon, &QPushButton::clicked, this, [this] { btnCon_Click(); });
    connect(btnFlash, &QPushButton::clicked, this, [this] { btnFlash_Click(); });
    connect(btnopenFile, &QPushButton::clicked, this, [this] { btnopenFile_Click(); });
    connect(Command1, &QPushButton::clicked, this, [this] { Command1_Click(); });
    connect(Command2, &QPushButton::clicked, this, [this] { Command2_Click(); });
    connect(Command3, &QPushButton::clicked, this, [this] { Command3_Click(); });
    connect(Command4, &QPushButton::clicked, this, [this] { Command4_Click(); });
    connect(Command5, &QPushButton::clicked, this, [this] { Command5_Click(); });

    TimerdotNotReceived->onTick([this] { TimerdotNotReceived_Timer(); });
    Timersendf->onTick([this] { Timersendf_Timer(); });
    Timersendi->onTick([this] { Timersendi_Timer(); });
    TimerSendFile->onTick([this] { TimerSendFile_Timer(); });
    Timerresettobootprg->onTick([this] { Timerresettobootprg_Timer(); });
    portWatch->onTick([this] { portWatch_Timer(); });

    serial_->OnComm = [this] {
        MSComm1_OnComm();
    };
    serial_->OnPortLost = [this](const QString& description) {
        table_.portLost(description);
    };
}

void frmProg::guarded(const std::function<void()>& handler) {
    try {
        handler();
    } catch (const PortLostError& e) {
        table_.portLost(e.description());
    } catch (const std::exception&) {
        // Dropped: the program goes on.
    }
}

void frmProg::btnCon_Click() {
    guarded([this] {
        if (link_.btnCon_Click()) {
            table_.connectPressed();
        }
        if (const auto& failure = link_.connectFailure()) {
            table_.connectFailed(*failure);
        }
    });
}

void frmProg::btnFlash_Click() {
    guarded([this] { table_.flashButtonPressed(); });
}

void frmProg::btnopenFile_Click() {
    guarded([this] { streamer_.btnopenFile_Click(); });
}

void frmProg::MSComm1_OnComm() {
    guarded([this] { dispatcher_.MSComm1_OnComm(); });
}

void frmProg::Timerresettobootprg_Timer() {
    guarded([this] { table_.countdownTick(); });
}

void frmProg::Timersendi_Timer() {
    guarded([this] { table_.wakeUpTick(); });
}

void frmProg::Timersendf_Timer() {
    guarded([this] { table_.readyRequestTick(); });
}

void frmProg::TimerdotNotReceived_Timer() {
    guarded([this] { table_.watchdogTick(); });
}

void frmProg::TimerSendFile_Timer() {
    guarded([this] { streamer_.TimerSendFile_Timer(); });
}

void frmProg::portWatch_Timer() {
    guarded([this] { table_.portWatchTick(); });
}

void frmProg::Form_Load() {
    members_.fileName.clear();
    lblFilename->setText(members_.fileName);
    table_.windowLoaded();
    for (const QString& item : speedItems()) {
        Combospeed->addItem(item);
    }
    Combospeed->setCurrentIndex(protocol::normalSpeedItem);
    members_.mainWindowHandle = static_cast<std::uintptr_t>(winId());
    listener_.StartUsbNotification(members_.mainWindowHandle);
}

void frmProg::Form_QueryUnload() {
    // Each step runs whatever the one before did.
    link_.ClosePort();
    ignoringFailure([this] {
        listener_.StopUsbNotification(members_.mainWindowHandle, listener_.notificationHandle());
    });
}

void frmProg::closeEvent(QCloseEvent* event) {
    if (!closing_) {
        Form_QueryUnload();
        closing_ = true;
        table_.windowClosed();
    }
    event->accept();
    emit closed();
}

Timer& frmProg::timer(TimerRole role) {
    return const_cast<Timer&>(std::as_const(*this).timer(role));
}

const Timer& frmProg::timer(TimerRole role) const {
    switch (role) {
    case TimerRole::WakeUpSender:
        return *Timersendi;
    case TimerRole::Countdown:
        return *Timerresettobootprg;
    case TimerRole::ReadyRequest:
        return *Timersendf;
    case TimerRole::FileSender:
        return *TimerSendFile;
    case TimerRole::PortWatch:
        return *portWatch;
    case TimerRole::DotWatchdog:
        break;
    }
    return *TimerdotNotReceived;
}

bool frmProg::PortOpen() const {
    return link_.PortOpen();
}
void frmProg::BaudRate(std::int16_t val) {
    link_.BaudRate(val);
}
void frmProg::comPort(std::int16_t val) {
    link_.comPort(val);
}
void frmProg::Send(int byte, bool invert) {
    link_.Send(byte, invert);
}
void frmProg::SendPacket(int cmd, const PacketData& packetData) {
    link_.SendPacket(cmd, packetData);
}

void frmProg::setStatusCaption(const QString& statusPart) {
    setWindowTitle(applicationTitle + statusPart);
}

void frmProg::setButtonCaption(WindowButton button, const QString& caption) {
    (button == WindowButton::Connect ? btnCon : btnFlash)->setText(caption);
}

void frmProg::setButtonEnabled(WindowButton button, bool enabled) {
    (button == WindowButton::Connect ? btnCon : btnFlash)->setEnabled(enabled);
}

void frmProg::showFileName(const QString& path) {
    lblFilename->setText(path);
    lblFilename->setToolTip(path);
}

void frmProg::logAppendAtEnd(const QString& text) {
    txtbuffer->setSelStart(txtbuffer->length());
    txtbuffer->setSelText(text);
}

void frmProg::logAppendByRewriting(const QString& text) {
    txtbuffer->setText(txtbuffer->Text() + text);
}

void frmProg::logPrependByRewriting(const QString& text) {
    txtbuffer->setText(text + txtbuffer->Text());
}

void frmProg::logClear() {
    txtbuffer->setText(QString());
}

void frmProg::showMessageBox(const QString& text, MessageIcon icon) {
    toolkit_.showMessage({.parent = this, .title = applicationTitle, .text = text, .icon = icon});
}

QString frmProg::showOpenDialog(const QString& title, const QString& filter,
                                const QString& previousPath) {
    return toolkit_.showOpenDialog(
        {.parent = this, .title = title, .filter = filter, .previousPath = previousPath});
}

int frmProg::speedListIndex() const {
    // The field's text, not the list's selection: typing or completing leaves the selection
    // behind, but the operator goes by what the field shows.
    return speedItemNamedBy(Combospeed->currentText());
}

QString frmProg::portText() const {
    return txtComPort->text();
}

} // namespace norvak
