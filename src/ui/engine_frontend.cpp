#include "ui/engine_frontend.h"

#include "ui/messages.h"
#include "ui/port_selection.h"

namespace quillon::ui {
namespace {

StatusBar* Bar(engine::StatusBarRef ref) {
    return static_cast<StatusBar*>(ref.id);
}
ProgressBar* Bar(engine::ProgressBarRef ref) {
    return static_cast<ProgressBar*>(ref.id);
}

PanelSlot Slot(engine::PanelSlot slot) {
    switch (slot) {
        case engine::PanelSlot::PortPanel:
            return PanelSlot::PortPanel;
        case engine::PanelSlot::ActivityPanel:
            return PanelSlot::ActivityPanel;
        case engine::PanelSlot::DetailPanel:
            return PanelSlot::DetailPanel;
        case engine::PanelSlot::NoticePanel:
            break;
    }
    return PanelSlot::NoticePanel;
}

// A report line of the main window: shown on the button face in black, repainted at once.
void ShowReportLabel(Label& label, std::string_view text) {
    label.text = std::string(text);
    label.visible = true;
    label.background = colour::kButtonFace;
    label.text_colour = colour::kBlack;
    ++label.repaints;
}

}  // namespace

void EngineFrontend::Repaint() {
    if (shell_.repaint) shell_.repaint();
}

void EngineFrontend::ShowOutcome(std::string_view text, engine::Colour colour,
                                 std::uint8_t success) {
    ui::ShowOutcome(shell_, text, colour, success);
}

void EngineFrontend::ShowActivity(std::string_view text, engine::Colour colour) {
    ui::ShowActivity(shell_, text, colour);
}

void EngineFrontend::ShowSessionRunning() {
    ui::ShowSessionRunning(shell_);
}
void EngineFrontend::ShowSessionIdle() {
    ui::ShowSessionIdle(shell_);
}

void EngineFrontend::SetPanelText(engine::StatusBarRef bar, engine::PanelSlot slot,
                                  std::string_view text) {
    if (StatusBar* b = Bar(bar)) {
        ui::SetPanelText(shell_, *b, Slot(slot), text);
        Repaint();
    }
}

void EngineFrontend::RepaintStatusBar(engine::StatusBarRef bar) {
    if (StatusBar* b = Bar(bar)) {
        ++b->repaints;
        Repaint();
    }
}

engine::StatusBarRef EngineFrontend::MainStatusBar() {
    return shell_.form1 ? Ref(shell_.form1->StatusBar1) : engine::StatusBarRef{};
}

void EngineFrontend::HideResultLine() {
    if (!shell_.form1) return;
    shell_.form1->Label2.visible = false;
    Repaint();
}

void EngineFrontend::SetProgressMax(engine::ProgressBarRef bar, int max) {
    if (ProgressBar* b = Bar(bar)) {
        b->max = max;
        Repaint();
    }
}

void EngineFrontend::SetProgressPosition(engine::ProgressBarRef bar, int position) {
    if (ProgressBar* b = Bar(bar)) {
        b->position = position;
        Repaint();
    }
}

void EngineFrontend::SetProgressSmooth(engine::ProgressBarRef bar, bool smooth) {
    if (ProgressBar* b = Bar(bar)) {
        b->smooth = smooth;
        Repaint();
    }
}

void EngineFrontend::SetProgressState(engine::ProgressBarRef bar, engine::ProgressState state) {
    if (ProgressBar* b = Bar(bar)) {
        b->state = state == engine::ProgressState::Paused  ? ProgressState::Paused
                   : state == engine::ProgressState::Error ? ProgressState::Error
                                                           : ProgressState::Normal;
        Repaint();
    }
}

bool EngineFrontend::TakeStopRequested() {
    if (run_ && run_->closing) return true;
    const bool requested = shell_.stop_requested != 0;
    shell_.stop_requested = 0;
    return requested;
}

engine::Edition EngineFrontend::edition() const {
    switch (shell_.edition()) {
        case Edition::Loader:
            return engine::Edition::Loader;
        case Edition::Upgrade:
            return engine::Edition::Upgrade;
        case Edition::Updater:
            break;
    }
    return engine::Edition::Updater;
}

void EngineFrontend::ApplySelectedPort() {
    ui::ApplySelectedPort(shell_, ports_, channels_);
}

void EngineFrontend::ShowPortPanel(engine::StatusBarRef bar) {
    if (StatusBar* b = Bar(bar)) ui::ShowPortPanel(shell_, ports_, *b);
}

void EngineFrontend::ShowBiosLine(std::string_view text) {
    if (!shell_.form1) return;
    ShowReportLabel(shell_.form1->Label3, text);
    Repaint();
}

void EngineFrontend::ShowDeviceTextLine(std::string_view text) {
    if (!shell_.form1) return;
    ShowReportLabel(shell_.form1->Label4, text);
    Repaint();
}

void EngineFrontend::HideDeviceTextLine() {
    if (!shell_.form1) return;
    shell_.form1->Label4.visible = false;
    Repaint();
}

void EngineFrontend::SetLoaderReport(std::string_view hardware, std::string_view bios) {
    if (!shell_.form6) return;
    shell_.form6->Label6.text = std::string(hardware);
    shell_.form6->Label7.text = std::string(bios);
    Repaint();
}

void EngineFrontend::SetCueBackground(engine::Colour colour) {
    if (shell_.form5) {
        shell_.form5->Panel1.background = colour;
    } else if (!shell_.form6 && shell_.form1) {
        shell_.form1->Label1.background = colour;
        ++shell_.form1->Label1.repaints;
    } else {
        return;
    }
    Repaint();
}

}  // namespace quillon::ui
