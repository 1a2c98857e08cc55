// The start-up safety net: whatever escapes window creation or the message loop is shown
// once in an error box, and start-up still ends normally (the guard is released by its
// owner and the process exits with 0).
#pragma once

#include <functional>
#include <string>

namespace quillon::app {

inline constexpr int kExitCode = 0;  // every end of the program, failures included

// Runs `body`; an exception is caught and its message shown with `show_error` (an
// exception that is not a std::exception shows an empty message). Returns kExitCode.
int RunGuarded(const std::function<void()>& body,
               const std::function<void(const std::string& message)>& show_error);

}  // namespace quillon::app
