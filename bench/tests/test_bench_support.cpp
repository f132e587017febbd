// The helpers that turn what the benchmarks see into figures: goals, spans and arrivals read
// off a device recording, the generated firmware files, the scripted boot program and the
// process statistics. A wrong helper would print a wrong figure with a confident "yes".

#include "bench/support/awake_cores.h"
#include "bench/support/bench_report.h"
#include "bench/support/bench_rig.h"
#include "bench/support/boot_script.h"
#include "bench/support/firmware_files.h"
#include "bench/support/process_stats.h"
#include "bench/support/recording_analysis.h"
#include "tools/simdevice/srecord.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <initializer_list>
#include <limits>
#include <thread>

#include <pthread.h>
#include <sched.h>
#include <sys/mman.h>

using namespace norvak;
using namespace norvak::bench;
using namespace std::chrono_literals;

class TestBenchSupport : public QObject {
    Q_OBJECT

private slots:
    void goalsAreInclusiveAndNeverMetByAMissingValue();
    void streamSpanRunsFromTheFirstLineByteToTheLastLineFeed();
    void arrivalsAreCountedWithinTheWindowOfTheFirst();
    void lineGapsAndTheirDistribution();
    void linesRunFromTheirFirstPieceToTheirLineFeed();
    void medianAndDifferences();
    void spinnersKeepingTheCoresAwakeGiveWayToEveryOtherThread();
    void srecFilesHaveTheAskedLinesAndValidRecords();
    void srecFilesOfASizeAndUnbrokenFiles();
    void bootScriptAnswersAfterThePowerOnDelay();
    void processStatistics();
    void peakResidentCanBeReset();
};

namespace {

// A recording of `bytes`, the k-th arriving at k milliseconds.
SimRecording recordingOf(const std::string& bytes) {
    SimRecording recording;
    recording.received = bytes;
    for (std::size_t k = 0; k < bytes.size(); ++k) {
        recording.receivedAt.push_back(SimClock::time_point{} + std::chrono::milliseconds(k));
    }
    return recording;
}

// A recording of `bytes`, each arriving at its own time in milliseconds.
SimRecording recordingOf(const std::string& bytes, std::initializer_list<int> arrivalsMs) {
    SimRecording recording;
    recording.received = bytes;
    for (const int ms : arrivalsMs) {
        recording.receivedAt.push_back(SimClock::time_point{} + std::chrono::milliseconds(ms));
    }
    return recording;
}

QList<QByteArray> linesOf(const QString& path, QByteArray lineEnd) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return {};
    }
    QByteArray text = file.readAll();
    if (!text.endsWith(lineEnd)) {
        return {};
    }
    text.chop(lineEnd.size());
    return text.split('\n');
}

} // namespace

void TestBenchSupport::goalsAreInclusiveAndNeverMetByAMissingValue() {
    constexpr double missing = std::numeric_limits<double>::quiet_NaN();
    QVERIFY(atMost(1.01).metBy(1.01));
    QVERIFY(!atMost(1.01).metBy(1.0101));
    QVERIFY(atLeast(195).metBy(195));
    QVERIFY(!atLeast(195).metBy(194.9));
    QVERIFY(!atMost(3).metBy(missing));
    QVERIFY(!atLeast(0).metBy(missing));
    QCOMPARE(atMost(1.01).text(), std::string("<=1.01"));
    QCOMPARE(atLeast(500).text(), std::string(">=500"));
}

void TestBenchSupport::streamSpanRunsFromTheFirstLineByteToTheLastLineFeed() {
    //                                  0123456789012345
    const SimRecording recording = recordingOf("iiif"
                                               "S1a\nS1bb\nS9\n"
                                               "x");
    const auto span = streamSpan(recording, 4);
    QVERIFY(span);
    QCOMPARE(span->firstIndex, std::size_t{4});
    QCOMPARE(span->lastIndex, std::size_t{15});
    QCOMPARE(span->lineFeeds, std::size_t{3});
    QCOMPARE(span->duration, Seconds(0.011));
    QVERIFY(!streamSpan(recording, 16)); // nothing but "x" from there
    QVERIFY(!streamSpan(recordingOf("iiif"), 4));
    SimRecording torn = recording;
    torn.receivedAt.pop_back(); // times that do not match the bytes are no figure
    QVERIFY(!streamSpan(torn, 4));
}

void TestBenchSupport::arrivalsAreCountedWithinTheWindowOfTheFirst() {
    // "i" at 1, 2, 5, 9 and 10 ms; others between.
    const SimRecording recording = recordingOf("xii..i...ii");
    const Arrivals inNine = countArrivals(recording, 'i', 9ms);
    QCOMPARE(inNine.count, std::size_t{4}); // 1, 2, 5, 9: the one at 10 is 9 ms after the first
    QCOMPARE(inNine.longestGap, Millis(4));
    QCOMPARE(countArrivals(recording, 'i', 1s).count, std::size_t{5});
    QCOMPARE(countArrivals(recording, 'f', 1s).count, std::size_t{0});
}

