// A seeded random operator on the virtual clock: clicks on every visible button, speed
// changes, file choices during runs, device bytes, a pulled adapter and refused writes, at
// random moments (also while the file is being sent). Whatever happens, the state stays one
// of the four, runs never overlap, and the line carries only wake-ups, ready requests and
// whole lines of a chosen file, in file order from its first line, each followed by one LF.

#include "tests/support/device_rig.h"
#include "tests/support/window_rig.h"

#include <QTest>

#include <map>
#include <random>

using namespace norvak;
using namespace norvak::faults;
using namespace norvak::test;
using namespace std::chrono_literals;

class TestFaultsRandomOperator : public QObject {
    Q_OBJECT

private slots:
    void thousandActionsKeepTheRunsWhole_data();
    void thousandActionsKeepTheRunsWhole();
};

namespace {

QByteArray firmware(char tag, int lines, const QByteArray& ending, bool emptyLine) {
    QByteArray file;
    for (int i = 0; i < lines; ++i) {
        if (emptyLine && i == lines / 2) {
            file += ending;
        }
        file += "S1" + QByteArray(1, tag) + QByteArray::number(i).rightJustified(5, '0') + ending;
    }
    return file;
}

// Follows the line as the window writes it, one Output call at a time.
class WireChecker {
public:
    void addFile(int id, const QByteArray& contents) {
        const QList<QByteArray> lines = fileLines(contents);
        for (qsizetype i = 0; i < lines.size(); ++i) {
            where_.emplace(lines[i], Position{id, i});
        }
    }

    // Checks the calls not yet seen; false with `why` at the first wrong one.
    bool check(const QList<QByteArray>& outputs, QString& why) {
        for (; seen_ < outputs.size(); ++seen_) {
            const QByteArray& output = outputs[seen_];
            if (awaitingLineEnd_) {
                if (output != "\n") {
                    return fail(why, "a line was not followed by one LF");
                }
                awaitingLineEnd_ = false;
                continue;
            }
            if (output == "i" || output == "f") {
                ++commands_;
                continue;
            }
            const auto found = where_.find(output);
            if (found == where_.end()) {
                return fail(why, "not a whole line of a chosen file: " + output.left(40));
            }
            const Position at = found->second;
            const bool firstLine = at.line == 0;
            const bool nextLine = last_ && last_->file == at.file && last_->line + 1 == at.line;
            if (!firstLine && !nextLine) {
                return fail(why, "a line out of file order: " + output);
            }
            if (firstLine) {
                ++runs_;
            }
            last_ = at;
            ++lines_;
            awaitingLineEnd_ = true;
        }
        return true;
    }

    [[nodiscard]] int runs() const { return runs_; }
    [[nodiscard]] int lines() const { return lines_; }
    [[nodiscard]] int commands() const { return commands_; }

private:
    struct Position {
        int file = 0;
        qsizetype line = 0;
    };
    bool fail(QString& why, const QByteArray& what) const {
        why = QStringLiteral("output %1: %2").arg(seen_).arg(QString::fromLatin1(what));
        return false;
    }

    std::map<QByteArray, Position> where_;
    std::optional<Position> last_;
    bool awaitingLineEnd_ = false;
    qsizetype seen_ = 0;
    int runs_ = 0;
    int lines_ = 0;
    int commands_ = 0;
};

class RandomOperator {
public:
    explicit RandomOperator(std::uint32_t seed)
        : random_(seed) {
        const QByteArray a = firmware('A', 30, "\r\n", false) + "S9030000FC";
        const QByteArray b = firmware('B', 25, "\n", true);
        files_ = {rig.writeFile("a.srec", a), rig.writeFile("b.srec", b),
                  rig.writeFile("empty.srec", {}), rig.writeFile("one.srec", "S"),
                  rig.writeFile("a.srec", a).replace("a.srec", "missing.srec")};
        wire.addFile(0, a);
        wire.addFile(1, b);
        rig.show();
    }

