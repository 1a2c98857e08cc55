// A frontend that shows nothing, for benchmarks that time the engine alone; a benchmark
// overrides what it needs to see or do.
#pragma once

#include "engine/frontend.h"

namespace quillon::bench {

class SilentFrontend : public engine::Frontend {
public:
    void ShowOutcome(std::string_view, engine::Colour, std::uint8_t) override {}
    void ShowActivity(std::string_view, engine::Colour) override {}
    void ShowSessionRunning() override {}
    void ShowSessionIdle() override {}
    void SetPanelText(engine::StatusBarRef, engine::PanelSlot, std::string_view) override {}
    void RepaintStatusBar(engine::StatusBarRef) override {}
    engine::StatusBarRef MainStatusBar() override { return {}; }
    void HideResultLine() override {}
    void SetProgressMax(engine::ProgressBarRef, int) override {}
    void SetProgressPosition(engine::ProgressBarRef, int) override {}
    void SetProgressSmooth(engine::ProgressBarRef, bool) override {}
    void SetProgressState(engine::ProgressBarRef, engine::ProgressState) override {}
    bool TakeStopRequested() override { return false; }
    engine::Edition edition() const override { return engine::Edition::Updater; }
    std::uint8_t LoaderFamily() const override { return 0; }
    void ApplySelectedPort() override {}
    void ShowPortPanel(engine::StatusBarRef) override {}
};

}  // namespace quillon::bench
