// The devsim program on a pseudo-terminal, for end-to-end tests and benchmarks: started
// with arguments, its device path read from the first line it prints, stopped (and its
// HEX files written) by Stop, which also collects what it printed last (its turnaround
// and session figures). The program's path is the build's DEVSIM_PATH.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

extern char** environ;

namespace quillon::devsim {

inline constexpr int kStartTimeoutMs = 10000;  // generous: devsim only has to open a pty

// The devsim program, started with arguments; stopped (and its hex files written) by Stop.
class DevsimProcess {
public:
    explicit DevsimProcess(std::vector<std::string> args = {}) {
        int out[2];
        if (::pipe2(out, O_CLOEXEC) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        posix_spawn_file_actions_addclose(&actions, out[0]);
        args.insert(args.begin(), DEVSIM_PATH);
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        if (posix_spawn(&pid_, DEVSIM_PATH, &actions, nullptr, argv.data(), environ) != 0)
            pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        ::close(out[1]);
        // The first line names the device: "devsim: /dev/pts/N".
        std::string line;
        pollfd p{out[0], POLLIN, 0};
        while (line.find('\n') == std::string::npos && ::poll(&p, 1, kStartTimeoutMs) > 0) {
            char buf[128];
            const ssize_t n = ::read(out[0], buf, sizeof buf);
            if (n <= 0) break;
            line.append(buf, static_cast<std::size_t>(n));
        }
        out_ = out[0];  // kept: devsim prints its figures when it stops
        const std::string prefix = "devsim: ";
        if (line.rfind(prefix, 0) == 0)
            path_ = line.substr(prefix.size(), line.find('\n') - prefix.size());
    }
    ~DevsimProcess() { Stop(); }
    int Stop() {
        if (pid_ <= 0) return -1;
        ::kill(pid_, SIGTERM);
        int status = 0;
        ::waitpid(pid_, &status, 0);
        pid_ = -1;
        // The process has ended: everything it printed is in the pipe, which ends here.
        if (out_ >= 0) {
            char buf[256];
            for (ssize_t n; (n = ::read(out_, buf, sizeof buf)) > 0;)
                report_.append(buf, static_cast<std::size_t>(n));
            ::close(out_);
            out_ = -1;
        }
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    const std::string& path() const { return path_; }
    // What devsim printed after its device path, once stopped.
    const std::string& report() const { return report_; }

private:
    pid_t pid_ = -1;
    int out_ = -1;
    std::string path_;
    std::string report_;
};

}  // namespace quillon::devsim
