#include "mainwindow/termination_signals.h"

#include <QSocketNotifier>

#include <array>
#include <csignal>

#include <sys/signalfd.h>
#include <unistd.h>

namespace norvak {

namespace {

constexpr int signalExitBase = 128;
constexpr std::array terminationSignals{SIGTERM, SIGHUP, SIGINT};

bool ignoredSinceStart(int signalNumber) {
    struct sigaction action {};
    return ::sigaction(signalNumber, nullptr, &action) == 0 && action.sa_handler == SIG_IGN;
}

// The signals this program answers by closing its window. Linux keeps even an ignored signal
// pending while it is blocked, so one that was ignored at start (nohup) is left out.
sigset_t watchedSignals() {
    sigset_t set;
    sigemptyset(&set);
    for (const int signalNumber : terminationSignals) {
        if (!ignoredSinceStart(signalNumber)) {
            sigaddset(&set, signalNumber);
        }
    }
    return set;
}

} // namespace

void TerminationSignals::block() {
    const sigset_t set = watchedSignals();
    ::sigprocmask(SIG_BLOCK, &set, nullptr);
}

bool TerminationSignals::pending() {
    sigset_t waiting;
    sigemptyset(&waiting);
    if (::sigpending(&waiting) != 0) {
        return false;
    }
    const sigset_t watched = watchedSignals();
    for (const int signalNumber : terminationSignals) {
        if (sigismember(&watched, signalNumber) == 1 && sigismember(&waiting, signalNumber) == 1) {
            return true;
        }
    }
    return false;
}

TerminationSignals::TerminationSignals() {
    const sigset_t set = watchedSignals();
    descriptor_ = ::signalfd(-1, &set, SFD_NONBLOCK | SFD_CLOEXEC);
    if (descriptor_ < 0) {
        // Unwatched, the signals get their default action back rather than being lost.
        ::sigprocmask(SIG_UNBLOCK, &set, nullptr);
        return;
    }
    notifier_ = std::make_unique<QSocketNotifier>(descriptor_, QSocketNotifier::Read);
    connect(notifier_.get(), &QSocketNotifier::activated, this, &TerminationSignals::readSignals);
}

TerminationSignals::~TerminationSignals() {
    notifier_.reset();
    if (descriptor_ >= 0) {
        ::close(descriptor_);
    }
}

int TerminationSignals::exitStatus(int normalStatus) const {
    return first_ == 0 ? normalStatus : signalExitBase + first_;
}

void TerminationSignals::readSignals() {
    signalfd_siginfo info{};
    while (::read(descriptor_, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
        const auto signalNumber = static_cast<int>(info.ssi_signo);
        if (first_ == 0) {
            first_ = signalNumber;
        }
        emit received(signalNumber);
    }
}

} // namespace norvak