    // Runs `count` actions, each at a random moment after the one before.
    void run(int count) {
        remaining_ = count;
        scheduleNext();
        while (remaining_ > 0 && failure.isEmpty()) {
            rig.tick(1000ms);
        }
        rig.tick(120'000ms); // whatever was started runs out
        checkInvariants();
    }

    WindowRig rig;
    WireChecker wire;
    QString failure;
    int maxState = 0;
    int actionsDuringRuns = 0;

private:
    int pick(int below) { return std::uniform_int_distribution<int>(0, below - 1)(random_); }

    void scheduleNext() {
        // Mostly quick succession, sometimes long enough for timers and runs to move on.
        const int delay = pick(10) == 0 ? 200 + pick(3000) : 1 + pick(40);
        rig.toolkit.after(Milliseconds(delay), [this] {
            checkInvariants();
            if (--remaining_ < 0 || !failure.isEmpty()) {
                return;
            }
            if (rig.streaming()) {
                ++actionsDuringRuns;
            }
            act();
            checkInvariants();
            scheduleNext();
        });
    }

    void act() {
        const int roll = pick(100);
        if (roll < 30) {
            clickAVisibleButton();
        } else if (roll < 35) {
            changeSpeed();
        } else if (roll < 70) {
            deviceBytes();
        } else if (roll < 96) {
            answerTheRun();
        } else {
            lineTrouble();
        }
    }

    void clickAVisibleButton() {
        const std::vector<Button> visible = rig.visibleButtons();
        Button button = visible[static_cast<std::size_t>(pick(static_cast<int>(visible.size())))];
        // An operator who finds the port closed mostly connects again; START is pressed most.
        if (!rig.portOpen() && pick(2) == 0) {
            button = Button::Connect;
        } else if (pick(3) == 0) {
            button = Button::Flash;
        }
        if (button == Button::Browse) {
            rig.toolkit.dialogAnswers.push_back(chooseAnswer());
        }
        rig.press(button);
    }

    // Mostly one of the two real files; sometimes a file without lines, a missing one, or
    // Cancel.
    std::optional<QString> chooseAnswer() {
        const int roll = pick(10);
        if (roll < 7) {
            return files_[roll % 2];
        }
        if (roll < 9) {
            return files_[2 + pick(static_cast<int>(files_.size()) - 2)];
        }
        return std::nullopt;
    }

    void changeSpeed() {
        if (pick(4) == 0) {
            rig.editSpeed(QStringLiteral("7"));
            return;
        }
        const int item = pick(5);
        rig.chooseSpeed(item);
    }

    // A device that plays along now and then, so that runs get to sending their file.
    void answerTheRun() {
        switch (rig.state()) {
        case FlashState::WaitingForBoot:
            rig.serial->receive(">");
            break;
        case FlashState::WaitingForReady:
            rig.serial->receive("_");
            break;
        default:
            rig.serial->receive(".");
            break;
        }
    }

    void deviceBytes() {
        static constexpr char protocol[] = {'>', '_', '.', '.', '.', '.', '.', '.',
                                            '>', '_', '.', '.', '.', 'P', 'i', 'f'};
        QByteArray bytes;
        const int count = 1 + pick(6);
        for (int i = 0; i < count; ++i) {
            bytes += pick(3) == 0 ? static_cast<char>(pick(256))
                                  : protocol[pick(static_cast<int>(sizeof protocol))];
        }
        rig.serial->receive(bytes);
    }

    void lineTrouble() {
        if (pick(2) == 0) {
            rig.serial->pullAdapter(QStringLiteral("the adapter was pulled"));
            return;
        }
        // The line refuses writes for a moment.
        rig.serial->outputFailure = QStringLiteral("the line refused the write");
        rig.toolkit.after(Milliseconds(1 + pick(100)),
                          [this] { rig.serial->outputFailure.reset(); });
    }

    void checkInvariants() {
        if (!failure.isEmpty()) {
            return;
        }
        const auto state = static_cast<std::int32_t>(rig.state());
        maxState = std::max(maxState, static_cast<int>(state));
        if (state < 0 || state > 3) {
            failure = QStringLiteral("flashState %1").arg(state);
        } else {
            wire.check(rig.serial->outputs, failure);
        }
    }

    std::mt19937 random_;
    QStringList files_;
    int remaining_ = 0;
};

} // namespace

void TestFaultsRandomOperator::thousandActionsKeepTheRunsWhole_data() {
    QTest::addColumn<std::uint32_t>("seed");
    for (std::uint32_t seed = 1; seed <= 20; ++seed) {
        QTest::addRow("seed %u", seed) << seed;
    }
}

void TestFaultsRandomOperator::thousandActionsKeepTheRunsWhole() {
    QFETCH(std::uint32_t, seed);
    RandomOperator op(seed);
    op.run(1000);
    QVERIFY2(op.failure.isEmpty(), qPrintable(op.failure));
    // The operator got somewhere: runs streamed lines, and all four states were reached.
    qInfo("seed %u: %d runs, %d lines, %d wake-ups and ready requests, %d actions during runs",
          seed, op.wire.runs(), op.wire.lines(), op.wire.commands(), op.actionsDuringRuns);
    QVERIFY(op.wire.runs() > 0);
    QVERIFY(op.actionsDuringRuns > 0);
    QCOMPARE(op.maxState, 3);
    QVERIFY(!op.rig.streaming());
}

QTEST_MAIN(TestFaultsRandomOperator)
#include "test_random_operator.moc"
