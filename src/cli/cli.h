// quillon-cli: the command line front end. Main runs one command with the given
// arguments and returns the process's exit code (exit_codes.h).
#pragma once

#include <atomic>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace quillon::cli {

struct Io {
    std::function<void(std::string_view)> out;  // standard output
    std::function<void(std::string_view)> err;  // standard error
    bool terminal = false;                      // standard output is a terminal
    int columns = 80;
    std::atomic<int>* interrupts = nullptr;  // Ctrl-C count (platform.h); null: none
};

struct BuildStamp {
    std::string label;  // the product label: chooses the default edition
    std::string date;
    std::string time;
};

int Main(const std::vector<std::string>& args, const BuildStamp& build, const Io& io);

// "quillon-cli <version>": the program as --version and every board's record name it.
std::string ProgramName();

// The --help text, with the exit codes.
std::string HelpText(const BuildStamp& build);

}  // namespace quillon::cli
