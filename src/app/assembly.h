// One running program, assembled without a toolkit: the windows of the label's edition, the
// serial channel and port selection, the catalog, the presenter that shows the engine's
// events in the edition's window, the engine, and the window commands' services. A front
// end's main creates it with its own pump, binds its widgets to `shell` and runs its loop.
#pragma once

#include <functional>
#include <memory>

#include "catalog/preparation.h"
#include "engine/link.h"
#include "engine/pump.h"
#include "serial/channel.h"
#include "serial/port_selection.h"
#include "ui/engine_frontend.h"
#include "ui/presenter.h"
#include "ui/program.h"
#include "ui/windows.h"

namespace quillon::app {

// Makes the front end's pump; `input_handle` gives the pollable handle of the port the
// engine reads (-1: none).
using PumpFactory = std::function<std::unique_ptr<engine::Pump>(std::function<int()> input_handle)>;

struct Program {
    // Creates the windows of the label's edition (hidden) and wires the engine to them. The
    // creation work (remembered port, catalog) is left to RunCreationWork, in start-up order.
    Program(const ui::BuildInfo& build, const PumpFactory& make_pump);
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    // Creation work of every window: the remembered port and the catalog.
    void RunCreationWork() { ui::RunCreationWork(shell, services); }

    ui::Shell shell;
    serial::ChannelTable channels;
    serial::PortSelection ports;
    // Large (it holds the prepared image): on the heap.
    std::unique_ptr<catalog::CatalogState> catalog = std::make_unique<catalog::CatalogState>();
    ui::EngineFrontend frontend{shell};
    ui::Presenter presenter{frontend};
    std::unique_ptr<engine::Pump> pump;
    // The front end's pump, let go of once the main window closes during a run.
    ui::RunPump run_pump;
    engine::Engine engine;
    ui::Services services;
};

}  // namespace quillon::app
