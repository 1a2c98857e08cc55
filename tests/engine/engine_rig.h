// Test rig: the engine on the fake pump, talking through a real ChannelTable to the
// in-process virtual device; its events go through the edition presenter into windows that
// record what the user would see.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "engine/link.h"
#include "engine/search.h"
#include "serial/channel.h"
#include "serial/port_selection.h"
#include "tests/engine/virtual_time.h"
#include "tests/support/fake_pump.h"
#include "tools/devsim/inprocess_backend.h"
#include "ui/presenter.h"
#include "ui/window_ops.h"

// The engine tests see the engine's events as the windows show them.
namespace quillon::engine {
using ui::Colour;
using ui::Edition;
using ui::PanelSlot;
using ui::ProgressBarRef;
using ui::ProgressState;
using ui::StatusBarRef;
namespace colour = ui::colour;
}  // namespace quillon::engine

namespace quillon::engine::testing {

inline constexpr int kRigPort = 4;  // COM5

struct Event {
    std::string what;  // "outcome", "activity", "panel", "repaint", "progress.pos", ...
    std::string text;
    long value = 0;
    void* target = nullptr;
    friend bool operator==(const Event&, const Event&) = default;
};

class RecordingFrontend : public ui::WindowOps {
public:
    void ShowOutcome(std::string_view text, Colour c, std::uint8_t success) override {
        log.push_back({"outcome", std::string(text), static_cast<long>(c) * 2 + success});
        running = false;
    }
    void ShowActivity(std::string_view text, Colour c) override {
        log.push_back({"activity", std::string(text), static_cast<long>(c)});
    }
    void ShowSessionRunning() override {
        running = true;
        log.push_back({"running", "", 0, nullptr});
    }
    void ShowSessionIdle() override {
        running = false;
        log.push_back({"idle", "", 0, nullptr});
    }
    void SetPanelText(StatusBarRef bar, PanelSlot slot, std::string_view text) override {
        log.push_back({"panel", std::string(text), static_cast<long>(slot), bar.id});
    }
    void RepaintStatusBar(StatusBarRef bar) override { log.push_back({"repaint", "", 0, bar.id}); }
    StatusBarRef MainStatusBar() override { return {&main_bar}; }
    StatusBarRef EditionStatusBar() override { return status; }
    ProgressBarRef EditionProgressBar() override { return progress; }
    void HideResultLine() override { log.push_back({"hide-result", "", 0, nullptr}); }
    void SetProgressMax(ProgressBarRef bar, int max) override {
        log.push_back({"progress.max", "", max, bar.id});
    }
    void SetProgressPosition(ProgressBarRef bar, int position) override {
        log.push_back({"progress.pos", "", position, bar.id});
    }
    void SetProgressSmooth(ProgressBarRef bar, bool smooth) override {
        log.push_back({"progress.smooth", "", smooth ? 1 : 0, bar.id});
    }
    void SetProgressState(ProgressBarRef bar, ProgressState state) override {
        log.push_back({"progress.state", "", static_cast<long>(state), bar.id});
    }
    bool TakeStopRequested() override {
        const bool was = stop;
        stop = false;
        return was;
    }
    Edition edition() const override { return edition_value; }
    void ShowBiosLine(std::string_view text) override {
        log.push_back({"label3", std::string(text), 1, nullptr});
    }
    void ShowDeviceTextLine(std::string_view text) override {
        log.push_back({"label4", std::string(text), 1, nullptr});
    }
    void HideDeviceTextLine() override { log.push_back({"label4", "", 0, nullptr}); }
    void HideDeviceReport() override { log.push_back({"hide-report", "", 0, nullptr}); }
    void SetLoaderReport(std::string_view hardware, std::string_view bios) override {
        log.push_back({"label6", std::string(hardware), 0, nullptr});
        log.push_back({"label7", std::string(bios), 0, nullptr});
    }
    void SetCueBackground(Colour c) override { log.push_back({"cue", "", static_cast<long>(c)}); }

    // Texts written into a panel slot, in order.
    std::vector<std::string> Panels(PanelSlot slot) const {
        std::vector<std::string> out;
        for (const Event& e : log)
            if (e.what == "panel" && e.value == static_cast<long>(slot)) out.push_back(e.text);
        return out;
    }
    std::vector<std::string> Of(const std::string& what) const {
        std::vector<std::string> out;
        for (const Event& e : log)
            if (e.what == what) out.push_back(e.text);
        return out;
    }
    std::vector<long> Values(const std::string& what) const {
        std::vector<long> out;
        for (const Event& e : log)
            if (e.what == what) out.push_back(e.value);
        return out;
    }

    std::vector<Event> log;
    bool stop = false;
    bool running = false;
    Edition edition_value = Edition::Updater;
    std::uint8_t loader_family = 0;
    std::uint8_t sequence_mode = 0;
    int main_bar = 0;  // its address is the main status bar's handle
    StatusBarRef status;
    ProgressBarRef progress;
};

inline devsim::Nanos SinceEpoch(Clock::time_point t) {
    return std::chrono::duration_cast<devsim::Nanos>(t.time_since_epoch());
}

struct Rig {
    explicit Rig(devsim::Options options = {})
        : device(std::make_shared<devsim::Device>(std::move(options))),
          backend(std::make_shared<devsim::InProcessBackend>(
              device, kRigPort, [this] { return SinceEpoch(pump.now()); })),
          channels(backend),
          presenter(ui),
          engine(presenter, channels, ports, pump) {
        ui.status = status();
        ui.progress = progress();
        ports.selected_port = kRigPort;
        ports.opened_port = -1;
        channels.sleep = [this](std::chrono::milliseconds ms) { pump.advance(ms); };
        pump.set_input_source(devsim::NextByteDue(device));
    }
    // Opens the port as a search does.
    void Open() {
        if (!serial::ApplySelectedPort(ports, channels))
            ui.log.push_back({"outcome", "Invalid Port Com"});
    }
    // A search with the options the recorded windows' edition and selectors give.
    SearchResult Search() {
        engine.options = ui::EngineOptionsFor(ui.edition_value, ui.loader_family, ui.sequence_mode);
        return SearchDevice(engine);
    }

    FakePump pump;
    std::shared_ptr<devsim::Device> device;
    std::shared_ptr<devsim::InProcessBackend> backend;
    serial::ChannelTable channels;
    serial::PortSelection ports;
    int progress_bar = 0, status_bar = 0;
    ProgressBarRef progress() { return {&progress_bar}; }
    StatusBarRef status() { return {&status_bar}; }
    RecordingFrontend ui;
    ui::Presenter presenter;
    Engine engine;
};

}  // namespace quillon::engine::testing
