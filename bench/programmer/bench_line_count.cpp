// Counting lines, the streamer's first pass: LineReader::skipLine over the file opened as the
// streamer opens it (openFirmwareFile: unbuffered QFile), on a 256 MB S-record file that sits
// in the page cache. The median of five passes.

#include "bench/support/bench_report.h"
#include "bench/support/firmware_files.h"
#include "bench/support/recording_analysis.h"

#include "firmwarefile/firmware_file.h"
#include "firmwarefile/line_reader.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>

#include <string>
#include <vector>

using namespace norvak;
using namespace norvak::bench;

namespace {

constexpr int passes = 5;

struct Pass {
    qint64 lines = 0;
    Seconds time{};
};

Pass countPass(const QString& path) {
    const auto begin = std::chrono::steady_clock::now();
    const FirmwareOpening opening = openFirmwareFile(path);
    Pass pass;
    if (!opening.isOpen()) {
        printNote("cannot read " + path.toStdString() + ": " + opening.whyNot().toStdString());
        return pass;
    }
    QFile& file = opening.file();
    LineReader reader(file, [&file] { return file.size(); });
    while (reader.hasLine()) {
        ++pass.lines;
        reader.skipLine();
    }
    pass.time = std::chrono::steady_clock::now() - begin;
    return pass;
}

// Reads the file once, so that the passes find it in the page cache.
void warmUp(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return;
    }
    std::vector<char> block(1 << 20);
    while (file.read(block.data(), static_cast<qint64>(block.size())) > 0) {
    }
}

void measure(const std::string& name, const QString& path, const WrittenFile& written) {
    warmUp(path);
    std::vector<double> rates;
    qint64 lines = 0;
    for (int i = 0; i < passes; ++i) {
        const Pass pass = countPass(path);
        lines = pass.lines;
        rates.push_back(static_cast<double>(written.bytes) / 1e6 / pass.time.count());
    }
    if (lines != written.lines) {
        printNote(name + ": counted " + std::to_string(lines) + " lines of " +
                  std::to_string(written.lines));
    }
    printFigure(name + ", median of 5 passes", median(rates), "MB/s", atLeast(500));
}

} // namespace

int main(int argc, char** argv) {
    const QCoreApplication app(argc, argv);
    const Options options = parseOptions(argc, argv);
    const qint64 mib = options.quick ? 64 : 256;
    const qint64 size = mib << 20;

    const QTemporaryDir dir;
    const QString records = dir.filePath(QStringLiteral("records.srec"));
    const QString unbroken = dir.filePath(QStringLiteral("unbroken.srec"));
    const WrittenFile recordsFile = writeSrecBytes(records, size, {.lineEnd = "\r\n"});
    const WrittenFile unbrokenFile = writeUnbrokenFile(unbroken, size);

    printHeader();
    const std::string megabytes = std::to_string(mib) + " MiB";
    measure("Counting lines, " + megabytes + " S-records (CR LF)", records, recordsFile);
    printInfo("Counting lines, " + megabytes + " S-records: lines",
              static_cast<double>(recordsFile.lines), "lines");
    measure("Counting lines, " + megabytes + " without a line end", unbroken, unbrokenFile);
    return 0;
}
