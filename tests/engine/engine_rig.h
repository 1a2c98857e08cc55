// Test rig: the engine on the fake pump, talking through a real ChannelTable to the
// in-process virtual device, with a frontend that records what the user would see.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "engine/fake_pump.h"
#include "engine/frontend.h"
#include "engine/link.h"
#include "serial/channel.h"
#include "serial/port_selection.h"
#include "tools/devsim/inprocess_backend.h"

namespace quillon::engine::testing {

inline constexpr int kRigPort = 4;  // COM5

struct Event {
    std::string what;  // "outcome", "activity", "panel", "repaint", "progress.pos", ...
    std::string text;
    long value = 0;
    void* target = nullptr;
    friend bool operator==(const Event&, const Event&) = default;
};

class RecordingFrontend : public Frontend {
public:
    RecordingFrontend(serial::ChannelTable& channels, serial::PortSelection& ports)
        : channels_(channels), ports_(ports) {}

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
    std::uint8_t LoaderFamily() const override { return loader_family; }
    // What the port selection does: open the selected port when it is not the opened one.
    void ApplySelectedPort() override {
        log.push_back({"apply-port", "", 0, nullptr});
        if (ports_.selected_port == ports_.opened_port) return;
        ports_.opened_port = ports_.selected_port;
        if (ports_.selected_port < 0) return;
        channels_.CloseChannel(ports_.selected_port);
        if (!channels_.OpenChannel(ports_.selected_port, 115200, 0, 2, 8, 0)) {
            log.push_back({"outcome", "Invalid Port Com", 0, nullptr});
            return;
        }
        channels_.SetControlLines(ports_.selected_port, true);
    }
    void ShowPortPanel(StatusBarRef bar) override { log.push_back({"port-panel", "", 0, bar.id}); }
    std::uint8_t SequenceMode() const override { return sequence_mode; }
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

private:
    serial::ChannelTable& channels_;
    serial::PortSelection& ports_;
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
          ui(channels, ports),
          engine(ui, channels, ports, pump) {
        ports.selected_port = kRigPort;
        ports.opened_port = -1;
        channels.sleep = [this](std::chrono::milliseconds ms) { pump.advance(ms); };
        pump.set_input_source([this]() -> std::optional<Clock::time_point> {
            auto next = device->NextOutputTime();
            if (!next) return std::nullopt;
            return Clock::time_point(std::chrono::duration_cast<Clock::duration>(*next));
        });
    }
    // Opens the port as a search does.
    void Open() { ui.ApplySelectedPort(); }

    FakePump pump;
    std::shared_ptr<devsim::Device> device;
    std::shared_ptr<devsim::InProcessBackend> backend;
    serial::ChannelTable channels;
    serial::PortSelection ports;
    RecordingFrontend ui;
    Engine engine;
    int progress_bar = 0, status_bar = 0;
    ProgressBarRef progress() { return {&progress_bar}; }
    StatusBarRef status() { return {&status_bar}; }
};

}  // namespace quillon::engine::testing
