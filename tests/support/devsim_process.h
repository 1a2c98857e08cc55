// The devsim program on a pseudo-terminal, for end-to-end tests and benchmarks: started
// with arguments, its device path read from the first line it prints, stopped (and its
// HEX files written) by Stop, which also collects what it printed last (its turnaround
// and session figures). The program's path is the build's DEVSIM_PATH.
#pragma once

#include <signal.h>

#include <string>
#include <vector>

#include "tests/support/child_process.h"

namespace quillon::devsim {

inline constexpr int kStartTimeoutMs = 10000;  // generous: devsim only has to open a pty
inline constexpr int kStopTimeoutMs = 10000;   // it writes its HEX files, then ends

class DevsimProcess {
public:
    explicit DevsimProcess(std::vector<std::string> args = {})
        : process_(WithProgram(std::move(args)), support::ChildProcess::kOut) {
        // The first line names the device: "devsim: /dev/pts/N".
        std::string line;
        const std::string prefix = "devsim: ";
        if (process_.TakeLine(Out, line, kStartTimeoutMs) && line.rfind(prefix, 0) == 0)
            path_ = line.substr(prefix.size());
    }
    ~DevsimProcess() { Stop(); }
    // Ends devsim as a user's Ctrl-C would; its exit code (-1 when it did not end).
    int Stop() {
        if (stopped_) return code_;
        stopped_ = true;
        process_.Signal(SIGTERM);
        code_ = process_.Wait(kStopTimeoutMs);
        return code_;
    }
    const std::string& path() const { return path_; }
    // What devsim printed after its device path, once stopped.
    const std::string& report() const { return process_.out; }

private:
    static constexpr auto Out = support::ChildProcess::Stream::Out;
    static std::vector<std::string> WithProgram(std::vector<std::string> args) {
        args.insert(args.begin(), DEVSIM_PATH);
        return args;
    }

    support::ChildProcess process_;
    std::string path_;
    bool stopped_ = false;
    int code_ = -1;
};

}  // namespace quillon::devsim
