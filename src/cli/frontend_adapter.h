// The one bridge between the engine's window-shaped frontend (engine/frontend.h: outcome,
// activity, status panels, progress bars) and the command line's events (events.h). Every
// guess about what a window call means lives in this file, so that it can be replaced
// as a whole once the engine reports events itself.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "catalog/preparation.h"
#include "cli/events.h"
#include "engine/frontend.h"

namespace quillon::cli {

struct AdapterSetup {
    engine::Edition edition = engine::Edition::Updater;
    std::uint8_t loader_family = 0;
    std::uint8_t sequence_mode = 0;
    std::function<bool()> take_stop;   // StopRequested: read and clear
    std::function<void()> apply_port;  // opens the port afresh when asked
};

class FrontendAdapter : public engine::Frontend {
public:
    FrontendAdapter(EventSink& sink, AdapterSetup setup);

    // Before each search: forgets what the last session said.
    void BeginSearch();
    // Whether a final event (success, refusal, failure, passed on) was sent since
    // BeginSearch.
    bool final_seen() const { return final_seen_; }
    // A session that ended with no final event: in the Upgrade edition the engine shows
    // nothing for the two refusals of the image preparation; this tells them apart by the
    // prepared image and sends the refusal. `result` is the session's result.
    void EndSession(int result, const catalog::PreparedImage& image);

    void ShowOutcome(std::string_view text, engine::Colour colour, std::uint8_t success) override;
    void ShowActivity(std::string_view text, engine::Colour colour) override;
    void ShowSessionRunning() override {}
    void ShowSessionIdle() override {}
    void SetPanelText(engine::StatusBarRef bar, engine::PanelSlot slot,
                      std::string_view text) override;
    void RepaintStatusBar(engine::StatusBarRef) override {}
    engine::StatusBarRef MainStatusBar() override { return {&main_bar_}; }
    void HideResultLine() override {}
    void SetProgressMax(engine::ProgressBarRef bar, int max) override;
    void SetProgressPosition(engine::ProgressBarRef bar, int position) override;
    void SetProgressSmooth(engine::ProgressBarRef, bool) override {}
    void SetProgressState(engine::ProgressBarRef, engine::ProgressState) override {}
    bool TakeStopRequested() override { return setup_.take_stop && setup_.take_stop(); }
    engine::Edition edition() const override { return setup_.edition; }
    std::uint8_t LoaderFamily() const override { return setup_.loader_family; }
    void ApplySelectedPort() override {
        if (setup_.apply_port) setup_.apply_port();
    }
    void ShowPortPanel(engine::StatusBarRef) override {}
    std::uint8_t SequenceMode() const override { return setup_.sequence_mode; }
    void ShowBiosLine(std::string_view text) override;
    void ShowDeviceTextLine(std::string_view text) override;
    void SetLoaderReport(std::string_view hardware, std::string_view bios) override;

private:
    enum class Phase { Search, Flash, Eeprom };
    void Send(Event e);
    void Final(EventKind kind, std::string_view text, Exit exit);

    EventSink& sink_;
    AdapterSetup setup_;
    int main_bar_ = 0;
    Phase phase_ = Phase::Search;
    int max_ = 0;
    bool flash_sized_ = false;
    bool final_seen_ = false;
};

}  // namespace quillon::cli
