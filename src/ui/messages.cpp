#include "ui/messages.h"

namespace quillon::ui {
namespace {

// Loader message line: font cell heights of the two message styles.
constexpr int kLoaderBoldCellPx = 32;
constexpr int kLoaderRegularCellPx = 25;

void Repaint(Shell& shell) {
    if (shell.repaint) shell.repaint();
}

void SetLoaderStyle(Label& line, bool bold) {
    line.font.bold = bold;
    line.font.italic = false;  // "bold only" / "regular": no other style survives
    line.font.kind = HeightKind::Cell;
    line.font.height = bold ? kLoaderBoldCellPx : kLoaderRegularCellPx;
}

void SetPanel(StatusBar& bar, std::int32_t index, std::string_view text) {
    if (index < 0 || static_cast<std::size_t>(index) >= bar.panels.size()) return;
    bar.panels[static_cast<std::size_t>(index)].text = std::string(text);
    ++bar.repaints;
}

}  // namespace

void ShowOutcome(Shell& shell, std::string_view text, Colour colour, std::uint8_t success) {
    if (shell.notify_outcome) shell.notify_outcome(success);
    switch (shell.edition()) {
        case Edition::Loader: {
            TForm6& f = *shell.form6;
            f.Button1.enabled = true;
            f.Button2.enabled = false;
            SetLoaderStyle(f.Label1, true);
            f.Label1.align = Align::Centre;
            f.Label1.text_colour = colour;
            f.Label1.text = std::string(text);
            ++f.Label1.repaints;
            break;
        }
        case Edition::Upgrade: {
            TForm5& f = *shell.form5;
            f.Button2.visible = false;
            f.Button1.visible = true;
            FocusButton(f.Button1, {&f.Button2});
            SetPanelText(shell, f.StatusBar1, PanelSlot::ActivityPanel, text);
            break;
        }
        case Edition::Updater: {
            TForm1& f = *shell.form1;
            f.Label2.opaque = true;
            f.Label2.text = std::string(text);
            f.Label2.visible = true;
            f.Label2.background = colour;
            f.Label2.text_colour = colour::kWhite;
            f.window.menu.enabled = true;
            f.Button2.visible = false;
            f.Button1.visible = true;
            FocusButton(f.Button1, {&f.Button2});
            break;
        }
    }
    Repaint(shell);
}

void ShowActivity(Shell& shell, std::string_view text, Colour colour) {
    switch (shell.edition()) {
        case Edition::Loader: {
            Label& line = shell.form6->Label1;
            line.text_colour = colour == colour::kButtonFace ? colour::kBlack : colour;
            SetLoaderStyle(line, line.text_colour != colour::kBlack);
            line.align = Align::Left;
            line.text = std::string(text);
            break;
        }
        case Edition::Upgrade:
            SetPanelText(shell, shell.form5->StatusBar1, PanelSlot::ActivityPanel, text);
            break;
        case Edition::Updater: {
            Label& line = shell.form1->Label2;
            line.text = std::string(text);
            line.visible = true;
            line.background = colour;
            line.text_colour = colour::kBlack;
            break;
        }
    }
    Repaint(shell);
}

void ShowSessionRunning(Shell& shell) {
    switch (shell.edition()) {
        case Edition::Loader:
            shell.form6->Button1.enabled = false;
            shell.form6->Button2.enabled = true;
            break;
        case Edition::Upgrade: {
            TForm5& f = *shell.form5;
            SetPanelText(shell, f.StatusBar1, PanelSlot::DetailPanel, " ");
            f.Button2.visible = true;
            f.Button1.visible = false;
            break;
        }
        case Edition::Updater:
            shell.form1->Button2.visible = true;
            shell.form1->Button1.visible = false;
            break;
    }
    Repaint(shell);
}

void ShowSessionIdle(Shell& shell) {
    switch (shell.edition()) {
        case Edition::Loader: {
            TForm6& f = *shell.form6;
            f.Button1.enabled = true;
            f.Button2.enabled = false;
            FocusButton(f.Button1, {&f.Button2});
            break;
        }
        case Edition::Upgrade: {
            TForm5& f = *shell.form5;
            f.Button2.visible = false;
            f.Button1.visible = true;
            FocusButton(f.Button1, {&f.Button2});
            break;
        }
        case Edition::Updater: {
            TForm1& f = *shell.form1;
            f.Button2.visible = false;
            f.Button1.visible = true;
            FocusButton(f.Button1, {&f.Button2});
            break;
        }
    }
    Repaint(shell);
}

void SetPanelText(const Shell& shell, StatusBar& bar, PanelSlot slot, std::string_view text) {
    WritePanelText(shell, bar, slot, text);
    if (shell.repaint) shell.repaint();  // status texts show at once, even mid-session
}

void WritePanelText(const Shell& shell, StatusBar& bar, PanelSlot slot, std::string_view text) {
    SetPanel(bar, shell.panel_map[slot], text);
}

}  // namespace quillon::ui
