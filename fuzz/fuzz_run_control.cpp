// The receive dispatcher and the run control on the virtual clock, driven by a byte stream
// that mixes device characters, clock advances and operator actions, and checked after every
// step against a model of the run's state table written out here on its own: the state, the
// countdown, both buttons, the caption, the six timers, the bytes on the line, the log box
// and the message boxes.
//
// Input: a sequence of [operation][argument] bytes.

#include "tests/support/window_rig.h"

#include <QApplication>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <optional>

namespace {

using namespace norvak;
using norvak::test::Button;
using norvak::test::FakeSerialControl;
using norvak::test::TimerRole;
using norvak::test::VirtualToolkit;
using norvak::test::WindowRig;

const QString title = QStringLiteral("Norvak Flash Programmer");
const QString startText = QStringLiteral("START PROGRAMMING");
const QString interruptionNotice =
    QStringLiteral("Ohjelmointi keskeytetty! Ole hyvä ja ohjelmoi laite uudelleen.\r\n"
                   "Kytke laitteesta virrat pois ja takasin päälle!\r\n\r\n");
const QString restartFailure = QStringLiteral("\r\nRestart to bootprogram failled!");
const QString openRefused = QStringLiteral("the port could not be opened");
const QString adapterPulled = QStringLiteral("the adapter was pulled");
const QString writeRefused = QStringLiteral("the write was refused");

// What the operator can choose: a file without lines (the streamer sends nothing and leaves
// the run alone) and a missing one (the streamer ends the run and says why).
struct Files {
    QTemporaryDir dir;
    QString empty = dir.filePath(QStringLiteral("empty.srec"));
    QString missing = dir.filePath(QStringLiteral("missing.srec"));
};

const Files& files() {
    static const Files instance = [] {
        Files made;
        QFile file(made.empty);
        if (!file.open(QIODevice::WriteOnly)) {
            qFatal("cannot make the empty firmware file");
        }
        return made;
    }();
    return instance;
}

enum TimerId { Countdown, WakeUp, Ready, Watchdog, SendFile, PortWatch, timerCount };

struct ModelTimer {
    std::int64_t interval = 0;
    bool on = false;
    std::int64_t due = 0;
    std::uint64_t sequence = 0; // ties go to the timer enabled first
};

// The state table, step by step.
class Model {
public:
    bool portOpen = false;
    bool connected = false;
    bool lossReported = false;
    // The port went away while the run waited for the boot program: closed, watched for.
    bool away = false;
    QString awayDescription;
    FlashState state = FlashState::Idle;
    int countdown = 60;
    QString fileName;
    QString dialogPath;
    QString button = startText;
    bool buttonEnabled = false;
    QString connectButton = QStringLiteral("Connect");
    QString caption = title;
    std::optional<QString> errorDescription; // the caption is in its error form
    QString log;
    QByteArray wire;
    QStringList messages;
    bool openFails = false;
    bool writesFail = false;
    std::array<ModelTimer, timerCount> timers{{{.interval = 1000},
                                               {.interval = 5},
                                               {.interval = 333},
                                               {.interval = 3000},
                                               {.interval = 1000},
                                               {.interval = 100}}};

    [[nodiscard]] bool startPossible() const { return portOpen && !fileName.isEmpty(); }

    // --- The operator ---
    void pressStart() {
        if (!buttonEnabled) {
            return;
        }
        if (!startPossible()) {
            state = FlashState::Idle;
            buttonEnabled = false;
        } else if (state != FlashState::Idle) {
            state = FlashState::Idle;
            button = startText;
            log = interruptionNotice + log;
        } else {
            // A run begins clean: what a cancelled run left running is switched off.
            disable(Watchdog);
            disable(Ready);
            disable(SendFile);
            buttonEnabled = false;
            countdown = 60;
            button = QStringLiteral("Waiting restart: 60");
            enable(Countdown);
            state = FlashState::WaitingForBoot;
            enable(WakeUp);
        }
    }

