#include "firmwarefile/srec_check.h"

namespace norvak::cli {

SrecSeverity severityOf(SrecProblemKind kind) {
    switch (kind) {
    case SrecProblemKind::EmptyLine:
    case SrecProblemKind::AddressRepeated:
    case SrecProblemKind::AddressBackwards:
    case SrecProblemKind::HeaderMissing:
    case SrecProblemKind::LongRecord:
        return SrecSeverity::Warning;
    default:
        return SrecSeverity::Error;
    }
}

const char* kindName(SrecProblemKind kind) {
    switch (kind) {
    case SrecProblemKind::EmptyLine:
        return "empty-line";
    case SrecProblemKind::NotARecord:
        return "not-a-record";
    case SrecProblemKind::BadType:
        return "record-type";
    case SrecProblemKind::BadHexDigit:
        return "hex-digit";
    case SrecProblemKind::OddDigitCount:
        return "odd-digit-count";
    case SrecProblemKind::TooShort:
        return "too-short";
    case SrecProblemKind::CountMismatch:
        return "byte-count";
    case SrecProblemKind::BadChecksum:
        return "checksum";
    case SrecProblemKind::CountRecordMismatch:
        return "record-count";
    case SrecProblemKind::TerminationMissing:
        return "termination-missing";
    case SrecProblemKind::TerminationRepeated:
        return "termination-repeated";
    case SrecProblemKind::RecordAfterTermination:
        return "record-after-termination";
    case SrecProblemKind::TerminationWrongType:
        return "termination-type";
    case SrecProblemKind::AddressConflict:
        return "address-conflict";
    case SrecProblemKind::AddressRepeated:
        return "address-repeated";
    case SrecProblemKind::AddressBackwards:
        return "address-backwards";
    case SrecProblemKind::HeaderMissing:
        return "header-missing";
    case SrecProblemKind::LongRecord:
        return "long-record";
    case SrecProblemKind::UnsentLastByte:
        return "unsent-last-byte";
    }
    return "unknown";
}

QString SrecReport::lineEndName() const {
    const int kinds =
        (lineEnds.crLf > 0 ? 1 : 0) + (lineEnds.lf > 0 ? 1 : 0) + (lineEnds.cr > 0 ? 1 : 0);
    if (kinds > 1) {
        return QStringLiteral("mixed");
    }
    if (lineEnds.crLf > 0) {
        return QStringLiteral("CR LF");
    }
    if (lineEnds.lf > 0) {
        return QStringLiteral("LF");
    }
    if (lineEnds.cr > 0) {
        return QStringLiteral("CR");
    }
    return QStringLiteral("none");
}

} // namespace norvak::cli
