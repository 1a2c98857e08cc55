// The operations the presenter needs from the windows of an edition: the message
// operations, the status and progress bars of the running edition's window, the report
// labels and the stop flag. ui/engine_frontend.h implements them on the window models;
// tests use a recording fake.
#pragma once

#include <cstdint>
#include <string_view>

#include "ui/controls.h"
#include "ui/windows.h"

namespace quillon::ui {

// Opaque handles of a status bar and a progress bar of some window.
struct StatusBarRef {
    void* id = nullptr;
    friend bool operator==(StatusBarRef, StatusBarRef) = default;
};
struct ProgressBarRef {
    void* id = nullptr;
    friend bool operator==(ProgressBarRef, ProgressBarRef) = default;
};

class WindowOps {
public:
    virtual ~WindowOps() = default;

    // The running edition, told by which edition window exists.
    virtual Edition edition() const = 0;

    virtual void ShowOutcome(std::string_view text, Colour colour, std::uint8_t success) = 0;
    virtual void ShowActivity(std::string_view text, Colour colour) = 0;
    virtual void ShowSessionRunning() = 0;
    virtual void ShowSessionIdle() = 0;
    virtual void SetPanelText(StatusBarRef bar, PanelSlot slot, std::string_view text) = 0;
    // Draws the status bar at once (the resend count must be seen while the link waits).
    virtual void RepaintStatusBar(StatusBarRef bar) = 0;
    // The main window's status bar: the resend count is always written there.
    virtual StatusBarRef MainStatusBar() = 0;
    // The bars of the edition's window, where a run is shown.
    virtual StatusBarRef EditionStatusBar() = 0;
    virtual ProgressBarRef EditionProgressBar() = 0;
    // Hides the main window's result line.
    virtual void HideResultLine() = 0;

    virtual void SetProgressMax(ProgressBarRef bar, int max) = 0;
    virtual void SetProgressPosition(ProgressBarRef bar, int position) = 0;
    virtual void SetProgressSmooth(ProgressBarRef bar, bool smooth) = 0;
    virtual void SetProgressState(ProgressBarRef bar, ProgressState state) = 0;

    // StopRequested: reads the flag and clears it.
    virtual bool TakeStopRequested() = 0;

    // Device report of the main window: Label3 (the BIOS line) shown with the given text,
    // Label4 (the device text) shown with its text or hidden. Shown labels get the button
    // face background and black text and are repainted at once.
    virtual void ShowBiosLine(std::string_view text) = 0;
    virtual void ShowDeviceTextLine(std::string_view text) = 0;
    virtual void HideDeviceTextLine() = 0;
    // Hides the main window's BIOS and device-text lines before a search, so that they
    // never show the device of an earlier run.
    virtual void HideDeviceReport() = 0;
    // Device report of the Loader window: the "HW :" value (Label6) and the "BS :" value
    // (Label7).
    virtual void SetLoaderReport(std::string_view hardware, std::string_view bios) = 0;
    // The background of the edition window's cue control: the Upgrade window's main panel,
    // the main window's product label. The Loader window has none.
    virtual void SetCueBackground(Colour colour) = 0;
};

}  // namespace quillon::ui
