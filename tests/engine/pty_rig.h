// Test rig for the end-to-end runs: the engine on the real poll pump, talking through the
// real POSIX backend to the devsim program on a pseudo-terminal, with the recording
// frontend of the in-process rig.
#pragma once

#include <memory>
#include <string>

#include "catalog/preparation.h"
#include "engine/search.h"
#include "serial/posix_backend.h"
#include "tests/engine/engine_rig.h"
#include "wait/poll_pump.h"

namespace quillon::engine::testing {

inline constexpr int kPtyPort = 3;  // COM4: the device path is served under this number

struct PtyRig {
    explicit PtyRig(const std::string& device_path)
        : channels(std::make_shared<serial::PosixBackend>(
              [device_path](int port) { return port == kPtyPort ? device_path : std::string(); })),
          presenter(ui),
          pump([this] { return channels.PollHandle(kPtyPort); }),
          engine(presenter, channels, ports, pump) {
        ports.selected_port = kPtyPort;
        ui.status = {&status_bar};
        ui.progress = {&progress_bar};
    }
    serial::ChannelTable channels;
    serial::PortSelection ports;
    int progress_bar = 0, status_bar = 0;
    RecordingFrontend ui;
    ui::Presenter presenter;
    PollPump pump;
    Engine engine;
    catalog::CatalogState catalog;
    SearchResult Search() {
        engine.options = ui::EngineOptionsFor(ui.edition_value, ui.loader_family, ui.sequence_mode);
        return SearchDevice(engine);
    }
};

}  // namespace quillon::engine::testing
