// The windows of the three editions as plain models, and the process-wide state that the
// windows and the engine share: the window references, the status panel map, the stop
// flag and the two selectors.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "edition/edition.h"
#include "ui/controls.h"
#include "ui/frame_pacer.h"
#include "ui/setup_dialog.h"
#include "ui/version_dialog.h"

namespace quillon::ui {

using editions::Edition;

// Main window: the Updater edition's own window, created (hidden) in every edition.
struct TForm1 {
    Window window;
    Button Button1, Button2;  // "&Update" / "&Stop", same place
    Image Image1, Image2;
    Bevel Bevel1, Bevel2;
    Label Label1, Label3, Label4, Label2;
    ProgressBar ProgressBar1;
    StatusBar StatusBar1;
    TForm1();
    ControlList controls();
};

// Upgrade edition window.
struct TForm5 {
    Window window;
    Panel Panel1;
    Button Button1, Button2;  // "START" / "STOP", inside Panel1, same place
    ProgressBar ProgressBar1, ProgressBar2;
    StatusBar StatusBar1;
    TForm5();
    ControlList controls();
};

// Loader edition window.
struct TForm6 {
    Window window;
    Button Button1, Button2;  // "Update FW" / "Abort"
    Bevel Bevel1;
    Label Label2, Label3, Label4;  // row captions
    Label Label5, Label6, Label7;  // row values
    Image Image1;
    Label Label1;  // message line
    ProgressBar ProgressBar1;
    StatusBar StatusBar1;  // never shown, but written by the engine
    // Hint line under the progress bar: this window shows no status bar, so what the other
    // windows say in their detail panel on their own (the adapter found on first start)
    // goes here. Hidden while it has nothing to say.
    Label Label8;
    TForm6();
    ControlList controls();
};

// Panel slots of every status bar, addressed through StatusPanelMap.
enum class PanelSlot { PortPanel = 0, ActivityPanel = 1, DetailPanel = 2, NoticePanel = 3 };
struct StatusPanelMap {
    std::int32_t index[4] = {0, 1, 2, 3};
    std::int32_t operator[](PanelSlot s) const { return index[static_cast<int>(s)]; }
};

// How a window's message line shows a message.
enum class LineStyle {
    Banner,        // the text on an opaque label of the message's colour
    ColouredText,  // the text itself in the message's colour, bold for outcomes
};

// How a window shows that a run is going on.
enum class RunButtons {
    Swap,    // the stop button takes the update button's place
    Enable,  // both stay in view; the one that applies is enabled
};

// The parts every edition's window has, whichever window that is: the messages, the
// bars and the buttons of a run reach the running window through it.
struct EditionWindow {
    Window* window = nullptr;
    StatusBar* status_bar = nullptr;
    ProgressBar* progress_bar = nullptr;
    Button* update_button = nullptr;
    Button* stop_button = nullptr;
    // The large message line; none: messages go to the status bar's activity panel.
    Label* message_line = nullptr;
    LineStyle line_style = LineStyle::Banner;
    RunButtons run_buttons = RunButtons::Swap;
    // A control whose background turns silver for an unscrambled image.
    Colour* cue_background = nullptr;
    int* cue_repaints = nullptr;  // its immediate repaints, where it counts them
};

// Window references, selectors and flags owned by one application context. A test makes
// a fresh one; nothing here is static.
struct Shell {
    std::unique_ptr<TForm5> form5;  // only in the Upgrade edition
    std::unique_ptr<TForm6> form6;  // only in the Loader edition
    std::unique_ptr<TForm1> form1;
    std::unique_ptr<TForm3> form3;
    std::unique_ptr<TForm4> form4;

    StatusPanelMap panel_map;
    // Set by Stop and by closing the main window; the engine's reply wait takes it.
    std::uint8_t stop_requested = 0;
    // Not 0: one run programs board after board until every family the catalog holds is
    // done; a board of a family done before in the run is passed on.
    std::uint8_t sequence_mode = 0;
    // The Loader's bootloader family (from its label): chooses the identify byte and the
    // caption mark.
    std::uint8_t loader_family = 0;
    bool slow_adapter_told = false;  // the slow-adapter notice is given once per run
    std::string adapter_hint;        // the first start's adapter hint while it is shown

    std::string app_title;  // what the desktop shows for the application

    // Called after an operation changed a model and asked for an immediate repaint; the
    // toolkit binding renders the models here. Empty without a front end.
    std::function<void()> repaint;
    // For the writes that come once per packet during a session (progress, status panels):
    // drawn while the next packet is on the wire, at most once a frame, and the last value
    // always. Unbound (no binding): those writes are drawn through `repaint`.
    FramePacer frames;

    // Called after the "Setup" dialog's OK chose another port (the program stores it).
    std::function<void()> port_chosen;

    // The UDP listener's notification hook, set when the listener exists.
    std::function<void(std::uint8_t success)> notify_outcome;

    // The running edition, chosen once at start-up, and its facts.
    Edition edition() const { return edition_value; }
    const editions::Facts& facts() const { return editions::Of(edition_value); }
    // The running edition's window: the first window created, so closing it ends the program.
    Window& main_window() { return *running.window; }

    // Every window, in creation order: the edition's window, TForm1, TForm3, TForm4.
    std::vector<Window*> windows();
    // The control list of one of those windows.
    ControlList controls_of(const Window& window);

    Edition edition_value = Edition::Updater;
    EditionWindow running;  // the running edition's window, set by CreateWindows
};

// Creates the windows in start-up order (edition window, TForm1, TForm3, TForm4), hidden,
// in their design-time state. Creation work of later stages (settings, catalog) is not
// done here.
void CreateWindows(Shell& shell, Edition edition);

}  // namespace quillon::ui
