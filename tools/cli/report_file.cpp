#include "tools/cli/report_file.h"

#ifdef Q_OS_WIN
#include <QDir>
#include <windows.h>
#else
#include <cerrno>
#include <cstring>
#include <unistd.h>
#endif

namespace norvak::cli {

#ifdef Q_OS_WIN

namespace {

QString lastErrorText() {
    return qt_error_string(static_cast<int>(::GetLastError()));
}

} // namespace

ReportFile::ReportFile(const QString& path)
    : path_(path) {
    const QString native = QDir::toNativeSeparators(path);
    handle_ = ::CreateFileW(reinterpret_cast<LPCWSTR>(native.utf16()), GENERIC_WRITE,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle_ == INVALID_HANDLE_VALUE) {
        whyNot_ = lastErrorText();
    }
}

ReportFile::~ReportFile() {
    if (handle_ != INVALID_HANDLE_VALUE) {
        ::CloseHandle(handle_);
    }
}

std::optional<QString> ReportFile::append(const QByteArray& line) {
    if (!isOpen()) {
        return whyNot_;
    }
    // An offset of all ones writes at the end of the file as it is at that moment, as a
    // handle opened for appending only would: another process's line cannot come between.
    OVERLAPPED atTheEnd{};
    atTheEnd.Offset = 0xFFFFFFFF;
    atTheEnd.OffsetHigh = 0xFFFFFFFF;
    DWORD written = 0;
    if (!::WriteFile(handle_, line.constData(), static_cast<DWORD>(line.size()), &written,
                     &atTheEnd) ||
        written != static_cast<DWORD>(line.size())) {
        return lastErrorText();
    }
    if (!::FlushFileBuffers(handle_)) {
        return lastErrorText();
    }
    return std::nullopt;
}

#else

ReportFile::ReportFile(const QString& path)
    : path_(path)
    , file_(path) {
    // Unbuffered: a line reaches the system in the one write that appends it.
    if (!file_.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered)) {
        whyNot_ = file_.errorString();
    }
}

ReportFile::~ReportFile() = default;

std::optional<QString> ReportFile::append(const QByteArray& line) {
    if (!isOpen()) {
        return whyNot_;
    }
    if (file_.write(line) != line.size() || !file_.flush()) {
        return file_.errorString();
    }
    if (::fsync(file_.handle()) != 0) {
        return QString::fromLocal8Bit(std::strerror(errno));
    }
    return std::nullopt;
}

#endif

} // namespace norvak::cli
