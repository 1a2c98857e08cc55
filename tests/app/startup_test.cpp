// Starts the real executable (offscreen, with start-up tracing) and checks what a user
// would see: the Upgrade window first, a second instance refused, a killed one forgotten.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "app/build_stamp.h"

extern char** environ;

namespace quillon::app {
namespace {

struct Child {
    pid_t pid = -1;
    int err = -1;  // read end of the child's stderr
    std::string buffer;

    // Reads the child's stderr up to the next line; false at end of file.
    bool ReadLine(std::string& line) {
        for (;;) {
            if (auto nl = buffer.find('\n'); nl != std::string::npos) {
                line = buffer.substr(0, nl);
                buffer.erase(0, nl + 1);
                return true;
            }
            char chunk[512];
            const ssize_t n = ::read(err, chunk, sizeof chunk);
            if (n <= 0) return false;
            buffer.append(chunk, std::size_t(n));
        }
    }
    // Lines of our own trace, up to and including the first that starts with `until`.
    std::vector<std::string> TraceUntil(const std::string& until) {
        std::vector<std::string> lines;
        std::string line;
        while (ReadLine(line)) {
            if (line.rfind("quillon: ", 0) != 0) continue;  // toolkit chatter
            lines.push_back(line.substr(9));
            if (lines.back().rfind(until, 0) == 0) break;
        }
        return lines;
    }
    int Wait() {
        int status = 0;
        ::waitpid(pid, &status, 0);
        ::close(err);
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
};

class Startup : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/quillon-start-XXXXXX";
        runtime_ = ::mkdtemp(tmpl);
    }
    void TearDown() override { std::filesystem::remove_all(runtime_); }

    Child Start() {
        std::vector<std::string> env = {"QT_QPA_PLATFORM=offscreen", "QUILLON_TRACE=1",
                                        "XDG_RUNTIME_DIR=" + runtime_, "HOME=" + runtime_};
        std::vector<char*> envp;
        for (auto& e : env) envp.push_back(e.data());
        envp.push_back(nullptr);
        int fds[2];
        EXPECT_EQ(::pipe2(fds, O_CLOEXEC), 0);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[1], 2);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        std::string exe = QUILLON_EXECUTABLE;
        char* argv[] = {exe.data(), nullptr};
        Child c;
        EXPECT_EQ(::posix_spawn(&c.pid, exe.c_str(), &actions, nullptr, argv, envp.data()), 0);
        posix_spawn_file_actions_destroy(&actions);
        ::close(fds[1]);
        c.err = fds[0];
        return c;
    }

    std::string runtime_;
};

TEST_F(Startup, OneInstanceAtATimeAndACrashedOneIsForgotten) {
    Child first = Start();
    const auto trace = first.TraceUntil("running");
    const std::vector<std::string> expected = {
        "guard taken",
        "created TForm5",
        "created TForm1",
        "created TForm3",
        "created TForm4",
        "running TForm5 \"Upgrade 1.1 -   TQX 1C 01.02.02.04   - " + BuildDate() + "\""};
    EXPECT_EQ(trace, expected);

    // A second start shows the message with the updater title, creates nothing, ends with 0.
    Child second = Start();
    const auto refused = second.TraceUntil("\x01");  // everything up to end of file
    EXPECT_EQ(second.Wait(), 0);
    ASSERT_EQ(refused.size(), 1u);
    EXPECT_EQ(refused[0], "message box: Updater 2.7 - TQX 1C 01.02.02.04   [ " + BuildDate() +
                              " ]|Already in progress");

    // The first instance is still there; killed without clean-up it blocks nobody.
    EXPECT_EQ(::waitpid(first.pid, nullptr, WNOHANG), 0);
    ::kill(first.pid, SIGKILL);
    first.Wait();

    Child third = Start();
    const auto again = third.TraceUntil("running");
    ASSERT_FALSE(again.empty());
    EXPECT_EQ(again.front(), "guard taken");
    EXPECT_EQ(again.back().rfind("running TForm5", 0), 0u);
    ::kill(third.pid, SIGKILL);
    third.Wait();
}

}  // namespace
}  // namespace quillon::app
