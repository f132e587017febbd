#pragma once

// What the characters of an S-record mean, for the checker's passes: hex digits, the address
// size of each record type, which types carry data and which end the file.

#include <QString>
#include <QtGlobal>

#include <array>

namespace norvak::cli::srec {

// Where a record's byte count and address begin, in characters from 1.
inline constexpr qint64 countColumn = 3;
inline constexpr qint64 addressColumn = 5;

constexpr std::array<signed char, 256> makeHexTable() {
    std::array<signed char, 256> table{};
    for (auto& value : table) {
        value = -1;
    }
    for (int c = '0'; c <= '9'; ++c) {
        table[c] = static_cast<signed char>(c - '0');
    }
    for (int c = 'A'; c <= 'F'; ++c) {
        table[c] = static_cast<signed char>(c - 'A' + 10);
    }
    for (int c = 'a'; c <= 'f'; ++c) {
        table[c] = static_cast<signed char>(c - 'a' + 10);
    }
    return table;
}
inline constexpr std::array<signed char, 256> hexTable = makeHexTable();

constexpr int addressSizeOf(int type) {
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
        return 0;
    }
}

constexpr bool isDataType(int type) {
    return type >= 1 && type <= 3;
}
constexpr bool isTerminationType(int type) {
    return type >= 7 && type <= 9;
}
// S1 data ends with S9, S2 with S8, S3 with S7.
constexpr int terminationFor(int dataType) {
    return 10 - dataType;
}

inline QString hex(quint64 value, int digits = 2) {
    return QStringLiteral("0x") +
           QString::number(value, 16).toUpper().rightJustified(digits, QLatin1Char('0'));
}

} // namespace norvak::cli::srec
