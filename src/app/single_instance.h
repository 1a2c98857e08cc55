// Single-instance guard "QUILLON.MUTEX". On Windows a named mutex; on POSIX an exclusive
// flock on a file in the user's runtime directory, which the kernel releases when the
// process dies, so a crashed instance never blocks the next start.
#pragma once

#include <string>

namespace quillon::app {

inline constexpr const char* kInstanceGuardName = "QUILLON.MUTEX";

class SingleInstance {
public:
    // Tries to take the guard. `dir` overrides where the POSIX lock file lives (tests);
    // empty means $XDG_RUNTIME_DIR, else /tmp with the user id in the name.
    explicit SingleInstance(const std::string& dir = {});
    ~SingleInstance();
    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;

    // True when another instance holds the guard.
    bool already_running() const { return already_running_; }
    // Gives the guard up; also done by the destructor.
    void release();

private:
    bool already_running_ = false;
    void* handle_ = nullptr;  // Win32 HANDLE
    int fd_ = -1;             // POSIX lock file
};

}  // namespace quillon::app
