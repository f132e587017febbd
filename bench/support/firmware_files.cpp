#include "bench/support/firmware_files.h"

#include "tools/simdevice/srecord.h"

#include <QFile>

#include <array>
#include <cstdint>
#include <functional>
#include <random>
#include <stdexcept>
#include <vector>

namespace norvak::bench {

namespace {

constexpr qsizetype flushSize = 1 << 20;

// Buffers the generated text and writes it in large blocks.
class FileWriter {
public:
    explicit FileWriter(const QString& path)
        : file_(path) {
        if (!file_.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
            throw std::runtime_error("cannot write " + path.toStdString());
        }
        pending_.reserve(static_cast<std::size_t>(flushSize) * 2);
    }

    void append(std::string_view text) {
        pending_ += text;
        if (static_cast<qsizetype>(pending_.size()) >= flushSize) {
            flush();
        }
    }

    qint64 finish() {
        flush();
        file_.close();
        return written_;
    }

private:
    void flush() {
        const auto size = static_cast<qint64>(pending_.size());
        if (file_.write(pending_.data(), size) != size) {
            throw std::runtime_error("cannot write " + file_.fileName().toStdString());
        }
        written_ += size;
        pending_.clear();
    }

    QFile file_;
    std::string pending_;
    qint64 written_ = 0;
};

// Writes records while `more` says so, given the bytes written so far.
WrittenFile writeRecords(const QString& path, const SrecLayout& layout,
                         const std::function<bool(qint64 records, qint64 bytes)>& more) {
    FileWriter out(path);
    const std::string header = "norvak benchmark";
    const std::vector<std::uint8_t> headerBytes(header.begin(), header.end());
    WrittenFile written;
    const auto put = [&](const std::string& line) {
        out.append(line);
        out.append(layout.lineEnd);
        written.bytes += static_cast<qint64>(line.size() + layout.lineEnd.size());
        written.lineEndBytes += static_cast<qint64>(layout.lineEnd.size());
        ++written.lines;
    };
    put(makeSrecLine(0, 0, headerBytes));
    std::minstd_rand random(20240101);
    std::vector<std::uint8_t> data(static_cast<std::size_t>(layout.bytesPerRecord));
    std::uint32_t address = 0;
    for (qint64 records = 0; more(records, written.bytes); ++records) {
        for (auto& b : data) {
            b = static_cast<std::uint8_t>(random());
        }
        put(makeSrecLine(3, address, data));
        address += static_cast<std::uint32_t>(data.size());
    }
    put(makeSrecLine(7, 0, {}));
    out.finish();
    return written;
}

} // namespace

WrittenFile writeSrecLines(const QString& path, qint64 lines, const SrecLayout& layout) {
    if (lines < 2) {
        throw std::invalid_argument("a firmware file has at least a header and an end record");
    }
    return writeRecords(path, layout, [dataRecords = lines - 2](qint64 records, qint64) {
        return records < dataRecords;
    });
}

WrittenFile writeSrecBytes(const QString& path, qint64 bytes, const SrecLayout& layout) {
    // The end record is short: stop adding data records once only it is missing.
    const auto endRecord =
        static_cast<qint64>(makeSrecLine(7, 0, {}).size() + layout.lineEnd.size());
    return writeRecords(path, layout, [bytes, endRecord](qint64, qint64 written) {
        return written + endRecord < bytes;
    });
}

WrittenFile writeUnbrokenFile(const QString& path, qint64 bytes) {
    FileWriter out(path);
    static constexpr std::string_view digits = "0123456789ABCDEF";
    std::string block(static_cast<std::size_t>(flushSize), '0');
    for (std::size_t i = 0; i < block.size(); ++i) {
        block[i] = digits[(i * 7 + i / 16) % digits.size()];
    }
    for (qint64 left = bytes; left > 0;) {
        const auto take = std::min<qint64>(left, static_cast<qint64>(block.size()));
        out.append(std::string_view(block.data(), static_cast<std::size_t>(take)));
        left -= take;
    }
    return {.bytes = out.finish(), .lines = 1, .lineEndBytes = 0};
}

} // namespace norvak::bench
