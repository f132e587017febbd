#pragma once

// The file `program --report FILE` appends its run's line to. Several programs append to one
// file at once (one per device on a rig): each line goes out in one write to the file's end,
// as the system appends (O_APPEND; on Windows a write at the end-of-file offset), so lines of
// different runs never interleave nor overwrite each other; then it is flushed to the disk
// before the program ends.

#include <QByteArray>
#include <QString>

#include <optional>

#ifndef Q_OS_WIN
#include <QFile>
#endif

namespace norvak::cli {

class ReportFile {
public:
    // Opens `path` for appending, creating it when it does not exist.
    explicit ReportFile(const QString& path);
    ~ReportFile();
    ReportFile(const ReportFile&) = delete;
    ReportFile& operator=(const ReportFile&) = delete;

    [[nodiscard]] bool isOpen() const { return whyNot_.isEmpty(); }
    // Why it could not be opened, in the system's words.
    [[nodiscard]] const QString& whyNot() const { return whyNot_; }
    [[nodiscard]] const QString& path() const { return path_; }

    // Appends `line` (with its LF) in one write and waits until it is on the disk; why not,
    // when it could not.
    [[nodiscard]] std::optional<QString> append(const QByteArray& line);

private:
    QString path_;
    QString whyNot_;
#ifdef Q_OS_WIN
    void* handle_ = nullptr; // a HANDLE; INVALID_HANDLE_VALUE when not open
#else
    QFile file_;
#endif
};

} // namespace norvak::cli
