// What the command line needs from the operating system, one file per platform
// (platform_posix.cpp, platform_win32.cpp): the terminal test, Ctrl-C, the port check
// before a run, the append-only log file, the calendar and the serial backend.
#pragma once

#include <atomic>
#include <ctime>
#include <functional>
#include <memory>
#include <string>

#include "serial/backend.h"

namespace quillon::cli {

// Whether standard output is a terminal (progress bars) or redirected (plain lines).
bool StdoutIsTerminal();
// The terminal's width in columns; 80 when unknown.
int TerminalColumns();

// Ctrl-C: the first one adds 1 to `interrupts` (every port's running wait then ends as a
// Stop does); the second ends the process at once with `second_exit_code`.
void InstallInterruptHandler(std::atomic<int>& interrupts, int second_exit_code);

// Whether a port can be opened for a run, checked before any port is used.
struct PortCheck {
    enum class State { Free, Missing, Busy, Refused };
    State state = State::Free;
    std::string detail;  // Busy: who holds it; Refused: why (permission and the group)
};
PortCheck CheckPort(const std::string& device);

// The calendar time in UTC.
std::tm UtcTime(std::time_t t);

// Whether a port may be named by a device path (POSIX) or only as COM<n> (Windows).
bool DevicePathsSupported();

// A serial backend that opens `device()` for whatever port number it is asked for (POSIX),
// or the platform's "\\.\COM<n>" for port number n - 1 (Windows, where `device` is unused).
std::shared_ptr<serial::Backend> MakePortBackend(std::function<std::string()> device);

}  // namespace quillon::cli
