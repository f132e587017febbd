#include "bench/support/process_stats.h"

#include <QDir>
#include <QFile>

#include <ctime>
#include <sys/resource.h>
#include <unistd.h>

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

std::vector<long> threadIds() {
    std::vector<long> ids;
    const QDir tasks(QStringLiteral("/proc/self/task"));
    for (const QString& name : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        bool ok = false;
        const long id = name.toLong(&ok);
        if (ok) {
            ids.push_back(id);
        }
    }
    return ids;
}

std::optional<std::chrono::nanoseconds> threadCpuTime(long threadId) {
    QFile stat(QStringLiteral("/proc/self/task/%1/stat").arg(threadId));
    if (!stat.open(QIODevice::ReadOnly)) {
        return std::nullopt;
    }
    // "tid (name) state ..." - the name may hold blanks; fields count from after it.
    const QByteArray line = stat.readAll();
    const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
    constexpr int utime = 11; // fields 14 and 15 of the whole line
    constexpr int stime = 12;
    if (fields.size() <= stime) {
        return std::nullopt;
    }
    const double ticks = fields[utime].toDouble() + fields[stime].toDouble();
    const double perSecond = static_cast<double>(::sysconf(_SC_CLK_TCK));
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
        std::chrono::duration<double>(ticks / perSecond));
}

std::optional<double> statusBytes(std::string_view field) {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly | QIODevice::Text)) {
        return std::nullopt;
    }
    const QByteArray prefix = QByteArray(field.data(), static_cast<qsizetype>(field.size())) + ':';
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (!line.startsWith(prefix)) {
            continue;
        }
        // "VmRSS:	   12345 kB"
        const QList<QByteArray> words = line.mid(prefix.size()).simplified().split(' ');
        bool ok = false;
        const double kib = words.value(0).toDouble(&ok);
        if (ok && words.value(1) == "kB") {
            return kib * 1024.0;
        }
    }
    return std::nullopt;
}

bool resetPeakResident() {
    QFile clearRefs(QStringLiteral("/proc/self/clear_refs"));
    return clearRefs.open(QIODevice::WriteOnly) && clearRefs.write("5") == 1;
}

} // namespace norvak::bench
