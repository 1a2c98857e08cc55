// The presenter's view of the windows, implemented on the window models: messages go through
// ui/messages.h, and the bars it names are the models' own status and progress bars.
#pragma once

#include "ui/run_state.h"
#include "ui/window_ops.h"
#include "ui/windows.h"

namespace quillon::ui {

class EngineFrontend : public WindowOps {
public:
    explicit EngineFrontend(Shell& shell) : shell_(shell) {}

    // Handles of a window's bars.
    static StatusBarRef Ref(StatusBar& bar) { return {&bar}; }
    static ProgressBarRef Ref(ProgressBar& bar) { return {&bar}; }
    // The program's run state: once the main window has closed during a run, every wait
    // that listens to Stop sees one, until the run is over.
    void watch(const RunState& run) { run_ = &run; }

    Edition edition() const override { return shell_.edition(); }
    void ShowOutcome(std::string_view text, Colour colour, std::uint8_t success) override;
    void ShowActivity(std::string_view text, Colour colour) override;
    void ShowSessionRunning() override;
    void ShowSessionIdle() override;
    void SetPanelText(StatusBarRef bar, PanelSlot slot, std::string_view text) override;
    void RepaintStatusBar(StatusBarRef bar) override;
    StatusBarRef MainStatusBar() override;
    StatusBarRef EditionStatusBar() override;
    ProgressBarRef EditionProgressBar() override;
    void HideResultLine() override;
    void SetProgressMax(ProgressBarRef bar, int max) override;
    void SetProgressPosition(ProgressBarRef bar, int position) override;
    void SetProgressSmooth(ProgressBarRef bar, bool smooth) override;
    void SetProgressState(ProgressBarRef bar, ProgressState state) override;
    bool TakeStopRequested() override;
    void ShowBiosLine(std::string_view text) override;
    void ShowDeviceTextLine(std::string_view text) override;
    void HideDeviceTextLine() override;
    void HideDeviceReport() override;
    void SetLoaderReport(std::string_view hardware, std::string_view bios) override;
    void SetCueBackground(Colour colour) override;

private:
    void Repaint();
    // For the writes made once per packet: drawn while the next packet is on the wire.
    void RepaintSoon();

    Shell& shell_;
    const RunState* run_ = nullptr;
};

}  // namespace quillon::ui
