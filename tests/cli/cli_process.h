// The quillon-cli program started as a script or a production line starts it: its
// standard output and error read through pipes (so it sees them redirected), its exit code
// collected. Every wait has a generous hang-check bound and never sleeps for time itself.
#pragma once

#include <string>
#include <vector>

#include "tests/support/child_process.h"

namespace quillon::cli::testing {

inline constexpr int kHangCheckMs = 60000;  // a run that has not ended by then hangs

class CliProcess {
public:
    explicit CliProcess(std::vector<std::string> args)
        : process_(WithProgram(std::move(args)),
                   support::ChildProcess::kOut | support::ChildProcess::kErr),
          out(process_.out),
          err(process_.err) {}

    // Reads until standard output holds `text` `times` times (true), or the output ends or
    // the hang-check bound passes (false).
    bool WaitForOutput(const std::string& text, int times = 1) {
        return process_.WaitFor(support::ChildProcess::Stream::Out, text, times, kHangCheckMs);
    }
    void Signal(int sig) { process_.Signal(sig); }
    // Reads both outputs to their end and returns the exit code (-1: hung, killed).
    int Wait() { return process_.Wait(kHangCheckMs); }

private:
    static std::vector<std::string> WithProgram(std::vector<std::string> args) {
        args.insert(args.begin(), QUILLON_CLI_PATH);
        return args;
    }
    support::ChildProcess process_;

public:
    const std::string &out, &err;  // what the program printed so far
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
