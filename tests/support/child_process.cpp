#include "tests/support/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>

extern char** environ;

namespace quillon::support {
namespace {

constexpr std::size_t kReadChunk = 4096;  // bytes

using Clock = std::chrono::steady_clock;

int MsLeft(Clock::time_point end) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

void CloseFd(int& fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
}

}  // namespace

ChildProcess::ChildProcess(std::vector<std::string> argv, unsigned pipes,
                           std::vector<std::string> env) {
    int in[2] = {-1, -1}, out[2] = {-1, -1}, err[2] = {-1, -1};
    if (((pipes & kIn) && ::pipe2(in, O_CLOEXEC) != 0) ||
        ((pipes & kOut) && ::pipe2(out, O_CLOEXEC) != 0) ||
        ((pipes & kErr) && ::pipe2(err, O_CLOEXEC) != 0)) {
        for (int fd : {in[0], in[1], out[0], out[1], err[0], err[1]}) CloseFd(fd);
        return;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (pipes & kIn)
        posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
    else
        posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    if (pipes & kOut) posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    if (pipes & kErr) posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);
    std::vector<char*> args, envp;
    for (auto& a : argv) args.push_back(a.data());
    args.push_back(nullptr);
    for (auto& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    if (argv.empty() || ::posix_spawn(&pid_, args[0], &actions, nullptr, args.data(),
                                      env.empty() ? environ : envp.data()) != 0)
        pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    // The program holds its own ends; this process keeps the others.
    CloseFd(in[0]);
    CloseFd(out[1]);
    CloseFd(err[1]);
    in_fd_ = in[1];
    out_fd_ = out[0];
    err_fd_ = err[0];
}

ChildProcess::~ChildProcess() {
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
    CloseFd(in_fd_);
    CloseFd(out_fd_);
    CloseFd(err_fd_);
}

bool ChildProcess::ReadSome(int bound_ms) {
    if (out_fd_ < 0 && err_fd_ < 0) return false;
    pollfd p[2] = {{out_fd_, POLLIN, 0}, {err_fd_, POLLIN, 0}};
    if (::poll(p, 2, bound_ms) <= 0) return false;
    int* fds[2] = {&out_fd_, &err_fd_};
    std::string* texts[2] = {&out, &err};
    for (int i = 0; i < 2; ++i) {
        if (*fds[i] < 0 || p[i].revents == 0) continue;
        char buf[kReadChunk];
        const ssize_t n = ::read(*fds[i], buf, sizeof buf);
        if (n > 0)
            texts[i]->append(buf, static_cast<std::size_t>(n));
        else
            CloseFd(*fds[i]);
    }
    return true;
}

int ChildProcess::Count(Stream stream, const std::string& what) const {
    const std::string& t = text(stream);
    int n = 0;
    for (std::size_t at = t.find(what); at != std::string::npos; at = t.find(what, at + 1)) ++n;
    return n;
}

bool ChildProcess::WaitFor(Stream stream, const std::string& what, int times, int bound_ms) {
    const auto end = Clock::now() + std::chrono::milliseconds(bound_ms);
    while (Count(stream, what) < times)
        if (Ended(stream) || !ReadSome(MsLeft(end))) return false;
    return true;
}

bool ChildProcess::TakeLine(Stream stream, std::string& line, int bound_ms) {
    const auto end = Clock::now() + std::chrono::milliseconds(bound_ms);
    std::string& t = text(stream);
    for (;;) {
        if (const auto nl = t.find('\n'); nl != std::string::npos) {
            line = t.substr(0, nl);
            t.erase(0, nl + 1);
            return true;
        }
        if (Ended(stream) || !ReadSome(MsLeft(end))) return false;
    }
}

bool ChildProcess::Write(const std::string& what) {
    return in_fd_ >= 0 && ::write(in_fd_, what.data(), what.size()) == ssize_t(what.size());
}

void ChildProcess::Signal(int signal) {
    if (pid_ > 0) ::kill(pid_, signal);
}

bool ChildProcess::Running() const {
    if (pid_ <= 0) return false;
    siginfo_t info{};  // si_pid stays 0 while the program runs
    return ::waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
           info.si_pid == 0;
}

int ChildProcess::Wait(int bound_ms) {
    const auto end = Clock::now() + std::chrono::milliseconds(bound_ms);
    while ((out_fd_ >= 0 || err_fd_ >= 0) && ReadSome(MsLeft(end))) {
    }
    if (pid_ <= 0) return -1;
    int status = 0;
    const bool hung = out_fd_ >= 0 || err_fd_ >= 0;
    if (hung) ::kill(pid_, SIGKILL);
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
    CloseFd(in_fd_);
    if (hung) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

}  // namespace quillon::support
