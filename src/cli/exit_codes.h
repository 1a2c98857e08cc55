// The command line's exit codes: one per outcome of a board or of the command itself, and
// which of two outcomes is the worse (with several ports the worst one is the process's).
#pragma once

#include <string_view>

namespace quillon::cli {

enum class Exit : int {
    Success = 0,
    NoDevice = 1,
    InvalidPort = 2,
    UserAbort = 3,
    ChecksumError = 4,
    NoResponse = 5,
    IncompatibleBootloader = 6,
    UnknownChip = 7,
    NoImage = 8,
    ImageTooBig = 9,
    NotSuitable = 10,
    AlreadyRunning = 11,  // the port is held by another program
    BadArguments = 12,
    LogFailed = 13,  // a board's log line could not be written
};

inline constexpr int kExitCount = 14;

// A short name for logs and JSON ("success", "no-device", ...).
std::string_view ExitName(Exit code);
// One line per code for --help and the README.
std::string_view ExitMeaning(Exit code);
// The worse of two outcomes. A fault of the command (bad arguments, a busy or missing port)
// is worse than any board's; a log line lost is worse than any board's outcome, which was
// shown but is missing from the record; a board that failed is worse than one stopped by
// the user, which is worse than a success.
Exit Worst(Exit a, Exit b);

}  // namespace quillon::cli
