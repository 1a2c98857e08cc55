#include "ui/commands.h"

#include "ui/messages.h"

namespace quillon::ui {

void MainStopClick(Shell& shell) {
    shell.form1->Button2.visible = false;
    shell.stop_requested = 1;
    if (shell.repaint) shell.repaint();
}

void UpgradeStopClick(Shell& shell) {
    ShowSessionIdle(shell);
    shell.stop_requested = 1;
}

void LoaderAbortClick(Shell& shell) {
    ShowSessionIdle(shell);
    shell.stop_requested = 1;
    shell.form6->ProgressBar1.state = ProgressState::Error;
    if (shell.repaint) shell.repaint();
}

}  // namespace quillon::ui
