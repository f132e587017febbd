// The five speeds as every user of them sees them: the CLI's --speed, the window's speed
// list, the pause the streamer keeps after each line, and the CLI's texts that name them.
// They share one home; these numbers are written out here so that a change there shows.

#include "mainwindow/speed_list.h"
#include "tests/support/window_rig.h"
#include "tools/cli/check_report.h"
#include "tools/cli/cli_options.h"

#include <QTest>

#include <numeric>

using namespace norvak;
using namespace norvak::test;

class TestSpeedItems : public QObject {
    Q_OBJECT

private slots:
    void everySpeedPausesItsMilliseconds_data();
    void everySpeedPausesItsMilliseconds();
    void cliTextsNameTheSpeedsAndTheRate();
};

void TestSpeedItems::everySpeedPausesItsMilliseconds_data() {
    QTest::addColumn<int>("milliseconds");
    QTest::addColumn<int>("item");
    QTest::newRow("20") << 20 << 0;
    QTest::newRow("40") << 40 << 1;
    QTest::newRow("60") << 60 << 2;
    QTest::newRow("80") << 80 << 3;
    QTest::newRow("100") << 100 << 4;
}

void TestSpeedItems::everySpeedPausesItsMilliseconds() {
    QFETCH(int, milliseconds);
    QFETCH(int, item);
    const QString number = QString::number(milliseconds);

    const cli::ParsedCli parsed = cli::parseCli(QStringList{"norvak-flash-cli", "program", "--port",
                                                            "1", "--file", "a", "--speed", number});
    QVERIFY2(parsed.options, qPrintable(parsed.error));
    QCOMPARE(parsed.options->speedItem(), item);
    // The window's item starts with the same number, and the number alone names it.
    QCOMPARE(speedItems().at(item).section(QLatin1Char(' '), 0, 0), number);
    QCOMPARE(speedItemNamedBy(number), item);

    // Each of two lines is followed by exactly that pause.
    WindowRig rig;
    rig.show();
    rig.chooseSpeed(item);
    rig.startAndReachSending("S1000001\r\nS1000002\r\n");
    rig.toolkit.sleeps.clear();
    rig.tick(Milliseconds(1000));
    const Milliseconds slept =
        std::accumulate(rig.toolkit.sleeps.begin(), rig.toolkit.sleeps.end(), Milliseconds(0));
    QCOMPARE(slept.count(), 2 * milliseconds);
}

void TestSpeedItems::cliTextsNameTheSpeedsAndTheRate() {
    const QString usage = cli::usage(cli::Command::Program);
    QVERIFY2(usage.contains(QStringLiteral("[--speed 20|40|60|80|100]\n")), qPrintable(usage));
    QVERIFY2(
        usage.contains(QStringLiteral("--speed MS      pause after each line: 20, 40, 60, 80, 100 "
                                      "(default 60)")),
        qPrintable(usage));

    cli::SrecReport report;
    report.streamSeconds = {1.0, 2.0, 3.0, 4.0, 5.0};
    const QString text = cli::checkText(QStringLiteral("fw.srec"), report);
    QVERIFY2(text.contains(QStringLiteral("  Time on the line at 57600 baud, from the first line "
                                          "on:\n    --speed 20    ")),
             qPrintable(text));
    QVERIFY2(text.contains(QStringLiteral("    --speed 100   ")), qPrintable(text));
    const QByteArray json = cli::checkJson(QStringLiteral("fw.srec"), report);
    QVERIFY2(json.contains(R"("streamSeconds":{"100":5,"20":1,"40":2,"60":3,"80":4})"),
             json.constData());
}

QTEST_MAIN(TestSpeedItems)
#include "test_speed_items.moc"
