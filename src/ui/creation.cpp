#include "ui/creation.h"

namespace quillon::ui {
namespace {

constexpr int kSequenceBarGapPx = 5;  // space between the two Upgrade progress bars
constexpr int kLoaderPromptCellPx = 25;

bool Contains(const std::string& s, const char* word) {
    return s.find(word) != std::string::npos;
}

}  // namespace

std::string UpdaterTitle(const BuildInfo& build) {
    return "Updater 2.7 - " + build.label + "   [ " + build.date + " ]";
}

std::string UpgradeCaption(const BuildInfo& build) {
    return "Upgrade 1.1 -   " + build.label + "   - " + build.date;
}

std::string LoaderCaption(const BuildInfo& build, std::uint8_t loader_family) {
    std::string caption = "Loader 1.0 -   " + build.label + "   - " + build.date;
    if (loader_family == 1) caption += "   -(N)-";
    return caption;
}

void ClearLabel(TForm6& form) {
    form.ProgressBar1.position = 0;
    Label& line = form.Label1;
    line.align = Align::Left;
    line.text_colour = colour::kBlack;
    line.font.bold = false;
    line.font.italic = true;
    line.font.kind = HeightKind::Cell;
    line.font.height = kLoaderPromptCellPx;
    line.text = "Push 'Update FW' button and connect a device";
    form.Label6.text.clear();
    form.Label7.text.clear();
}

void CreateUpgradeWork(Shell& shell, const BuildInfo& build) {
    TForm5& f = *shell.form5;
    f.window.caption = UpgradeCaption(build);
    shell.app_title = build.label;
    shell.panel_map.index[static_cast<int>(PanelSlot::DetailPanel)] = 3;
    shell.sequence_mode = editions::SequenceModeFor(build.label);
    if (shell.sequence_mode) {
        // The two bars stand side by side: 617 becomes 454.
        f.ProgressBar1.rect.w -= f.ProgressBar2.rect.w + kSequenceBarGapPx;
        f.ProgressBar2.visible = true;
    }
}

void CreateLoaderWork(Shell& shell, const BuildInfo& build) {
    TForm6& f = *shell.form6;
    f.window.caption = LoaderCaption(build, 0);
    shell.app_title = build.label;
    ClearLabel(f);
    f.Label5.text = build.label;
    shell.loader_family = editions::LoaderFamilyFor(build.label);
    if (shell.loader_family == 1) {
        f.Image1.visible = false;
        f.window.caption = LoaderCaption(build, 1);
    } else {
        f.Image1.visible = true;
    }
}

void CreateMainWork(Shell& shell, const BuildInfo& build) {
    TForm1& f = *shell.form1;
    if (Contains(build.label, "KP740") || Contains(build.label, "QEH")) {
        f.Image1.visible = false;
        f.Image2.visible = false;
    } else {
        f.Image1.visible = false;
        f.Image2.visible = true;
    }
    f.window.caption = UpdaterTitle(build);
    shell.app_title = build.label;
    f.Label1.text = build.label;
}

void RunCreationWork(Shell& shell, const BuildInfo& build) {
    // Only the running edition's window does its creation work: the main window skips it
    // in the other editions and is never shown there.
    switch (shell.facts().window) {
        case editions::WindowKind::Upgrade:
            return CreateUpgradeWork(shell, build);
        case editions::WindowKind::Loader:
            return CreateLoaderWork(shell, build);
        case editions::WindowKind::Main:
            return CreateMainWork(shell, build);
    }
}

}  // namespace quillon::ui
