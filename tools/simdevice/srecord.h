#pragma once

// Motorola S-records as the boot program checks them, and builders for test images.
//
// A record is "S", a type digit, a count byte, an address (2 bytes for S0/S1/S5/S9, 3 for
// S2/S6/S8, 4 for S3/S7), data and a checksum, all bytes as two hex digits (either case).
// The count covers address, data and checksum; the checksum is the ones' complement of the
// low byte of the sum of the count, address and data bytes.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace norvak {

enum class SrecError {
    None,
    NoLeadingS,    // the line does not start with 'S'
    BadType,       // no type digit, or a type without a defined address size (S4)
    BadHex,        // a character after the type that is not a hex digit
    OddLength,     // the hex part has an odd number of digits
    TooShort,      // fewer bytes than count, address and checksum need
    CountMismatch, // the count byte disagrees with the number of bytes on the line
    BadChecksum,
};

struct SrecRecord {
    int type = 0;
    std::uint32_t address = 0;
    std::vector<std::uint8_t> data;
};

struct SrecCheck {
    SrecError error = SrecError::None;
    SrecRecord record; // valid only when error is None

    [[nodiscard]] bool ok() const noexcept { return error == SrecError::None; }
};

// Number of address bytes of a record type, or nothing for an undefined type.
[[nodiscard]] std::optional<std::size_t> srecAddressSize(int type) noexcept;

// S7, S8 and S9 end a file.
[[nodiscard]] constexpr bool isSrecTermination(int type) noexcept {
    return type >= 7 && type <= 9;
}

// Checks one line, without its line end.
[[nodiscard]] SrecCheck checkSrecLine(std::string_view line);

// One record in upper-case hex, without a line end. Throws std::invalid_argument if the
// type is undefined, the address does not fit the type or the data is too long.
[[nodiscard]] std::string makeSrecLine(int type, std::uint32_t address,
                                       std::span<const std::uint8_t> data);

struct SrecImageOptions {
    int dataType = 1;                // S1, S2 or S3 data records; the end record follows (S9/S8/S7)
    std::size_t bytesPerRecord = 16; // data bytes per record
    std::uint32_t startAddress = 0;  // address of the first data byte
    std::uint32_t entryAddress = 0;  // address carried by the end record
    std::string header = "norvak";   // S0 payload
    bool withCount = false;          // add an S5 (or S6 beyond 65535 records) count record
    std::string lineEnd = "\r\n";    // "\r\n" or "\n"
};

// A whole file: S0 header, data records, optional count record and the end record, each
// line followed by lineEnd. Throws std::invalid_argument for options that cannot be encoded.
[[nodiscard]] std::string makeSrecImage(std::span<const std::uint8_t> bytes,
                                        const SrecImageOptions& options = {});

} // namespace norvak
