#include "firmwarefile/srec_check.h"

#include "firmwarefile/srec_record.h"

#include <algorithm>
#include <iterator>
#include <map>

// The checker's rules for the file as a whole: the count records, the one termination record
// and where it stands, the header, and the data records' addresses.

namespace norvak::cli {

using srec::addressColumn;
using srec::hex;
using srec::isDataType;
using srec::isTerminationType;
using srec::terminationFor;

namespace {

// Adds [first, end) to merged ranges (first -> end), joining every range it touches.
void addMerged(std::map<quint64, quint64>& ranges, quint64 first, quint64 end) {
    auto it = ranges.upper_bound(first);
    if (it != ranges.begin() && std::prev(it)->second >= first) {
        it = std::prev(it);
    }
    quint64 mergedFirst = first;
    quint64 mergedEnd = end;
    while (it != ranges.end() && it->first <= mergedEnd) {
        mergedFirst = std::min(mergedFirst, it->first);
        mergedEnd = std::max(mergedEnd, it->second);
        it = ranges.erase(it);
    }
    ranges.emplace(mergedFirst, mergedEnd);
}

} // namespace

void SrecChecker::checkRecordInFile() {
    ++report_.recordsByType[static_cast<std::size_t>(type_)];
    const qint64 dataBytes = bytes_ - 2 - addressSize_;
    if (isDataType(type_)) {
        ++report_.dataRecords;
        report_.dataBytes += dataBytes;
        widestDataType_ = std::max(widestDataType_, type_);
    } else if (type_ == 0 && !report_.header) {
        report_.header = headerBytes_.first(std::min(headerBytes_.size(), dataBytes));
    }

    if (terminationLine_ != 0) {
        if (isTerminationType(type_)) {
            problem(SrecProblemKind::TerminationRepeated, 1,
                    QStringLiteral("a second termination record; the first is on line %1")
                        .arg(terminationLine_));
        } else if (!recordAfterTerminationReported_) {
            // Once: what follows a misplaced termination record is one mistake, not many.
            recordAfterTerminationReported_ = true;
            afterTerminationLine_ = line_;
            problem(SrecProblemKind::RecordAfterTermination, 1,
                    QStringLiteral("a record after the termination record on line %1")
                        .arg(terminationLine_));
        }
        if (isDataType(type_) && dataBytes > 0) {
            checkDataAddresses(address_, address_ + static_cast<quint64>(dataBytes));
        }
        return;
    }
    if (isDataType(type_)) {
        if (dataBytes > 0) {
            checkDataAddresses(address_, address_ + static_cast<quint64>(dataBytes));
        }
    } else if (type_ == 5 || type_ == 6) {
        // The count record counts the data records sent before it.
        const qint64 before = report_.dataRecords;
        if (address_ != static_cast<quint64>(before)) {
            problem(SrecProblemKind::CountRecordMismatch, addressColumn,
                    QStringLiteral("S%1 counts %2 data records, but %3 came before it")
                        .arg(type_)
                        .arg(address_)
                        .arg(before));
        }
    } else if (isTerminationType(type_)) {
        terminationLine_ = line_;
        if (widestDataType_ != 0 && type_ != terminationFor(widestDataType_)) {
            problem(SrecProblemKind::TerminationWrongType, 2,
                    QStringLiteral("S%1 does not end S%2 data records: S%3 does")
                        .arg(type_)
                        .arg(widestDataType_)
                        .arg(terminationFor(widestDataType_)));
        }
    }
}

void SrecChecker::checkDataAddresses(quint64 first, quint64 end) {
    // Nearly every record continues where the one before ended, at the top of the image.
    if (!ranges_.empty() && std::prev(ranges_.end())->second == first) {
        std::prev(ranges_.end())->second = end;
        previousDataEnd_ = end;
        return;
    }
    // The ranges the record reaches into: the first that could, and those after it.
    auto touched = ranges_.upper_bound(first);
    if (touched != ranges_.begin() && std::prev(touched)->second >= first) {
        touched = std::prev(touched);
    }
    std::optional<AddressRange> firstOverlap;
    for (auto it = touched; it != ranges_.end() && it->first < end; ++it) {
        const quint64 from = std::max(first, it->first);
        const quint64 to = std::min(end, it->second);
        if (from < to) {
            if (!firstOverlap) {
                firstOverlap = AddressRange{from, to};
            }
            addMerged(givenAgain_, from, to);
        }
    }
    const int digits = 2 * addressSize_;
    if (firstOverlap && !lineFailed_) {
        // An error until the second pass finds the same data there.
        ++givenAgainProblems_;
        problem(SrecProblemKind::AddressConflict, addressColumn,
                QStringLiteral("bytes %1-%2 were given before")
                    .arg(hex(firstOverlap->first, digits), hex(firstOverlap->end - 1, digits)));
    } else if (previousDataEnd_ && first < *previousDataEnd_) {
        problem(SrecProblemKind::AddressBackwards, addressColumn,
                QStringLiteral("address %1 is below the end of the record before (%2): some "
                               "boot programs erase a flash page when its first record arrives, "
                               "and a record that comes back to a written page erases it")
                    .arg(hex(first, digits), hex(*previousDataEnd_ - 1, digits)));
    }
    previousDataEnd_ = end;
    addMerged(ranges_, first, end);
}

} // namespace norvak::cli
