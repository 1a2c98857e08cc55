// Whether a Windows console shows the terminal output's escape codes (the progress bars
// move the cursor up and clear lines). A classic console does so only once virtual-terminal
// processing is on; where it cannot be turned on, the command line prints the plain lines
// it prints for redirected output. The console calls come in as a seam, so the decision
// is tested without a console.
#pragma once

#include <cstdint>
#include <functional>

namespace quillon::cli {

// ENABLE_VIRTUAL_TERMINAL_PROCESSING of the console's output mode.
inline constexpr std::uint32_t kVirtualTerminalProcessing = 0x0004;

struct ConsoleModeCalls {
    std::function<bool(std::uint32_t& mode)> get;  // GetConsoleMode
    std::function<bool(std::uint32_t mode)> set;   // SetConsoleMode
};

// Turns virtual-terminal processing on, keeping every other mode bit; true when the
// console takes escape codes now (it already did, or the mode was set).
inline bool TurnOnEscapeCodes(const ConsoleModeCalls& console) {
    std::uint32_t mode = 0;
    if (!console.get(mode)) return false;  // not a console
    if (mode & kVirtualTerminalProcessing) return true;
    return console.set(mode | kVirtualTerminalProcessing);
}

}  // namespace quillon::cli
