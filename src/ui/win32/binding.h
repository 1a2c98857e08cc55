// Renders the window models of ui/ as native Win32 windows and common controls at their
// pixel positions and keeps them in step, as the Qt binding does with widgets: the models
// own every property, the controls are brought in line by sync().
#pragma once

#include <windows.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string_view>
#include <vector>

#include "catalog/preparation.h"
#include "serial/channel.h"
#include "serial/port_selection.h"
#include "ui/window_commands.h"
#include "ui/windows.h"

namespace quillon::ui::win32 {

class Binding {
public:
    // Creates the windows and controls of every window that exists in `shell`, hidden, and
    // installs itself as the shell's repaint hook. `ports`, `channels` and `catalog` serve
    // the "Setup" and "Version .." dialogs and must outlive the binding.
    Binding(Shell& shell, serial::PortSelection& ports, serial::ChannelTable& channels,
            const catalog::CatalogState& catalog);
    ~Binding();
    Binding(const Binding&) = delete;
    Binding& operator=(const Binding&) = delete;

    // Brings every window and control in line with its model.
    void sync();
    // What the models' repaint requests call: a sync now, or within one sync interval
    // when the last one was less than that ago (a timer on the first window brings it).
    void request_sync();

    // Lays every window out for a display of `dpi` (96 = 100 %), as a move to a monitor of
    // that scale does; a value outside 96..480 is taken as the nearest end, none as 96.
    void lay_out(int dpi);
    // The DPI a window is laid out for (0 when the window does not exist).
    int dpi(const Window& model) const;

    // The top-level window of a model (null when the window does not exist).
    HWND form(const Window& model) const;
    // The control of a window by its model name ("Button1", "StatusBar1", "ComboBox1", ...).
    HWND control(const Window& model, std::string_view name) const;
    Commands& commands(const Window& model);

    // Gives a queued message to the keyboard handling of the window it is for (Tab, Space,
    // Enter, the mnemonics): true when it was handled and must not be dispatched.
    bool dialog_message(MSG& msg);

    struct View;  // one top-level window and its controls (binding.cpp)

private:
    // Creates a window and the controls it lists, owned by `owner` (a dialog's main window).
    View& add_view(Window& window, const ControlList& controls, HWND owner);
    // What the buttons and keys of the "Setup" and "Version .." dialogs do.
    void bind_setup(View& v);
    void bind_version(View& v);

    Shell& shell_;
    serial::PortSelection& ports_;
    serial::ChannelTable& channels_;
    const catalog::CatalogState& catalog_;
    std::vector<std::unique_ptr<View>> views_;
    bool syncing_ = false;
    bool sync_pending_ = false;
    bool sync_timer_armed_ = false;
    std::chrono::steady_clock::time_point last_sync_{};
    friend struct View;
};

// Handles one queued message as the message loop would (keyboard handling first).
void DispatchOne(Binding* binding, MSG& msg);
// Runs the message loop until WM_QUIT.
void RunMessageLoop(Binding& binding);

// A DPI as the binding uses it: one of 96 (100 %) to 480 (500 %), 96 for none (0 or less).
int SaneDpi(long dpi);
// A length in 96-dpi pixels at `dpi`, rounded as Windows rounds (MulDiv).
int ScaleForDpi(int pixels, int dpi);
// The DPI of a window's monitor; of the screen where the system cannot tell per window.
int WindowDpi(HWND window);

// The font a model names (its height in pixels as given), created once and kept.
HFONT FontFor(const Font& font);
// Colours of the model as a COLORREF (the same 0x00BBGGRR layout).
COLORREF ToColorRef(Colour c);

}  // namespace quillon::ui::win32
