// Quillon start-up on Windows: single instance, the program of the edition the product
// label names (assembled in app/assembly.h) bound to native windows, the message loop, and
// a last-resort catch that still ends with code 0.
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/assembly.h"
#include "app/build_stamp.h"
#include "app/single_instance.h"
#include "app/startup.h"
#include "app/udp_listener.h"
#include "app/wiring.h"
#include "ui/commands.h"
#include "ui/creation.h"
#include "ui/win32/binding.h"
#include "ui/win32/win32_pump.h"

namespace {

using namespace quillon;

// QUILLON_TRACE=1 prints the start-up steps and the end of each update on stderr and
// answers message boxes at once, so the real executable can be driven by scripts.
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

void ShowMessage(const std::string& caption, const std::string& text, UINT style) {
    Trace("message box: " + caption + "|" + text);
    if (Tracing()) return;
    MessageBoxA(GetActiveWindow(), text.c_str(), caption.c_str(), MB_OK | style);
}

// The edition window's status panels and its outcome line (the Upgrade window shows its
// outcome in a panel), for the trace of an update.
std::string Panels(const ui::Shell& shell) {
    std::string panels;
    for (const ui::StatusPanel& panel : shell.running.status_bar->panels)
        panels += "[" + panel.text + "]";
    if (!shell.running.message_line) return panels;
    return panels + " \"" + shell.running.message_line->text + "\"";
}

void WireCommands(app::Program& p, ui::win32::Binding& binding) {
    ui::Shell& shell = p.shell;
    ui::Services& s = p.services;
    // The start and end of an update, for the scripts that drive the program.
    app::WireWindowCommands(
        p, [&binding](const ui::Window& w) -> ui::Commands& { return binding.commands(w); },
        [&shell](const std::function<void()>& update) {
            Trace("update started");
            shell.frames.reset_stats();
            const auto start = std::chrono::steady_clock::now();
            update();
            const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
            char seconds[32];
            std::snprintf(seconds, sizeof seconds, "%.3f s ", took.count());
            Trace("update done in " + std::string(seconds) + Panels(shell) + "; " +
                  shell.frames.StatsText());
        });
    auto& edition = binding.commands(shell.main_window());
    // Closing the main window saves the port and ends the message loop, whatever dialogs
    // are still open; during a run, once the run has stopped.
    edition.form_close = [&] {
        Trace("close");
        ui::MainFormClose(shell, s);
    };
    s.end_program = [] {
        Trace("closed");
        PostQuitMessage(0);
    };
}

void Run(const ui::BuildInfo& build) {
    ui::win32::Win32Pump* pump = nullptr;
    app::Program p(build, [&pump](std::function<int()> input_handle) {
        auto made = std::make_unique<ui::win32::Win32Pump>(std::move(input_handle));
        pump = made.get();
        return made;
    });
    p.channels.message_box = [](std::string_view caption, std::string_view text) {
        ShowMessage(std::string(caption), std::string(text), MB_ICONERROR);
    };

    ui::Shell& shell = p.shell;
    // The "\P" switch's listener, before the windows' creation work, as the Qt main does.
    const std::vector<std::string> args(__argv + (__argc > 0 ? 1 : 0), __argv + __argc);
    const auto udp = app::OpenUdpListener(args, shell);
    if (udp) Trace("udp listener on " + std::to_string(udp->port()));
    p.RunCreationWork();
    for (const ui::Window* w : shell.windows()) Trace("created " + w->name);

    ui::win32::Binding binding(shell, p.ports, p.channels, *p.catalog);
    pump->set_binding(&binding);
    WireCommands(p, binding);
    shell.main_window().visible = true;
    binding.sync();
    Trace("running " + shell.main_window().name + " \"" + shell.main_window().caption + "\"");
    ui::win32::RunMessageLoop(binding);
    pump->set_binding(nullptr);
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    const ui::BuildInfo build{app::ProductLabel(), app::BuildDate(), app::BuildTime()};
    app::SingleInstance guard;
    if (guard.already_running()) {
        ShowMessage(ui::UpdaterTitle(build), "Already in progress", MB_TOPMOST | MB_SETFOREGROUND);
        return app::kExitCode;
    }
    Trace("guard taken");
    const int code = app::RunGuarded(
        [&] { Run(build); },
        [](const std::string& message) { ShowMessage("Quillon", message, MB_ICONERROR); });
    guard.release();
    return code;
}
