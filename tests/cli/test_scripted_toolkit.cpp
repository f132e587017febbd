// The scripted real toolkit that the CLI, the demo, the end-to-end tests and the benchmarks
// share: which boxes it shows, which it only hands to the script, and how its dialog answers.

#include "tools/unattended/scripted_toolkit.h"

#include <QApplication>
#include <QDialog>
#include <QTest>
#include <QTimer>

#include <vector>

using namespace norvak;
using namespace norvak::unattended;

namespace {

MessageBoxRequest box(const char* text) {
    return {.parent = nullptr, .title = {}, .text = QString::fromLatin1(text), .icon = {}};
}

// Closes every real modal box or dialog soon after it comes up, as an operator would, and
// counts them: a box that should not have shown is counted instead of blocking the test.
class Closer {
public:
    Closer() {
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            if (auto* shown = qobject_cast<QDialog*>(QApplication::activeModalWidget())) {
                ++closed;
                shown->done(QDialog::Rejected);
            }
        });
        timer_.start(5);
    }
    int closed = 0;

private:
    QTimer timer_;
};

} // namespace

class TestScriptedToolkit : public QObject {
    Q_OBJECT

private slots:
    void boxesShowUntilAScriptAnswersThem();
    void aBoxIsAnsweredAsTheToolkitStoodWhenItCame();
    void queuedDialogAnswersComeFirstWhetherOrNotAnyoneWatches();
};

void TestScriptedToolkit::boxesShowUntilAScriptAnswersThem() {
    ScriptedToolkit toolkit;
    Closer closer;
    std::vector<QString> seen;

    // As it starts: the real box, which someone closes.
    toolkit.showMessage(box("Help"));
    QCOMPARE(closer.closed, 1);

    // Watched: the script sees the box first, and it still shows.
    toolkit.showAttended([&seen](const MessageBoxRequest& r) { seen.push_back(r.text); });
    QVERIFY(!toolkit.isUnattended());
    toolkit.showMessage(box("Error: DOT Timeout"));
    QCOMPARE(closer.closed, 2);
    QCOMPARE(seen, std::vector<QString>{"Error: DOT Timeout"});

    // Unattended without a sink: dropped, nothing shows.
    toolkit.answerUnattended({});
    QVERIFY(toolkit.isUnattended());
    toolkit.showMessage(box("COM error 1006"));
    QCOMPARE(seen.size(), std::size_t{1});

    // Unattended with a sink: the sink has it, nothing shows.
    toolkit.answerUnattended([&seen](const MessageBoxRequest& r) { seen.push_back(r.text); });
    toolkit.showMessage(box("Help"));
    QCOMPARE(seen, (std::vector<QString>{"Error: DOT Timeout", "Help"}));
    QCOMPARE(closer.closed, 2);
}

void TestScriptedToolkit::aBoxIsAnsweredAsTheToolkitStoodWhenItCame() {
    ScriptedToolkit toolkit;
    int answered = 0;
    // A script that ends itself while it answers, as a driver that finishes inside a box does:
    // the box it answered does not show after all, and the next one shows again.
    toolkit.answerUnattended([&toolkit, &answered](const MessageBoxRequest&) {
        ++answered;
        toolkit.showAttended();
    });
    Closer closer;
    toolkit.showMessage(box("Error: DOT Timeout"));
    QCOMPARE(answered, 1);
    QCOMPARE(closer.closed, 0);

    toolkit.showMessage(box("Help"));
    QCOMPARE(answered, 1);
    QCOMPARE(closer.closed, 1);
}

void TestScriptedToolkit::queuedDialogAnswersComeFirstWhetherOrNotAnyoneWatches() {
    ScriptedToolkit toolkit;
    const Closer closer;
    OpenDialogRequest request;
    request.previousPath = QStringLiteral("/fw/old.srec");
    // Attended, with an answer queued: no dialog shows.
    toolkit.answerNextOpenDialog(QStringLiteral("/fw/a.srec"));
    QCOMPARE(toolkit.showOpenDialog(request), QStringLiteral("/fw/a.srec"));

    toolkit.answerUnattended({});
    toolkit.answerNextOpenDialog(QStringLiteral("/fw/b.srec"));
    QCOMPARE(toolkit.showOpenDialog(request), QStringLiteral("/fw/b.srec"));
    // Nothing queued, nobody there: the dialog counts as cancelled.
    QCOMPARE(toolkit.showOpenDialog(request), QStringLiteral("/fw/old.srec"));
    QCOMPARE(closer.closed, 0);
}

QTEST_MAIN(TestScriptedToolkit)
#include "test_scripted_toolkit.moc"