void TestBenchSupport::lineGapsAndTheirDistribution() {
    const SimRecording recording = recordingOf("fab\ncd\nx", {0, 1, 2, 3, 23, 24, 25, 60});
    const std::vector<Millis> gaps = lineGaps(recording, 1);
    QCOMPARE(gaps.size(), std::size_t{2});
    QCOMPARE(gaps[0].count(), 20.0);
    QCOMPARE(gaps[1].count(), 35.0);

    std::vector<double> values(200);
    for (std::size_t i = 0; i < values.size(); ++i) {
        values[i] = static_cast<double>(values.size() - i); // 200 down to 1
    }
    const Distribution d = distribution(values);
    QCOMPARE(d.min, 1.0);
    QCOMPARE(d.p1, 2.0);
    QCOMPARE(d.median, 100.0);
    QCOMPARE(d.p99, 198.0);
    QCOMPARE(d.max, 200.0);
    QVERIFY(std::isnan(distribution({}).median));
}

void TestBenchSupport::linesRunFromTheirFirstPieceToTheirLineFeed() {
    const SimRecording recording = recordingOf("fab\ncd\nx", {0, 1, 2, 3, 23, 24, 26, 60});
    const std::vector<Millis> spans = lineSpans(recording, 1);
    QCOMPARE(spans.size(), std::size_t{2}); // "x" has no LF yet
    QCOMPARE(spans[0].count(), 2.0);
    QCOMPARE(spans[1].count(), 3.0);

    // In the program: the wake-up "i", "f" and the first line come before any LF and are
    // left out; a line of two pieces runs from the first piece's call to its LF's return.
    const std::chrono::steady_clock::time_point p0{};
    const auto call = [p0](int began, int returned, bool lineEnd) {
        return OutputCall{p0 + std::chrono::milliseconds(began),
                          p0 + std::chrono::milliseconds(returned), lineEnd};
    };
    const std::vector<OutputCall> calls = {
        call(0, 1, false),   call(5, 6, false),   call(10, 11, false), call(11, 12, true),
        call(40, 42, false), call(43, 44, false), call(44, 47, true),  call(70, 71, false)};
    const std::vector<double> host = hostLineSpans(calls);
    QCOMPARE(host.size(), std::size_t{1});
    QCOMPARE(host[0], 7.0);
    QCOMPARE(hostLineGaps(calls), (std::vector<double>{28.0, 23.0}));

    // The same two LFs at a device that got the wake-ups and "f" first: each is met with the
    // LF that arrived in its turn. An LF the program did not write (line noise) is left out.
    QCOMPARE(
        lineFeedDelays(calls, recordingOf("iifab\ncd\n", {0, 5, 10, 11, 11, 13, 40, 43, 49}), 3),
        (std::vector<double>{1.0, 2.0}));
    QCOMPARE(lineFeedDelays(
                 calls, recordingOf("iifab\ncd\n\n", {0, 5, 10, 11, 11, 13, 40, 43, 49, 60}), 3),
             (std::vector<double>{1.0, 2.0}));
}

void TestBenchSupport::medianAndDifferences() {
    QCOMPARE(median({5, 1, 3}), 3.0);
    QCOMPARE(median({4, 1, 3, 2}), 2.5);
    QVERIFY(std::isnan(median({})));
    QCOMPARE(countDifferences(u"abc", u"abc"), qsizetype{0});
    QCOMPARE(countDifferences(u"abcd", u"ab"), qsizetype{2});
    QCOMPARE(countDifferences(u"abcd", u"xbcyz"), qsizetype{3});
}

void TestBenchSupport::srecFilesHaveTheAskedLinesAndValidRecords() {
    const QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("fw.srec"));
    const WrittenFile written =
        writeSrecLines(path, 5000, {.bytesPerRecord = 16, .lineEnd = "\r\n"});
    QCOMPARE(written.lines, qint64{5000});
    QCOMPARE(written.lineEndBytes, qint64{10000});
    QCOMPARE(QFileInfo(path).size(), written.bytes);
    const QList<QByteArray> lines = linesOf(path, "\r\n");
    QCOMPARE(lines.size(), qsizetype{5000});
    std::uint32_t next = 0;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        QByteArray line = lines[i];
        if (i + 1 < lines.size()) {
            QVERIFY(line.endsWith('\r'));
            line.chop(1);
        }
        const SrecCheck check = checkSrecLine(line.toStdString());
        QVERIFY2(check.ok(), line.constData());
        const int expectedType = i == 0 ? 0 : (i + 1 == lines.size() ? 7 : 3);
        QCOMPARE(check.record.type, expectedType);
        if (expectedType == 3) { // consecutive addresses, 16 bytes each
            QCOMPARE(check.record.address, next);
            QCOMPARE(check.record.data.size(), std::size_t{16});
            next += 16;
        }
    }
    QVERIFY_THROWS_EXCEPTION(std::invalid_argument, writeSrecLines(path, 1));
}

