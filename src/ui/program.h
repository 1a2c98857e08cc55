// What the windows' commands act on besides the window models, and the commands
// themselves: update/START, the port and listing dialogs, and closing the main window.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "catalog/preparation.h"
#include "engine/link.h"
#include "engine/pump.h"
#include "engine/session.h"
#include "serial/channel.h"
#include "serial/port_selection.h"
#include "serial/ports.h"
#include "settings/settings.h"
#include "ui/creation.h"
#include "ui/run_state.h"
#include "ui/setup_dialog.h"
#include "ui/windows.h"

namespace quillon::ui {

using PortEntries = std::vector<serial::PortEntry>;

// Runs one programming session on the device the search found.
using SessionRunner = std::function<engine::SessionResult()>;

// The engine's pump in a program whose run may be abandoned: once the main window has
// closed during a run, no wait waits any more and every reading of the clock is an hour
// past the one before, so each deadline of the engine has passed when it is next looked
// at. The waits that do not listen to Stop (the extended block, the pass-on pauses) end
// at once too, and the run returns to its command handler within a few iterations.
class RunPump : public engine::Pump {
public:
    // `frames`, when given, draws the windows after the engine's writes.
    RunPump(engine::Pump& inner, const RunState& run, FramePacer* frames = nullptr)
        : inner_(inner), run_(run), frames_(frames) {}
    engine::Clock::time_point now() override;
    void wait(engine::Clock::duration max, bool process_ui, bool wake_on_input) override;
    void rest() override { inner_.rest(); }
    void written() override {
        inner_.written();
        if (frames_) frames_->Written();
    }

private:
    static constexpr std::chrono::hours kAbandonedStep{1};
    engine::Pump& inner_;
    const RunState& run_;
    FramePacer* frames_;
    engine::Clock::duration skipped_{};
};

struct Services {
    serial::ChannelTable& channels;
    serial::PortSelection& ports;
    catalog::CatalogState& catalog;
    engine::Engine& engine;
    BuildInfo build;
    settings::Store store;
    PortLister list_ports;
    SessionRunner session;  // empty: a found device is left as found
    RunState run;
    // Ends the message loop; called once the main window has closed and no run is left.
    std::function<void()> end_program;
    // The USB serial adapters present (serial::ListUsbAdapters in the program); empty:
    // none is looked for.
    std::function<std::vector<serial::UsbAdapter>()> list_adapters;
};

// Creation work of every window in start-up order, with the remembered port and the catalog.
// On a first start (nothing remembered) or with the remembered port gone, the only USB
// serial adapter present is named where the window's user sees it (AdapterHint).
void RunCreationWork(Shell& shell, Services& s);

// Shows a non-empty AdapterHint: in the detail panel of the Updater and Upgrade windows,
// in the Loader window's hint line. Hidden again once the user has chosen a port.
void ShowAdapterHint(Shell& shell, const std::string& hint);
void HideAdapterHint(Shell& shell);

// Main window.
void MainUpdateClick(Shell& shell, Services& s);
void MainChangePortClick(Shell& shell, Services& s);
void MainLabel1DblClick(Shell& shell, Services& s);
// Upgrade window.
void UpgradeStartClick(Shell& shell, Services& s);
void UpgradeSerialPortClick(Shell& shell, Services& s);
// Loader window.
void LoaderUpdateClick(Shell& shell, Services& s);
void LoaderChangePortClick(Shell& shell, Services& s);
// Closing the edition's main window: closes the port it opened, remembers the choice and
// ends the program. During a run it stops the run first (as Stop does); the rest follows
// as soon as the run has returned.
void MainFormClose(Shell& shell, Services& s);

// The update, stop and port commands of a window.
struct WindowHandlers {
    void (*update)(Shell&, Services&);
    void (*stop)(Shell&);
    void (*port)(Shell&, Services&);
};
const WindowHandlers& HandlersOf(editions::WindowKind window);

inline constexpr const char* kDeviceNotFindText = "The device is not find.";
inline constexpr const char* kPortNotValidText = "Port not valid. Select a new port.";

}  // namespace quillon::ui