    void pressConnect() {
        if (away) {
            // The button still says "Disconnect": the press gives the port up.
            away = false;
            connected = false;
            connectButton = QStringLiteral("Connect");
            status(QStringLiteral("Connect: False"));
        } else if (!portOpen) {
            if (openFails) {
                connected = false;
                errorDescription = openRefused;
            } else {
                portOpen = true;
                lossReported = false;
                away = false;
                connected = true;
                connectButton = QStringLiteral("Disconnect");
                status(QStringLiteral("Connect: True"));
            }
        } else {
            connected = false;
            portOpen = false;
            connectButton = QStringLiteral("Connect");
            status(QStringLiteral("Connect: False"));
        }
        disable(PortWatch);
        state = FlashState::Idle;
        countdown = 0;
        button = startText;
        if (startPossible()) {
            buttonEnabled = true;
        }
    }

    void chooseFile(const std::optional<QString>& answer) {
        dialogPath = answer.value_or(dialogPath);
        if (dialogPath.isEmpty()) {
            return;
        }
        fileName = dialogPath;
        if (startPossible()) {
            buttonEnabled = true;
        }
    }

    // --- The device and the adapter ---
    void receive(char c) {
        switch (state) {
        case FlashState::Idle:
            button = startText;
            if (startPossible()) {
                buttonEnabled = true;
            }
            break;
        case FlashState::WaitingForBoot:
            if (c == '>') {
                status(QStringLiteral("Bootprogram started"));
                state = FlashState::WaitingForReady;
                disable(Countdown);
                button = QStringLiteral("CANCEL");
                buttonEnabled = true;
                countdown = 60;
                disable(WakeUp);
                enable(Ready);
                enable(Watchdog);
            }
            break;
        case FlashState::WaitingForReady:
            if (c == '_') {
                status(QStringLiteral("Sending File"));
                state = FlashState::Sending;
                enable(SendFile);
            }
            break;
        case FlashState::Sending:
            if (c == '.') {
                disable(Watchdog);
                enable(Watchdog);
            } else if (c == 'P') {
                status(QStringLiteral("PROGRAMMED"));
                button = startText;
                state = FlashState::Idle;
                disable(Watchdog);
            }
            break;
        }
        log += QChar(static_cast<char16_t>(static_cast<unsigned char>(c)));
    }

    void pullAdapter() {
        if (!portOpen) {
            return;
        }
        portOpen = false;
        portLost(adapterPulled);
    }

    // --- The clock ---
    void advance(std::int64_t duration) {
        const std::int64_t target = now_ + duration;
        for (;;) {
            std::optional<TimerId> next;
            for (int id = 0; id < timerCount; ++id) {
                const ModelTimer& t = timers[id];
                if (!t.on || t.due > target) {
                    continue;
                }
                if (!next || t.due < timers[*next].due ||
                    (t.due == timers[*next].due && t.sequence < timers[*next].sequence)) {
                    next = static_cast<TimerId>(id);
                }
            }
            if (!next) {
                break;
            }
            now_ = timers[*next].due;
            timers[*next].due += timers[*next].interval;
            tick(*next);
        }
        now_ = target;
    }

private:
    void status(const QString& text) {
        caption = title + QStringLiteral(", ") + text;
        errorDescription.reset();
    }

    void enable(TimerId id) {
        ModelTimer& t = timers[id];
        if (t.on) {
            return;
        }
        t.on = true;
        t.due = now_ + t.interval;
        t.sequence = ++sequence_;
    }
    void disable(TimerId id) { timers[id].on = false; }

    void portLost(const QString& description) {
        if (state == FlashState::WaitingForBoot) {
            // The device may take its port with it when it is switched off and on.
            if (away || lossReported) {
                return;
            }
            away = true;
            portOpen = false;
            awayDescription = description;
            enable(PortWatch);
            return;
        }
        if (away || !reportLoss(description)) {
            return;
        }
        state = FlashState::Idle;
        button = startText;
        for (ModelTimer& t : timers) {
            t.on = false;
        }
    }

    // What the link shows of a lost port; false when it showed it already.
    bool reportLoss(const QString& description) {
        if (lossReported) {
            return false;
        }
        lossReported = true;
        away = false;
        connected = false;
        portOpen = false;
        errorDescription = description;
        connectButton = QStringLiteral("Connect");
        return true;
    }

