// The engine's view of the windows, implemented on the window models: messages go through
// ui/messages.h, the bars the engine names are the models' own status and progress bars,
// and the port is opened through ui/port_selection.h.
#pragma once

#include "engine/frontend.h"
#include "serial/channel.h"
#include "serial/port_selection.h"
#include "ui/run_state.h"
#include "ui/windows.h"

namespace quillon::ui {

class EngineFrontend : public engine::Frontend {
public:
    EngineFrontend(Shell& shell, serial::PortSelection& ports, serial::ChannelTable& channels)
        : shell_(shell), ports_(ports), channels_(channels) {}

    // Handles of a window's bars, for SearchDevice and the session.
    static engine::StatusBarRef Ref(StatusBar& bar) { return {&bar}; }
    static engine::ProgressBarRef Ref(ProgressBar& bar) { return {&bar}; }
    // The program's run state: once the main window has closed during a run, every wait
    // that listens to Stop sees one, until the run is over.
    void watch(const RunState& run) { run_ = &run; }

    void ShowOutcome(std::string_view text, engine::Colour colour, std::uint8_t success) override;
    void ShowActivity(std::string_view text, engine::Colour colour) override;
    void ShowSessionRunning() override;
    void ShowSessionIdle() override;
    void SetPanelText(engine::StatusBarRef bar, engine::PanelSlot slot,
                      std::string_view text) override;
    void RepaintStatusBar(engine::StatusBarRef bar) override;
    engine::StatusBarRef MainStatusBar() override;
    void HideResultLine() override;
    void SetProgressMax(engine::ProgressBarRef bar, int max) override;
    void SetProgressPosition(engine::ProgressBarRef bar, int position) override;
    void SetProgressSmooth(engine::ProgressBarRef bar, bool smooth) override;
    void SetProgressState(engine::ProgressBarRef bar, engine::ProgressState state) override;
    bool TakeStopRequested() override;
    engine::Edition edition() const override;
    std::uint8_t LoaderFamily() const override { return shell_.loader_family; }
    void ApplySelectedPort() override;
    void ShowPortPanel(engine::StatusBarRef bar) override;
    std::uint8_t SequenceMode() const override { return shell_.sequence_mode; }
    void ShowBiosLine(std::string_view text) override;
    void ShowDeviceTextLine(std::string_view text) override;
    void HideDeviceTextLine() override;
    void SetLoaderReport(std::string_view hardware, std::string_view bios) override;
    void SetCueBackground(engine::Colour colour) override;

private:
    void Repaint();

    Shell& shell_;
    serial::PortSelection& ports_;
    serial::ChannelTable& channels_;
    const RunState* run_ = nullptr;
};

}  // namespace quillon::ui
