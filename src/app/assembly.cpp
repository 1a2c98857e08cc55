#include "app/assembly.h"

#include "app/build_stamp.h"
#include "engine/session.h"
#include "serial/ports.h"

namespace quillon::app {

Program::Program(const ui::BuildInfo& build, const PumpFactory& make_pump)
    // The pump wakes on the port the link reads: a running search or session keeps its own.
    : pump(make_pump([this] { return channels.PollHandle(engine::LinkPort(engine)); })),
      run_pump(*pump, services.run, &shell.frames),  // services.run is only read once running
      engine(presenter, channels, ports, run_pump),
      services{channels, ports, *catalog, engine, build, {}, {}, {}, {}, {}, {}} {
    ui::CreateWindows(shell, editions::FromLabel(build.label));
    services.list_ports = [] { return serial::ListPorts(); };
    services.list_adapters = [] { return serial::ListUsbAdapters(); };
    services.session = [this] { return engine::PrgMode(engine, *catalog); };
    frontend.watch(services.run);
    // The channel's echo drain waits through the pump too: no wait of the program sleeps
    // outside it.
    channels.sleep = [this](std::chrono::milliseconds ms) {
        pump->wait(ms, /*process_ui=*/false, /*wake_on_input=*/false);
    };
}

}  // namespace quillon::app