    // Nobody waits for the port any longer: a port still away is reported lost.
    void settlePortAway() {
        disable(PortWatch);
        if (away) {
            reportLoss(awayDescription);
        }
        awayDescription.clear();
    }

    // One byte on the line; false when the write was refused and the handler ends there.
    bool send(char byte) {
        if (!portOpen) {
            return true;
        }
        if (writesFail) {
            portLost(writeRefused);
            return false;
        }
        wire += byte;
        return true;
    }

    void tick(TimerId id) {
        switch (id) {
        case Countdown:
            if (countdown >= 1) {
                buttonEnabled = false;
                --countdown;
                button = QStringLiteral("Waiting restart: %1").arg(countdown);
                return;
            }
            if (state == FlashState::WaitingForBoot) {
                settlePortAway();
                state = FlashState::Idle;
                log += restartFailure;
                button = startText;
                buttonEnabled = true;
            }
            disable(Countdown);
            break;
        case WakeUp:
            if (send('i') && countdown == 0) {
                disable(WakeUp);
            }
            break;
        case Ready:
            disable(Ready);
            send('f');
            break;
        case Watchdog:
            status(QStringLiteral("Programming FAILLED"));
            state = FlashState::Idle;
            disable(Watchdog);
            button = startText;
            buttonEnabled = true;
            messages << QStringLiteral("Error: DOT Timeout");
            break;
        case SendFile:
            disable(SendFile);
            // The empty file sends nothing; anything else cannot be opened and ends the run at
            // once, with why.
            if (fileName != files().empty) {
                state = FlashState::Idle;
                for (ModelTimer& t : timers) {
                    t.on = false;
                }
                button = startText;
                if (startPossible()) {
                    buttonEnabled = true;
                }
                status(QStringLiteral("Cannot read the firmware file: ") +
                       (fileName.isEmpty() ? QStringLiteral("no firmware file chosen")
                                           : fileName + QStringLiteral(": no such file")));
            }
            break;
        case PortWatch:
            if (state != FlashState::WaitingForBoot) {
                settlePortAway();
            } else if (!openFails) {
                // Back: opened again by the same number with the same settings.
                away = false;
                portOpen = true;
                disable(PortWatch);
                awayDescription.clear();
            }
            break;
        case timerCount:
            break;
        }
    }

