// Unattended updates for scripts and tests: QUILLON_AUTOPRESS=N presses the edition
// window's update button N times, one update after the other, then closes the window, as a
// person would. QUILLON_SHOTS=DIR also saves the window as DIR/update.png in the middle of
// the first programming run and as DIR/result.png after the last press. The program's own
// handlers run unchanged: the button is the real widget, clicked.
#pragma once

#include <QString>
#include <functional>

#include "ui/qt/binding.h"
#include "ui/windows.h"

namespace quillon::app {

inline constexpr int kMaxAutoPresses = 9;

// Reads the variables; when QUILLON_AUTOPRESS is set, the presses start once the message
// loop runs. `trace` receives a "press N" line before each press. Returns false
// (and says why on stderr) when the variable holds no press count from 1 to kMaxAutoPresses.
bool ArmAutoPress(ui::qt::Binding& binding, ui::Shell& shell,
                  std::function<void(const QString&)> trace);

}  // namespace quillon::app
