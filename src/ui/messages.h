// The one way in which the engine and the port handling tell the user what happens. Each
// operation acts on the window of the running edition: the Loader window if it exists,
// else the Upgrade window, else the main window.
#pragma once

#include <cstdint>
#include <string_view>

#include "ui/windows.h"

namespace quillon::ui {

// Final result of a search or session; returns the edition window's controls to idle.
// `success` is 1 only for the final " Program Ok ".
void ShowOutcome(Shell& shell, std::string_view text, Colour colour, std::uint8_t success);
// In-progress or intermediate message; the control state stays as it is.
void ShowActivity(Shell& shell, std::string_view text, Colour colour);
void ShowSessionRunning(Shell& shell);
void ShowSessionIdle(Shell& shell);
// Writes `text` into the panel that the map gives for `slot`. An index past the bar's
// panels writes nothing.
void SetPanelText(const Shell& shell, StatusBar& bar, PanelSlot slot, std::string_view text);
// The same on the model alone: the caller decides when it is drawn.
void WritePanelText(const Shell& shell, StatusBar& bar, PanelSlot slot, std::string_view text);

}  // namespace quillon::ui
