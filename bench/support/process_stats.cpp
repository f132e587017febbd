#include "process_stats.h"

#include <QFile>

#include <ctime>
#include <sys/resource.h>

namespace norvak::bench {

namespace {

std::chrono::nanoseconds toDuration(const timeval& t) {
    return std::chrono::seconds(t.tv_sec) + std::chrono::microseconds(t.tv_usec);
}

} // namespace

std::chrono::nanoseconds threadCpuTime() {
    timespec t{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return std::chrono::seconds(t.tv_sec) + std::chrono::nanoseconds(t.tv_nsec);
}

std::chrono::nanoseconds processCpuTime() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return toDuration(usage.ru_utime) + toDuration(usage.ru_stime);
}

std::optional<double> statusBytes(std::string_view field) {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly | QIODevice::Text))
        return std::nullopt;
    const QByteArray prefix = QByteArray(field.data(), static_cast<qsizetype>(field.size())) + ':';
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (!line.startsWith(prefix))
            continue;
        // "VmRSS:	   12345 kB"
        const QList<QByteArray> words = line.mid(prefix.size()).simplified().split(' ');
        bool ok = false;
        const double kib = words.value(0).toDouble(&ok);
        if (ok && words.value(1) == "kB")
            return kib * 1024.0;
    }
    return std::nullopt;
}

bool resetPeakResident() {
    QFile clearRefs(QStringLiteral("/proc/self/clear_refs"));
    return clearRefs.open(QIODevice::WriteOnly) && clearRefs.write("5") == 1;
}

} // namespace norvak::bench
