#pragma once

// Firmware files of any size for the benchmarks, written as they are generated so that even
// a 1 GB file never sits in memory: an S0 header, S3 data records with pseudo-random bytes
// and an S7 end record.

#include <QString>
#include <QtGlobal>

#include <string>

namespace norvak::bench {

struct SrecLayout {
    int bytesPerRecord = 16;
    std::string lineEnd = "\n";
};

struct WrittenFile {
    qint64 bytes = 0;
    qint64 lines = 0;
    qint64 lineEndBytes = 0; // bytes of the line ends, all lines together
};

// Exactly `lines` lines (at least 2: the header and the end record).
// Throws std::runtime_error when the file cannot be written.
WrittenFile writeSrecLines(const QString& path, qint64 lines, const SrecLayout& layout = {});
// Whole records until at least `bytes` bytes are written.
WrittenFile writeSrecBytes(const QString& path, qint64 bytes, const SrecLayout& layout = {});
// `bytes` hex digits without any line end: one endless line.
WrittenFile writeUnbrokenFile(const QString& path, qint64 bytes);

} // namespace norvak::bench
