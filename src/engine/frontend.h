// What the engine needs from the windows, without knowing them: the message operations,
// the status and progress bars handed over by the calling window, the stop flag, the
// edition and the port opening. ui/engine_frontend.h implements it on the window models;
// tests use a recording fake.
#pragma once

#include <cstdint>
#include <string_view>

#include "engine/colour.h"

namespace quillon::engine {

enum class Edition { Updater = 0, Upgrade = 1, Loader = 2 };
enum class PanelSlot { PortPanel = 0, ActivityPanel = 1, DetailPanel = 2, NoticePanel = 3 };
enum class ProgressState { Normal, Paused, Error };

// Opaque handles of a status bar and a progress bar of some window. The engine only passes
// them back to the frontend.
struct StatusBarRef {
    void* id = nullptr;
    friend bool operator==(StatusBarRef, StatusBarRef) = default;
};
struct ProgressBarRef {
    void* id = nullptr;
    friend bool operator==(ProgressBarRef, ProgressBarRef) = default;
};

class Frontend {
public:
    virtual ~Frontend() = default;

    virtual void ShowOutcome(std::string_view text, Colour colour, std::uint8_t success) = 0;
    virtual void ShowActivity(std::string_view text, Colour colour) = 0;
    virtual void ShowSessionRunning() = 0;
    virtual void ShowSessionIdle() = 0;
    virtual void SetPanelText(StatusBarRef bar, PanelSlot slot, std::string_view text) = 0;
    // Draws the status bar at once (the resend count must be seen while the link waits).
    virtual void RepaintStatusBar(StatusBarRef bar) = 0;
    // The main window's status bar: the resend count is always written there.
    virtual StatusBarRef MainStatusBar() = 0;
    // Hides the main window's result line.
    virtual void HideResultLine() = 0;

    virtual void SetProgressMax(ProgressBarRef bar, int max) = 0;
    virtual void SetProgressPosition(ProgressBarRef bar, int position) = 0;
    virtual void SetProgressSmooth(ProgressBarRef bar, bool smooth) = 0;
    virtual void SetProgressState(ProgressBarRef bar, ProgressState state) = 0;

    // StopRequested: reads the flag and clears it.
    virtual bool TakeStopRequested() = 0;
    virtual Edition edition() const = 0;
    virtual std::uint8_t LoaderFamily() const = 0;

    // Opens the selected port when it is not the one opened last (showing "Invalid Port
    // Com" when it cannot be used), and shows the port in the given status bar.
    virtual void ApplySelectedPort() = 0;
    virtual void ShowPortPanel(StatusBarRef bar) = 0;

    // The operations below have no-op defaults for front ends without these windows (a
    // headless runner, the benchmarks): no sequence mode, no report labels, no cue.

    // SequenceMode: the Upgrade window programs the catalog's images one after another.
    virtual std::uint8_t SequenceMode() const { return 0; }

    // Device report of the main window: Label3 (the BIOS line) shown with the given text,
    // Label4 (the device text) shown with its text or hidden. Shown labels get the button
    // face background and black text and are repainted at once.
    virtual void ShowBiosLine(std::string_view /*text*/) {}
    virtual void ShowDeviceTextLine(std::string_view /*text*/) {}
    virtual void HideDeviceTextLine() {}
    // Hides the main window's BIOS and device-text lines before a search, so that they
    // never show the device of an earlier run.
    virtual void HideDeviceReport() {}
    // Device report of the Loader window: the "HW :" value (Label6) and the "BS :" value
    // (Label7).
    virtual void SetLoaderReport(std::string_view /*hardware*/, std::string_view /*bios*/) {}
    // The background of the edition window's cue control: the Upgrade window's main panel,
    // the main window's product label. The Loader window has none.
    virtual void SetCueBackground(Colour /*colour*/) {}
};

}  // namespace quillon::engine
