// Closes the real executable's main window in the middle of a run, as a user would, and
// checks that the program ends by itself: exit code 0, the remembered port written, the
// single-instance guard free for the next start. The device is a pseudo-terminal that
// never answers (a search) or devsim answering slowly (programming).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "app/build_stamp.h"
#include "edition/edition.h"
#include "settings/posix_store.h"
#include "tools/devsim/process.h"

extern char** environ;

namespace quillon::app {
namespace {
namespace fs = std::filesystem;

// A hang check, not a timing: the program has this long to say or do the next thing.
constexpr int kHangCheckMs = 10000;

struct Program {
    pid_t pid = -1;
    int in = -1;   // the program's standard input: the user's actions
    int err = -1;  // its standard error: the trace
    std::string buffer;

    ~Program() {
        if (pid > 0) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
        if (in >= 0) ::close(in);
        if (err >= 0) ::close(err);
    }
    // Trace lines up to the first that starts with `until`; empty when the program ended
    // or went quiet for the hang-check time first.
    std::vector<std::string> TraceUntil(const std::string& until) {
        std::vector<std::string> lines;
        for (;;) {
            if (auto nl = buffer.find('\n'); nl != std::string::npos) {
                const std::string line = buffer.substr(0, nl);
                buffer.erase(0, nl + 1);
                if (line.rfind("quillon: ", 0) != 0) continue;  // toolkit chatter
                lines.push_back(line.substr(9));
                if (lines.back().rfind(until, 0) == 0) return lines;
                continue;
            }
            pollfd p{err, POLLIN, 0};
            if (::poll(&p, 1, kHangCheckMs) <= 0) return {};
            char chunk[512];
            const ssize_t n = ::read(err, chunk, sizeof chunk);
            if (n <= 0) return {};
            buffer.append(chunk, std::size_t(n));
        }
    }
    void Say(const std::string& action) {
        const std::string line = action + "\n";
        ASSERT_EQ(::write(in, line.data(), line.size()), ssize_t(line.size()));
    }
    // The exit code once the trace has ended; -1 when it did not end within the hang check.
    int Exit() {
        TraceUntil("\x01");  // reads to the end of the trace, or gives up
        pollfd p{err, POLLIN, 0};
        char c = 0;
        if (::poll(&p, 1, 0) <= 0 || ::read(err, &c, 1) != 0) return -1;  // not ended
        int status = 0;
        ::waitpid(pid, &status, 0);
        pid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
};

class CloseDuringRun : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/quillon-close-XXXXXX";
        home_ = ::mkdtemp(tmpl);
        fs::create_directories(home_ / "ports");
        settings::Store store{home_ / ".config"};
        ASSERT_TRUE(settings::WriteFileAtomically(settings::StoreFile(edition_code(), store),
                                                  "com=4\n"));  // COM5
    }
    void TearDown() override { fs::remove_all(home_); }

    std::uint8_t edition_code() const {
        return editions::Code(editions::FromLabel(ProductLabel()));
    }
    std::string window() const {
        return std::string(
            editions::WindowName(editions::Of(editions::FromLabel(ProductLabel())).window));
    }
    void PinCom5(const std::string& device) {
        fs::remove(home_ / "ports" / "COM5");
        fs::create_symlink(device, home_ / "ports" / "COM5");
    }
    std::string Stored() const {
        std::ifstream in(settings::StoreFile(edition_code(), settings::Store{home_ / ".config"}));
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }

    std::unique_ptr<Program> Start() {
        std::vector<std::string> env = {
            "QT_QPA_PLATFORM=offscreen", "QUILLON_TRACE=1", "XDG_RUNTIME_DIR=" + home_.string(),
            "HOME=" + home_.string(), "QUILLON_PORTS_DIR=" + (home_ / "ports").string()};
        std::vector<char*> envp;
        for (auto& e : env) envp.push_back(e.data());
        envp.push_back(nullptr);
        int err[2], in[2];
        EXPECT_EQ(::pipe2(err, O_CLOEXEC), 0);
        EXPECT_EQ(::pipe2(in, O_CLOEXEC), 0);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, err[1], 2);
        posix_spawn_file_actions_adddup2(&actions, in[0], 0);
        std::string exe = QUILLON_EXECUTABLE;
        char* argv[] = {exe.data(), nullptr};
        auto p = std::make_unique<Program>();
        EXPECT_EQ(::posix_spawn(&p->pid, exe.c_str(), &actions, nullptr, argv, envp.data()), 0);
        posix_spawn_file_actions_destroy(&actions);
        ::close(err[1]);
        ::close(in[0]);
        p->err = err[0];
        p->in = in[1];
        return p;
    }

    // Starts an update, waits for `moment` in the trace, closes the main window there and
    // checks how the program ends.
    void CloseAt(const std::string& moment) {
        auto p = Start();
        ASSERT_FALSE(p->TraceUntil("running").empty());
        p->Say("click " + window() + " Button1");
        ASSERT_FALSE(p->TraceUntil(moment).empty()) << "the run never reached " << moment;
        p->Say("close " + window());
        const auto end = p->TraceUntil("ending");
        ASSERT_FALSE(end.empty()) << "the program did not end after the close";
        EXPECT_EQ(end.front(), "close");
        EXPECT_EQ(p->Exit(), 0);
        EXPECT_EQ(Stored(), "com=4\n");

        // The guard is free: the next start runs.
        auto next = Start();
        const auto again = next->TraceUntil("running");
        ASSERT_FALSE(again.empty());
        EXPECT_EQ(again.front(), "guard taken");
    }

    fs::path home_;
};

TEST_F(CloseDuringRun, SearchOnASilentLine) {
    int master = -1, slave = -1;
    char name[128] = {};
    ASSERT_EQ(::openpty(&master, &slave, name, nullptr, nullptr), 0);
    ::close(slave);  // nobody else holds the line open
    PinCom5(name);
    CloseAt("update");
    ::close(master);
}

TEST_F(CloseDuringRun, Programming) {
    const std::vector<std::vector<std::string>> devices = {
        {"--delay-us", "20000"},  // 20 ms before every answer: half a minute of blocks
        // The wait for the extended block, which does not listen to Stop.
        {"--bios", "8", "--ext-text", "BOARD", "--ext-delay-ms", "1200"},
    };
    for (const auto& args : devices) {
        devsim::DevsimProcess device(args);
        ASSERT_FALSE(device.path().empty());
        PinCom5(device.path());
        CloseAt("session");
    }
}

}  // namespace
}  // namespace quillon::app
