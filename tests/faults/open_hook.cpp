#include "tests/faults/open_hook.h"

#include <QFile>

#include <cstdarg>
#include <dlfcn.h>
#include <fcntl.h>
#include <mutex>
#include <string>

namespace norvak::faults {

namespace {

struct OpenHook {
    std::mutex mutex;
    std::string path;
    int nth = 0;
    int opens = 0;
    std::function<void()> step;
};

OpenHook& hook() {
    static OpenHook instance;
    return instance;
}

// The step of the hook if this open is the one, disarmed first so that the step may open the
// path itself.
std::function<void()> takeStepFor(const char* path) {
    OpenHook& h = hook();
    const std::scoped_lock lock(h.mutex);
    if (!h.step || path == nullptr || h.path != path || ++h.opens != h.nth) {
        return {};
    }
    return std::exchange(h.step, {});
}

using OpenFunction = int (*)(const char*, int, ...);

OpenFunction realOpen64() {
    static const auto real = reinterpret_cast<OpenFunction>(::dlsym(RTLD_NEXT, "open64"));
    return real;
}

OpenFunction realOpen() {
    static const auto real = reinterpret_cast<OpenFunction>(::dlsym(RTLD_NEXT, "open"));
    return real;
}

mode_t modeOf(int flags, va_list arguments) {
    const bool creates = (flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE;
    return creates ? va_arg(arguments, mode_t) : 0;
}

} // namespace

void beforeOpen(const QString& path, int nth, std::function<void()> step) {
    OpenHook& h = hook();
    const std::scoped_lock lock(h.mutex);
    h.path = QFile::encodeName(path).toStdString();
    h.nth = nth;
    h.opens = 0;
    h.step = std::move(step);
}

void disarmOpenHook() {
    OpenHook& h = hook();
    const std::scoped_lock lock(h.mutex);
    h.step = {};
}

} // namespace norvak::faults

// Qt opens through open64; the firmware file is opened with open.
extern "C" int open64(const char* path, int flags, ...) {
    va_list arguments;
    va_start(arguments, flags);
    const mode_t mode = norvak::faults::modeOf(flags, arguments);
    va_end(arguments);
    if (const auto step = norvak::faults::takeStepFor(path)) {
        step();
    }
    return norvak::faults::realOpen64()(path, flags, mode);
}

extern "C" int open(const char* path, int flags, ...) {
    va_list arguments;
    va_start(arguments, flags);
    const mode_t mode = norvak::faults::modeOf(flags, arguments);
    va_end(arguments);
    if (const auto step = norvak::faults::takeStepFor(path)) {
        step();
    }
    return norvak::faults::realOpen()(path, flags, mode);
}
