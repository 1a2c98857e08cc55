// A program started by a test or a benchmark, with pipes on the streams it asks for: what
// the program prints is gathered in `out` and `err`, lines can be taken one by one, and
// every wait is bounded, so a program that hangs fails the test instead of holding it.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace quillon::support {

class ChildProcess {
public:
    // Which of the program's streams are pipes to this process. Standard input that is not
    // piped reads /dev/null; outputs that are not piped go where this process's go.
    enum Pipes : unsigned { kIn = 1u << 0, kOut = 1u << 1, kErr = 1u << 2 };
    enum class Stream { Out, Err };

    // Starts argv[0] with `argv`, in `env` (empty: this process's environment).
    ChildProcess(std::vector<std::string> argv, unsigned pipes, std::vector<std::string> env = {});
    ~ChildProcess();  // a program still running is killed
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool started() const { return pid_ > 0; }

    // Waits up to `bound_ms` for the piped outputs to bring something, once, and appends it
    // to `out` or `err`. False when no output is open any more or nothing came in time.
    bool ReadSome(int bound_ms);
    // Reads until `text` stands `times` times in the output, within `bound_ms` in all.
    bool WaitFor(Stream stream, const std::string& text, int times, int bound_ms);
    // How often `text` stands in the output.
    int Count(Stream stream, const std::string& text) const;
    // Takes the next whole line (without its end) from the front of the output, reading
    // for at most `bound_ms`; false when the output ended or went quiet that long first.
    bool TakeLine(Stream stream, std::string& line, int bound_ms);
    // Writes `text` to the program's standard input; false when that failed.
    bool Write(const std::string& text);

    void Signal(int signal);
    // True while the program has not ended (and has not been collected by Wait).
    bool Running() const;
    // Reads the outputs to their end within `bound_ms`, then collects the program: its
    // exit code, 128 + the signal that ended it, or -1 when it had not ended by then (it
    // is killed).
    int Wait(int bound_ms);

    std::string out, err;

private:
    std::string& text(Stream stream) { return stream == Stream::Out ? out : err; }
    const std::string& text(Stream stream) const { return stream == Stream::Out ? out : err; }
    bool Ended(Stream stream) const { return (stream == Stream::Out ? out_fd_ : err_fd_) < 0; }

    pid_t pid_ = -1;
    int in_fd_ = -1, out_fd_ = -1, err_fd_ = -1;
};

}  // namespace quillon::support
