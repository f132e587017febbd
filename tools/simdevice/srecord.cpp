#include "tools/simdevice/srecord.h"

#include <algorithm>
#include <numeric>
#include <stdexcept>

namespace norvak {
namespace {

constexpr std::size_t maxCount = 255;

std::optional<std::uint8_t> hexValue(char c) noexcept {
    if (c >= '0' && c <= '9') {
        return static_cast<std::uint8_t>(c - '0');
    }
    if (c >= 'A' && c <= 'F') {
        return static_cast<std::uint8_t>(c - 'A' + 10);
    }
    if (c >= 'a' && c <= 'f') {
        return static_cast<std::uint8_t>(c - 'a' + 10);
    }
    return std::nullopt;
}

std::uint8_t checksumOf(std::span<const std::uint8_t> bytes) noexcept {
    const unsigned sum = std::accumulate(bytes.begin(), bytes.end(), 0U);
    return static_cast<std::uint8_t>(~sum & 0xFFU);
}

void appendHex(std::string& out, std::uint8_t byte) {
    constexpr std::string_view digits = "0123456789ABCDEF";
    out += digits[byte >> 4U];
    out += digits[byte & 0x0FU];
}

std::uint32_t addressLimit(std::size_t addressSize) noexcept {
    return addressSize >= 4 ? 0xFFFFFFFFU : (1U << (8U * addressSize)) - 1U;
}

} // namespace

std::optional<std::size_t> srecAddressSize(int type) noexcept {
    switch (type) {
    case 0:
    case 1:
    case 5:
    case 9:
        return 2;
    case 2:
    case 6:
    case 8:
        return 3;
    case 3:
    case 7:
        return 4;
    default:
        return std::nullopt;
    }
}

SrecCheck checkSrecLine(std::string_view line) {
    SrecCheck result;
    if (line.empty() || line.front() != 'S') {
        result.error = SrecError::NoLeadingS;
        return result;
    }
    const int type = line.size() > 1 && line[1] >= '0' && line[1] <= '9' ? line[1] - '0' : -1;
    const auto addressSize = srecAddressSize(type);
    if (!addressSize) {
        result.error = SrecError::BadType;
        return result;
    }
    const std::string_view hex = line.substr(2);
    if (!std::all_of(hex.begin(), hex.end(), [](char c) { return hexValue(c).has_value(); })) {
        result.error = SrecError::BadHex;
        return result;
    }
    if (hex.size() % 2 != 0) {
        result.error = SrecError::OddLength;
        return result;
    }
    std::vector<std::uint8_t> bytes(hex.size() / 2);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] =
            static_cast<std::uint8_t>((*hexValue(hex[2 * i]) << 4U) | *hexValue(hex[2 * i + 1]));
    }
    // count, address, checksum
    if (bytes.size() < 1 + *addressSize + 1) {
        result.error = SrecError::TooShort;
        return result;
    }
    if (bytes.front() != bytes.size() - 1) {
        result.error = SrecError::CountMismatch;
        return result;
    }
    const auto covered = std::span<const std::uint8_t>(bytes).first(bytes.size() - 1);
    if (checksumOf(covered) != bytes.back()) {
        result.error = SrecError::BadChecksum;
        return result;
    }
    result.record.type = type;
    for (std::size_t i = 0; i < *addressSize; ++i) {
        result.record.address = (result.record.address << 8U) | bytes[1 + i];
    }
    result.record.data.assign(bytes.begin() + static_cast<std::ptrdiff_t>(1 + *addressSize),
                              bytes.end() - 1);
    return result;
}

std::string makeSrecLine(int type, std::uint32_t address, std::span<const std::uint8_t> data) {
    const auto addressSize = srecAddressSize(type);
    if (!addressSize) {
        throw std::invalid_argument("undefined S-record type " + std::to_string(type));
    }
    if (address > addressLimit(*addressSize)) {
        throw std::invalid_argument("address does not fit the S-record type");
    }
    if (*addressSize + data.size() + 1 > maxCount) {
        throw std::invalid_argument("too many data bytes for one S-record");
    }
    std::vector<std::uint8_t> bytes;
    bytes.reserve(1 + *addressSize + data.size());
    bytes.push_back(static_cast<std::uint8_t>(*addressSize + data.size() + 1));
    for (std::size_t i = *addressSize; i-- > 0;) {
        bytes.push_back(static_cast<std::uint8_t>(address >> (8U * i)));
    }
    bytes.insert(bytes.end(), data.begin(), data.end());

    std::string line;
    line.reserve(2 + 2 * (bytes.size() + 1));
    line += 'S';
    line += static_cast<char>('0' + type);
    for (const std::uint8_t b : bytes) {
        appendHex(line, b);
    }
    appendHex(line, checksumOf(bytes));
    return line;
}

std::string makeSrecImage(std::span<const std::uint8_t> bytes, const SrecImageOptions& options) {
    if (options.dataType < 1 || options.dataType > 3) {
        throw std::invalid_argument("data records are S1, S2 or S3");
    }
    if (options.bytesPerRecord == 0) {
        throw std::invalid_argument("a data record needs at least one byte");
    }
    const int endType = 10 - options.dataType; // S1->S9, S2->S8, S3->S7
    std::string image;
    const auto addLine = [&](int type, std::uint32_t address, std::span<const std::uint8_t> data) {
        image += makeSrecLine(type, address, data);
        image += options.lineEnd;
    };

    const std::vector<std::uint8_t> header(options.header.begin(), options.header.end());
    addLine(0, 0, header);
    std::size_t records = 0;
    for (std::size_t offset = 0; offset < bytes.size(); offset += options.bytesPerRecord) {
        const auto chunk =
            bytes.subspan(offset, std::min(options.bytesPerRecord, bytes.size() - offset));
        addLine(options.dataType, options.startAddress + static_cast<std::uint32_t>(offset), chunk);
        ++records;
    }
    if (options.withCount) {
        addLine(records > 0xFFFF ? 6 : 5, static_cast<std::uint32_t>(records), {});
    }
    addLine(endType, options.entryAddress, {});
    return image;
}

} // namespace norvak
