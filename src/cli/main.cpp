// quillon-cli: the command line for scripts and production lines (see cli.h).
#include <cstdio>
#include <string>
#include <vector>

#include "app/build_stamp.h"
#include "cli/cli.h"
#include "cli/exit_codes.h"
#include "cli/platform.h"

int main(int argc, char** argv) {
    using namespace quillon;
    static std::atomic<int> interrupts{0};
    cli::InstallInterruptHandler(interrupts, static_cast<int>(cli::Exit::UserAbort));
    cli::Io io;
    io.out = [](std::string_view text) {
        std::fwrite(text.data(), 1, text.size(), stdout);
        std::fflush(stdout);
    };
    io.err = [](std::string_view text) { std::fwrite(text.data(), 1, text.size(), stderr); };
    io.terminal = cli::StdoutIsTerminal();
    io.columns = cli::TerminalColumns();
    io.interrupts = &interrupts;
    const std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
    return cli::Main(args, {app::ProductLabel(), app::BuildDate(), app::BuildTime()}, io);
}