    std::int64_t now_ = 0;
    std::uint64_t sequence_ = 0;
};

// Long texts (the line, the log box) are shown around their first difference.
QString around(const QString& text, qsizetype at) {
    const qsizetype from = std::max<qsizetype>(0, at - 40);
    return QStringLiteral("%1 characters, from %2: ").arg(text.size()).arg(from) +
           text.mid(from, 80);
}

[[noreturn]] void mismatch(std::size_t step, const char* what, const QString& actual,
                           const QString& expected) {
    const auto difference =
        std::mismatch(actual.cbegin(), actual.cend(), expected.cbegin(), expected.cend());
    const qsizetype at = difference.first - actual.cbegin();
    std::fprintf(stderr, "step %zu: %s is \"%s\", the model says \"%s\"\n", step, what,
                 qPrintable(around(actual, at)), qPrintable(around(expected, at)));
    __builtin_trap();
}

void compare(std::size_t step, const WindowRig& w, const Model& m) {
    const FakeSerialControl& serial = *w.serial;
    const auto same = [step](const char* what, const auto& actual, const auto& expected) {
        if (actual != expected) {
            mismatch(step, what, QVariant::fromValue(actual).toString(),
                     QVariant::fromValue(expected).toString());
        }
    };
    same("flashState", static_cast<int>(w.state()), static_cast<int>(m.state));
    same("restartCountdown", static_cast<int>(w.restartCountdown()), m.countdown);
    same("START button", w.caption(Button::Flash), m.button);
    same("START enabled", w.enabled(Button::Flash), m.buttonEnabled);
    same("Connect button", w.caption(Button::Connect), m.connectButton);
    same("Connected", w.connected(), m.connected);
    same("port open", serial.PortOpen(), m.portOpen);
    const QString caption = w.caption();
    if (m.errorDescription) {
        if (!caption.startsWith(title + QStringLiteral(", Connect:   Error ")) ||
            !caption.endsWith(*m.errorDescription)) {
            mismatch(step, "caption", caption, *m.errorDescription);
        }
    } else {
        same("caption", caption, m.caption);
    }
    static const char* const timerNames[] = {"countdown",    "wake-up sender", "ready request",
                                             "dot watchdog", "file sender",    "port watch"};
    static constexpr TimerRole timers[] = {TimerRole::Countdown,    TimerRole::WakeUpSender,
                                           TimerRole::ReadyRequest, TimerRole::DotWatchdog,
                                           TimerRole::FileSender,   TimerRole::PortWatch};
    for (int id = 0; id < timerCount; ++id) {
        same(timerNames[id], w.timerOn(timers[id]), m.timers[id].on);
    }
    same("line", QString::fromLatin1(serial.wire), QString::fromLatin1(m.wire));
    same("log box", w.logText(), m.log);
    QStringList messages;
    for (const MessageBoxRequest& request : w.toolkit.messages) {
        messages << request.text;
    }
    same("message boxes", messages.join(u'|'), m.messages.join(u'|'));
}

// Mostly the edges of the timers' intervals; printable codes from '@' reach every entry.
std::int64_t duration(std::uint8_t code) {
    static constexpr std::int64_t table[] = {
        1,    2,    4,     5,     6,     10,    20,    60,    100,   250,   332,
        333,  334,  500,   999,   1000,  1001,  1500,  2000,  2999,  3000,  3001,
        4000, 5000, 10000, 20000, 30000, 59000, 60000, 61000, 62000, 120000};
    return table[code % std::size(table)];
}

char deviceCharacter(std::uint8_t code) {
    static constexpr char protocol[] = {'>', '_', '.', 'P', '\0', '\r', '\n', 'x', 'i', 'f'};
    return code < 0x80 ? protocol[code % std::size(protocol)] : static_cast<char>(code);
}

std::optional<QString> dialogAnswer(std::uint8_t code) {
    switch (code % 3) {
    case 0:
        return files().empty;
    case 1:
        return files().missing;
    default:
        return std::nullopt; // Cancel
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    // The one application object of the process, for the window's widgets.
    static QApplication application(*argc, *argv);
    (void)files();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    WindowRig rig;
    VirtualToolkit& toolkit = rig.toolkit;
    FakeSerialControl& serial = *rig.serial;
    rig.setPortText(QStringLiteral("4"));
    Model model;
    compare(0, rig, model);

    for (std::size_t at = 0; at + 1 < size; at += 2) {
        const std::uint8_t argument = data[at + 1];
        switch (data[at] % 12) {
        case 0:
        case 1:
        case 2:
        case 3:
            // The fake keeps bytes sent to a closed port for its next opening; a real line
            // would lose them, so the device speaks only while the port is open.
            if (model.portOpen) {
                const char c = deviceCharacter(argument);
                serial.receive(QByteArray(1, c));
                toolkit.runDue();
                model.receive(c);
            }
            break;
        case 4:
        case 5:
            toolkit.advance(Milliseconds(duration(argument)));
            model.advance(duration(argument));
            break;
        case 6:
            rig.press(Button::Flash);
            model.pressStart();
            break;
        case 7:
            rig.press(Button::Connect);
            model.pressConnect();
            break;
        case 8:
            toolkit.dialogAnswers.push_back(dialogAnswer(argument));
            rig.press(Button::Browse);
            model.chooseFile(dialogAnswer(argument));
            break;
        case 9:
            serial.pullAdapter(adapterPulled);
            toolkit.runDue();
            model.pullAdapter();
            break;
        case 10:
            model.writesFail = (argument & 1) != 0;
            if (model.writesFail) {
                serial.outputFailure = writeRefused;
            } else {
                serial.outputFailure.reset();
            }
            model.openFails = (argument & 2) != 0;
            if (model.openFails) {
                serial.openFailure = openRefused;
            } else {
                serial.openFailure.reset();
            }
            break;
        default:
            rig.press(Button::ClearScreen);
            model.log.clear();
            break;
        }
        compare(at / 2 + 1, rig, model);
    }
    return 0;
}
