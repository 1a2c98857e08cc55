// The quillon-cli program started as a script or a production line starts it: its
// standard output and error read through pipes (so it sees them redirected), its exit code
// collected. Every wait has a generous hang-check bound and never sleeps for time itself.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

extern char** environ;

namespace quillon::cli::testing {

inline constexpr int kHangCheckMs = 60000;  // a run that has not ended by then hangs

class CliProcess {
public:
    explicit CliProcess(std::vector<std::string> args) {
        int out[2], err[2];
        if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);
        args.insert(args.begin(), QUILLON_CLI_PATH);
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        if (posix_spawn(&pid_, QUILLON_CLI_PATH, &actions, nullptr, argv.data(), environ) != 0)
            pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        ::close(out[1]);
        ::close(err[1]);
        out_fd_ = out[0];
        err_fd_ = err[0];
    }
    ~CliProcess() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        if (out_fd_ >= 0) ::close(out_fd_);
        if (err_fd_ >= 0) ::close(err_fd_);
    }

    // Reads until standard output holds `text` `times` times (true), or the output ends or
    // the hang-check bound passes (false).
    bool WaitForOutput(const std::string& text, int times = 1) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(kHangCheckMs);
        while (Count(text) < times) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                end - std::chrono::steady_clock::now());
            if (left.count() <= 0 || !ReadSome(static_cast<int>(left.count()))) return false;
        }
        return true;
    }
    int Count(const std::string& text) const {
        int n = 0;
        for (std::size_t at = out.find(text); at != std::string::npos; at = out.find(text, at + 1))
            ++n;
        return n;
    }
    void Signal(int sig) {
        if (pid_ > 0) ::kill(pid_, sig);
    }
    // Reads both outputs to their end and returns the exit code (-1: killed or hung).
    int Wait() {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(kHangCheckMs);
        while (out_fd_ >= 0 || err_fd_ >= 0) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                end - std::chrono::steady_clock::now());
            if (left.count() <= 0 || !ReadSome(static_cast<int>(left.count()))) break;
        }
        if (pid_ <= 0) return -1;
        if (out_fd_ >= 0 || err_fd_ >= 0) ::kill(pid_, SIGKILL);  // hung
        int status = 0;
        ::waitpid(pid_, &status, 0);
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    std::string out, err;

private:
    // One poll on the open outputs; false when none is open or nothing came in time.
    bool ReadSome(int bound_ms) {
        pollfd p[2] = {{out_fd_, POLLIN, 0}, {err_fd_, POLLIN, 0}};
        if (out_fd_ < 0 && err_fd_ < 0) return false;
        if (::poll(p, 2, bound_ms) <= 0) return false;
        int* fds[2] = {&out_fd_, &err_fd_};
        std::string* texts[2] = {&out, &err};
        for (int i = 0; i < 2; ++i) {
            if (*fds[i] < 0 || p[i].revents == 0) continue;
            char buf[4096];
            const ssize_t n = ::read(*fds[i], buf, sizeof buf);
            if (n > 0) {
                texts[i]->append(buf, static_cast<std::size_t>(n));
            } else {
                ::close(*fds[i]);
                *fds[i] = -1;
            }
        }
        return true;
    }

    pid_t pid_ = -1;
    int out_fd_ = -1, err_fd_ = -1;
};

// Runs to the end; the exit code.
inline int RunCli(std::vector<std::string> args, std::string* out = nullptr,
                  std::string* err = nullptr) {
    CliProcess p(std::move(args));
    const int code = p.Wait();
    if (out) *out = p.out;
    if (err) *err = p.err;
    return code;
}

}  // namespace quillon::cli::testing
