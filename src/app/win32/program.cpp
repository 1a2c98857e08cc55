#include "app/win32/program.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <memory>

#include "app/edition.h"
#include "catalog/preparation.h"
#include "engine/session.h"
#include "serial/channel.h"
#include "serial/ports.h"
#include "ui/commands.h"
#include "ui/engine_frontend.h"
#include "ui/program.h"
#include "ui/win32/binding.h"
#include "ui/win32/win32_pump.h"

namespace quillon::app::win32 {

bool Tracing() {
    static const bool on = [] {
        const char* v = std::getenv("QUILLON_TRACE");
        return v && *v && *v != '0';
    }();
    return on;
}

void Trace(const std::string& line) {
    if (!Tracing()) return;
    std::fprintf(stderr, "quillon: %s\n", line.c_str());
    std::fflush(stderr);
}

void ShowMessage(const std::string& caption, const std::string& text, unsigned style) {
    Trace("message box: " + caption + "|" + text);
    if (Tracing()) return;
    MessageBoxA(GetActiveWindow(), text.c_str(), caption.c_str(), MB_OK | style);
}

namespace {

// Everything one running program owns, created in start-up order and destroyed in reverse.
struct Program {
    ui::Shell shell;
    serial::ChannelTable channels;
    serial::PortSelection ports;
    std::unique_ptr<catalog::CatalogState> catalog = std::make_unique<catalog::CatalogState>();
    ui::EngineFrontend frontend{shell, ports, channels};
    ui::win32::Win32Pump pump{[this] { return channels.PollHandle(ports.selected_port); }};
    engine::Engine engine{frontend, channels, ports, pump};
    ui::Services services{channels, ports, *catalog, engine, {}, {}, {}, {}};
};

const ui::StatusBar& EditionBar(const ui::Shell& shell) {
    return shell.form6   ? shell.form6->StatusBar1
           : shell.form5 ? shell.form5->StatusBar1
                         : shell.form1->StatusBar1;
}

void WireCommands(Program& p, ui::win32::Binding& binding) {
    ui::Shell& shell = p.shell;
    ui::Services& s = p.services;
    auto& main = binding.commands(shell.form1->window);
    main.button1_click = [&] { ui::MainUpdateClick(shell, s); };
    main.button2_click = [&] { ui::MainStopClick(shell); };
    main.menu_click = [&] { ui::MainChangePortClick(shell, s); };
    main.label1_double_click = [&] { ui::MainLabel1DblClick(shell, s); };
    if (shell.form5) {
        auto& c = binding.commands(shell.form5->window);
        c.button1_click = [&] { ui::UpgradeStartClick(shell, s); };
        c.button2_click = [&] { ui::UpgradeStopClick(shell); };
        c.menu_click = [&] { ui::UpgradeSerialPortClick(shell, s); };
    }
    if (shell.form6) {
        auto& c = binding.commands(shell.form6->window);
        c.button1_click = [&] { ui::LoaderUpdateClick(shell, s); };
        c.button2_click = [&] { ui::LoaderAbortClick(shell); };
        c.menu_click = [&] { ui::LoaderChangePortClick(shell, s); };
    }
    // The end of an update, for the scripts that drive the program (QUILLON_TRACE).
    auto& edition = binding.commands(shell.main_window());
    edition.button1_click = [&shell, update = edition.button1_click] {
        update();
        std::string panels;
        for (const ui::StatusPanel& panel : EditionBar(shell).panels)
            panels += "[" + panel.text + "]";
        Trace("update done " + panels);
    };
    // Closing the main window saves the port and ends the message loop, whatever dialogs
    // are still open.
    binding.commands(shell.main_window()).form_close = [&] {
        ui::MainFormClose(shell, s);
        const ui::StatusBar& bar = EditionBar(shell);
        const auto detail = std::size_t(shell.panel_map[ui::PanelSlot::DetailPanel]);
        if (detail < bar.panels.size()) Trace("closed: " + bar.panels[detail].text);
        PostQuitMessage(0);
    };
}

}  // namespace

void Run(const ui::BuildInfo& build) {
    Program p;
    p.services.build = build;
    p.services.list_ports = [] { return serial::ListPorts(); };
    p.services.session = [&p](engine::ProgressBarRef bar, engine::StatusBarRef status) {
        return static_cast<std::int8_t>(engine::PrgMode(p.engine, *p.catalog, bar, status));
    };
    p.channels.message_box = [](std::string_view caption, std::string_view text) {
        ShowMessage(std::string(caption), std::string(text), MB_ICONERROR);
    };

    ui::Shell& shell = p.shell;
    ui::CreateWindows(shell, SelectEdition(build.label));
    ui::RunCreationWork(shell, p.services);
    for (const ui::Window* w : {shell.form5 ? &shell.form5->window : nullptr,
                                shell.form6 ? &shell.form6->window : nullptr, &shell.form1->window,
                                &shell.form3->window, &shell.form4->window})
        if (w) Trace("created " + w->name);

    ui::win32::Binding binding(shell, p.ports, p.channels, *p.catalog);
    p.pump.set_binding(&binding);
    WireCommands(p, binding);
    shell.main_window().visible = true;
    binding.sync();
    Trace("running " + shell.main_window().name + " \"" + shell.main_window().caption + "\"");
    ui::win32::RunMessageLoop(binding);
    p.pump.set_binding(nullptr);
}

}  // namespace quillon::app::win32