void TestBenchSupport::srecFilesOfASizeAndUnbrokenFiles() {
    const QTemporaryDir dir;
    const QString records = dir.filePath(QStringLiteral("records.srec"));
    constexpr qint64 size = 3 << 20;
    const WrittenFile written = writeSrecBytes(records, size);
    QVERIFY(written.bytes >= size);
    QVERIFY(written.bytes < size + 64); // within one record of the size asked for
    QCOMPARE(QFileInfo(records).size(), written.bytes);
    QCOMPARE(linesOf(records, "\n").size(), written.lines);

    const QString unbroken = dir.filePath(QStringLiteral("unbroken.srec"));
    const qint64 odd = (1 << 20) + 12345; // not a whole number of blocks
    QCOMPARE(writeUnbrokenFile(unbroken, odd).bytes, odd);
    QFile file(unbroken);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray text = file.readAll();
    QCOMPARE(text.size(), odd);
    QVERIFY(!text.contains('\n'));
    QVERIFY(!text.contains('\r'));
}

void TestBenchSupport::bootScriptAnswersAfterThePowerOnDelay() {
    BootScript script(100ms);
    const BootScript::Clock::time_point t0{};
    QCOMPARE(script.take('i', t0).answer, std::string()); // the application runs
    QCOMPARE(script.take('i', t0 + 99ms).answer, std::string());
    const ScriptStep prompt = script.take('i', t0 + 100ms);
    QCOMPARE(prompt.answer, std::string(">"));
    QCOMPARE(prompt.event, ScriptEvent::Prompt);
    const ScriptStep again = script.take('i', t0 + 105ms);
    QCOMPARE(again.answer, std::string(">"));
    QCOMPARE(again.event, ScriptEvent::None);
    const ScriptStep ready = script.take('f', t0 + 440ms);
    QCOMPARE(ready.answer, std::string("_"));
    QCOMPARE(ready.event, ScriptEvent::ReadyRequest);
    QCOMPARE(script.take('S', t0 + 1s).event, ScriptEvent::FirstLineByte);
    QCOMPARE(script.take('3', t0 + 1s).event, ScriptEvent::None);
    QCOMPARE(script.take('\n', t0 + 1s).answer, std::string("."));
    for (const char c : std::string("S705000000000FA")) {
        QCOMPARE(script.take(c, t0 + 1s).answer, std::string());
    }
    const ScriptStep end = script.take('\n', t0 + 1s);
    QCOMPARE(end.answer, std::string(".P"));
    QCOMPARE(end.event, ScriptEvent::Programmed);
    // The next run powers on anew, after the new delay.
    script.setPowerOnDelay(50ms);
    QCOMPARE(script.take('i', t0 + 2s).answer, std::string());
    QCOMPARE(script.take('i', t0 + 2s + 50ms).event, ScriptEvent::Prompt);
}

void TestBenchSupport::processStatistics() {
    QVERIFY(statusBytes("VmRSS").value_or(0) > 1 << 20);
    QVERIFY(!statusBytes("NoSuchField"));
    const std::vector<long> before = threadIds();
    std::atomic<bool> stop = false;
    std::jthread busy([&stop] {
        while (!stop) {
        }
    });
    std::vector<long> during;
    QTRY_VERIFY((during = threadIds()).size() > before.size());
    long busyId = 0;
    for (const long id : during) {
        if (std::find(before.begin(), before.end(), id) == before.end()) {
            busyId = id;
        }
    }
    // /proc counts in clock ticks: wait until the busy thread has some.
    QTRY_VERIFY(threadCpuTime(busyId).value_or(0ns) > 0ns);
    stop = true;
    busy.join();
    QVERIFY(!threadCpuTime(busyId)); // gone
    QVERIFY(processCpuTime() >= threadCpuTime());
}

void TestBenchSupport::peakResidentCanBeReset() {
    constexpr std::size_t size = 64 << 20;
    void* block = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    QVERIFY(block != MAP_FAILED);
    std::memset(block, 1, size);
    const double peakWithBlock = statusBytes("VmHWM").value_or(0);
    ::munmap(block, size);
    QVERIFY(peakWithBlock >= statusBytes("VmRSS").value_or(0) + size / 2);
    if (!resetPeakResident()) {
        QSKIP("this kernel does not reset VmHWM");
    }
    QVERIFY(statusBytes("VmHWM").value_or(0) < peakWithBlock - size / 2);
}

// A spinner at the normal class would take time from the program it measures.
void TestBenchSupport::spinnersKeepingTheCoresAwakeGiveWayToEveryOtherThread() {
    AwakeCores awake;
    const auto spinners = awake.spinners();
    QCOMPARE(spinners.size(), std::size_t{std::max(1U, std::thread::hardware_concurrency())});
    for (const auto spinner : spinners) {
        int policy = -1;
        sched_param param{};
        QCOMPARE(pthread_getschedparam(spinner, &policy, &param), 0);
        QCOMPARE(policy, SCHED_IDLE);
    }
}

QTEST_GUILESS_MAIN(TestBenchSupport)
#include "test_bench_support.moc"
