// The real executable started offscreen with start-up tracing, in a home and runtime
// directory of the test's own: its trace read line by line from standard error, the user's
// actions written to its standard input. Every read has a hang-check bound.
#pragma once

#include <signal.h>

#include <string>
#include <vector>

#include "tests/support/child_process.h"

namespace quillon::app {

// A hang check, not a timing: the program has this long to say or do the next thing.
inline constexpr int kHangCheckMs = 10000;

class TracedProgram {
public:
    // `home` serves as HOME and XDG_RUNTIME_DIR; `env` adds to the environment.
    explicit TracedProgram(const std::string& home, std::vector<std::string> env = {})
        : process_({QUILLON_EXECUTABLE}, support::ChildProcess::kIn | support::ChildProcess::kErr,
                   Environment(home, std::move(env))) {}

    // Trace lines up to the first that starts with `until`; empty when the program ended
    // or went quiet for the hang-check time first.
    std::vector<std::string> TraceUntil(const std::string& until) {
        std::vector<std::string> lines = TraceToEnd(until);
        if (lines.empty() || lines.back().rfind(until, 0) != 0) return {};
        return lines;
    }
    // Trace lines up to the end of the trace (or the hang-check time).
    std::vector<std::string> TraceToEnd(const std::string& until = {}) {
        std::vector<std::string> lines;
        for (std::string line; process_.TakeLine(kErr, line, kHangCheckMs);) {
            if (line.rfind(kTracePrefix, 0) != 0) continue;  // toolkit chatter
            lines.push_back(line.substr(kTracePrefix.size()));
            if (!until.empty() && lines.back().rfind(until, 0) == 0) break;
        }
        return lines;
    }
    // One user action, as a line on standard input ("click TForm5 Button1").
    bool Say(const std::string& action) { return process_.Write(action + "\n"); }
    // The exit code once the trace has ended; -1 when it did not end within the hang check.
    int Exit() { return process_.Wait(kHangCheckMs); }
    bool Running() const { return process_.Running(); }
    void Kill() { process_.Signal(SIGKILL); }

private:
    static constexpr auto kErr = support::ChildProcess::Stream::Err;
    static constexpr std::string_view kTracePrefix = "quillon: ";
    static std::vector<std::string> Environment(const std::string& home,
                                                std::vector<std::string> env) {
        env.insert(env.end(), {"QT_QPA_PLATFORM=offscreen", "QUILLON_TRACE=1",
                               "XDG_RUNTIME_DIR=" + home, "HOME=" + home});
        return env;
    }

    support::ChildProcess process_;
};

}  // namespace quillon::app
