// The stop commands of the three edition windows. They only raise the stop flag (and set
// the controls back); the running search or session notices the flag at its next wait.
#pragma once

#include "ui/windows.h"

namespace quillon::ui {

// Main window "&Stop": hide the button, request the stop.
void MainStopClick(Shell& shell);
// Upgrade window "STOP": controls to idle, request the stop.
void UpgradeStopClick(Shell& shell);
// Loader window "Abort": controls to idle, request the stop, progress bar drawn in error.
void LoaderAbortClick(Shell& shell);

}  // namespace quillon::ui
