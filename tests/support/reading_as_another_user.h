#pragma once

// Root reads whatever a file's permissions say: a test of a file without read permission
// opens it under another user's file rights then. Linux only (setfsuid).

#include <QtGlobal>

#ifdef Q_OS_LINUX

#include <sys/fsuid.h>
#include <unistd.h>

namespace norvak::test {

// While it lives, files are opened with the rights of "nobody", also by root (whose file
// rights Linux takes from the filesystem user id); when `active` is false, nothing changes.
class ReadingAsAnotherUser {
public:
    explicit ReadingAsAnotherUser(bool active)
        : previous_(active && ::geteuid() == 0 ? ::setfsuid(nobody) : -1) {}
    ~ReadingAsAnotherUser() {
        if (previous_ >= 0) {
            ::setfsuid(static_cast<uid_t>(previous_));
        }
    }
    ReadingAsAnotherUser(const ReadingAsAnotherUser&) = delete;
    ReadingAsAnotherUser& operator=(const ReadingAsAnotherUser&) = delete;

private:
    static constexpr uid_t nobody = 65534;
    int previous_;
};

} // namespace norvak::test

#endif
