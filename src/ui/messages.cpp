#include "ui/messages.h"

namespace quillon::ui {
namespace {

// The coloured-text message line's font cell heights.
constexpr int kBoldCellPx = 32;
constexpr int kRegularCellPx = 25;

void Repaint(Shell& shell) {
    if (shell.repaint) shell.repaint();
}

// The coloured-text message line: bold for outcomes and coloured activity, regular else.
void SetColouredTextStyle(Label& line, bool bold) {
    line.font.bold = bold;
    line.font.italic = false;  // "bold only" / "regular": no other style survives
    line.font.kind = HeightKind::Cell;
    line.font.height = bold ? kBoldCellPx : kRegularCellPx;
}

// Shows the buttons of a running or an idle window. The button that applies takes the
// keyboard focus from the other: a hidden or disabled button loses it and nothing else
// would take it, so Space could not stop a run or start the next one.
void SetRunButtons(EditionWindow& w, bool running) {
    Button& update = *w.update_button;
    Button& stop = *w.stop_button;
    switch (w.run_buttons) {
        case RunButtons::Swap:
            update.visible = !running;
            stop.visible = running;
            break;
        case RunButtons::Enable:
            update.enabled = !running;
            stop.enabled = running;
            break;
    }
    if (running)
        FocusButton(stop, {&update});
    else
        FocusButton(update, {&stop});
}

void ShowOutcomeLine(Label& line, LineStyle style, std::string_view text, Colour colour) {
    switch (style) {
        case LineStyle::Banner:
            line.opaque = true;
            line.visible = true;
            line.background = colour;
            line.text_colour = colour::kWhite;
            break;
        case LineStyle::ColouredText:
            SetColouredTextStyle(line, true);
            line.align = Align::Centre;
            line.text_colour = colour;
            ++line.repaints;
            break;
    }
    line.text = std::string(text);
}

void ShowActivityLine(Label& line, LineStyle style, std::string_view text, Colour colour) {
    switch (style) {
        case LineStyle::Banner:
            line.visible = true;
            line.background = colour;
            line.text_colour = colour::kBlack;
            break;
        case LineStyle::ColouredText:
            line.text_colour = colour == colour::kButtonFace ? colour::kBlack : colour;
            SetColouredTextStyle(line, line.text_colour != colour::kBlack);
            line.align = Align::Left;
            break;
    }
    line.text = std::string(text);
}

void SetPanel(StatusBar& bar, std::int32_t index, std::string_view text) {
    if (index < 0 || static_cast<std::size_t>(index) >= bar.panels.size()) return;
    bar.panels[static_cast<std::size_t>(index)].text = std::string(text);
    ++bar.repaints;
}

}  // namespace

void ShowOutcome(Shell& shell, std::string_view text, Colour colour, std::uint8_t success) {
    if (shell.notify_outcome) shell.notify_outcome(success);
    EditionWindow& w = shell.running;
    SetRunButtons(w, false);
    w.window->menu.enabled = true;
    if (w.message_line)
        ShowOutcomeLine(*w.message_line, w.line_style, text, colour);
    else
        SetPanelText(shell, *w.status_bar, PanelSlot::ActivityPanel, text);
    Repaint(shell);
}

void ShowActivity(Shell& shell, std::string_view text, Colour colour) {
    EditionWindow& w = shell.running;
    if (w.message_line)
        ShowActivityLine(*w.message_line, w.line_style, text, colour);
    else
        SetPanelText(shell, *w.status_bar, PanelSlot::ActivityPanel, text);
    Repaint(shell);
}

void ShowSessionRunning(Shell& shell) {
    EditionWindow& w = shell.running;
    // A window whose message line is its status bar starts the run with the detail emptied.
    if (!w.message_line) SetPanelText(shell, *w.status_bar, PanelSlot::DetailPanel, " ");
    SetRunButtons(w, true);
    Repaint(shell);
}

void ShowSessionIdle(Shell& shell) {
    SetRunButtons(shell.running, false);
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
