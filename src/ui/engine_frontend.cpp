#include "ui/engine_frontend.h"

#include "ui/messages.h"

namespace quillon::ui {
namespace {

StatusBar* Bar(StatusBarRef ref) {
    return static_cast<StatusBar*>(ref.id);
}
ProgressBar* Bar(ProgressBarRef ref) {
    return static_cast<ProgressBar*>(ref.id);
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

void EngineFrontend::RepaintSoon() {
    if (shell_.frames.bound())
        shell_.frames.Request();
    else
        Repaint();
}

void EngineFrontend::ShowOutcome(std::string_view text, Colour colour, std::uint8_t success) {
    ui::ShowOutcome(shell_, text, colour, success);
}

void EngineFrontend::ShowActivity(std::string_view text, Colour colour) {
    ui::ShowActivity(shell_, text, colour);
}

void EngineFrontend::ShowSessionRunning() {
    ui::ShowSessionRunning(shell_);
}
void EngineFrontend::ShowSessionIdle() {
    ui::ShowSessionIdle(shell_);
}

void EngineFrontend::SetPanelText(StatusBarRef bar, PanelSlot slot, std::string_view text) {
    if (StatusBar* b = Bar(bar)) {
        ui::WritePanelText(shell_, *b, slot, text);
        RepaintSoon();
    }
}

void EngineFrontend::RepaintStatusBar(StatusBarRef bar) {
    if (StatusBar* b = Bar(bar)) {
        ++b->repaints;
        Repaint();
    }
}

StatusBarRef EngineFrontend::MainStatusBar() {
    return shell_.form1 ? Ref(shell_.form1->StatusBar1) : StatusBarRef{};
}

StatusBarRef EngineFrontend::EditionStatusBar() {
    return shell_.running.status_bar ? Ref(*shell_.running.status_bar) : StatusBarRef{};
}

ProgressBarRef EngineFrontend::EditionProgressBar() {
    return shell_.running.progress_bar ? Ref(*shell_.running.progress_bar) : ProgressBarRef{};
}

void EngineFrontend::HideResultLine() {
    if (!shell_.form1) return;
    shell_.form1->Label2.visible = false;
    Repaint();
}

void EngineFrontend::SetProgressMax(ProgressBarRef bar, int max) {
    if (ProgressBar* b = Bar(bar)) {
        b->max = max;
        Repaint();
    }
}

void EngineFrontend::SetProgressPosition(ProgressBarRef bar, int position) {
    if (ProgressBar* b = Bar(bar)) {
        b->position = position;
        RepaintSoon();
    }
}

void EngineFrontend::SetProgressSmooth(ProgressBarRef bar, bool smooth) {
    if (ProgressBar* b = Bar(bar)) {
        b->smooth = smooth;
        Repaint();
    }
}

void EngineFrontend::SetProgressState(ProgressBarRef bar, ProgressState state) {
    if (ProgressBar* b = Bar(bar)) {
        b->state = state;
        Repaint();
    }
}

bool EngineFrontend::TakeStopRequested() {
    if (run_ && run_->closing) return true;
    const bool requested = shell_.stop_requested != 0;
    shell_.stop_requested = 0;
    return requested;
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

void EngineFrontend::HideDeviceReport() {
    if (!shell_.form1) return;
    for (Label* label : {&shell_.form1->Label3, &shell_.form1->Label4}) {
        label->visible = false;
        ++label->repaints;
    }
    Repaint();
}

void EngineFrontend::SetLoaderReport(std::string_view hardware, std::string_view bios) {
    if (!shell_.form6) return;  // the Loader window's own labels
    shell_.form6->Label6.text = std::string(hardware);
    shell_.form6->Label7.text = std::string(bios);
    Repaint();
}

void EngineFrontend::SetCueBackground(Colour colour) {
    const EditionWindow& w = shell_.running;
    if (!w.cue_background) return;
    *w.cue_background = colour;
    if (w.cue_repaints) ++*w.cue_repaints;
    Repaint();
}

}  // namespace quillon::ui
