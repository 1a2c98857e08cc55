#include "app/single_instance.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

namespace quillon::app {
namespace {

class TempDir {
public:
    TempDir() {
        char tmpl[] = "/tmp/quillon-guard-XXXXXX";
        path_ = ::mkdtemp(tmpl);
    }
    ~TempDir() { std::filesystem::remove_all(path_); }
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

// Starts a child that takes the guard, reports through a pipe and waits to be killed.
pid_t SpawnHolder(const std::string& dir) {
    int fds[2];
    if (::pipe(fds) != 0) return -1;
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(fds[0]);
        SingleInstance guard(dir);
        const char ok = guard.already_running() ? 'n' : 'y';
        if (::write(fds[1], &ok, 1) != 1) ::_exit(2);
        for (;;) ::pause();
    }
    ::close(fds[1]);
    char ok = 0;
    const bool got = ::read(fds[0], &ok, 1) == 1 && ok == 'y';
    ::close(fds[0]);
    return got ? pid : -1;
}

TEST(SingleInstance, SecondInstanceSeesTheFirstUntilItDies) {
    TempDir dir;
    const pid_t holder = SpawnHolder(dir.path());
    ASSERT_GT(holder, 0);

    EXPECT_TRUE(SingleInstance(dir.path()).already_running());
    EXPECT_TRUE(SingleInstance(dir.path()).already_running());  // asking does not take it

    // A crashed instance (SIGKILL: no clean-up) never blocks the next start.
    ::kill(holder, SIGKILL);
    ::waitpid(holder, nullptr, 0);
    SingleInstance next(dir.path());
    EXPECT_FALSE(next.already_running());
}

TEST(SingleInstance, ReleaseLetsTheNextOneIn) {
    TempDir dir;
    SingleInstance first(dir.path());
    ASSERT_FALSE(first.already_running());
    first.release();
    first.release();  // twice is harmless
    SingleInstance second(dir.path());
    EXPECT_FALSE(second.already_running());
}

TEST(SingleInstance, UnusableDirectoryDoesNotBlockStartUp) {
    SingleInstance guard("/nonexistent/quillon");
    EXPECT_FALSE(guard.already_running());
}

}  // namespace
}  // namespace quillon::app
