// Whether a search or session is running. It belongs to the program, not to a window: the
// windows bring START back as soon as Stop is pressed, while the run still finishes its
// current wait, and a click there must not start a second run inside the first.
#pragma once

namespace quillon::ui {

struct RunState {
    bool in_progress = false;
    // The main window was closed during the run: the run ends as on Stop, and the program
    // ends as soon as it has.
    bool closing = false;
};

}  // namespace quillon::ui
