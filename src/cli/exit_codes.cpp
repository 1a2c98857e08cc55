#include "cli/exit_codes.h"

#include <array>

namespace quillon::cli {
namespace {

struct Row {
    std::string_view name;
    std::string_view meaning;
    int rank;  // higher is worse
};

// Indexed by the exit code.
constexpr std::array<Row, kExitCount> kRows = {{
    {"success", "every board was programmed (or identified)", 0},
    {"no-device", "no bootloader answered on the port (\"Device not Found\")", 2},
    {"invalid-port", "the port does not exist or cannot be opened", 11},
    {"user-abort", "stopped with Ctrl-C (\"User Abort !!\")", 1},
    {"checksum-error", "the device rejected a packet five times (\"CHK Error !!\")", 4},
    {"no-response", "the device stopped answering (\"not Response\")", 5},
    {"incompatible-bootloader", "bootloader version 33 or above", 6},
    {"unknown-chip", "the chip code is not one the catalog knows", 7},
    {"no-image", "this build carries no image for the chip (\"No Hex inside !!\")", 8},
    {"image-too-big", "the image does not fit the chip (\"Hex too Big !!\")", 9},
    {"not-suitable", "the image does not suit the board's print or preparation", 3},
    {"already-running", "the port is held by another program (named in the message)", 12},
    {"bad-arguments", "unknown option, port given twice, log file not writable, ...", 13},
    {"log-failed", "a board's log line could not be written (disk full, file removed)", 10},
}};

const Row& RowOf(Exit code) {
    const int i = static_cast<int>(code);
    const Exit known = i >= 0 && i < kExitCount ? code : Exit::BadArguments;
    return kRows[static_cast<std::size_t>(known)];
}

}  // namespace

std::string_view ExitName(Exit code) {
    return RowOf(code).name;
}

std::string_view ExitMeaning(Exit code) {
    return RowOf(code).meaning;
}

Exit Worst(Exit a, Exit b) {
    return RowOf(b).rank > RowOf(a).rank ? b : a;
}

}  // namespace quillon::cli
