// What each window's buttons and menu command do, wired to the program's services: one home
// for every front end, whatever toolkit shows the windows. A front end adds what is its own
// (what closing the main window ends, its traces).
#pragma once

#include <functional>

#include "app/assembly.h"
#include "ui/commands.h"
#include "ui/program.h"

namespace quillon::app {

// Runs an update click; a front end may trace around it (default: runs it as it is).
using AroundUpdate = std::function<void(const std::function<void()>& update)>;

// `commands_of(window)` gives a binding's command slots of a window: any struct with the
// members button1_click, button2_click, menu_click and label1_double_click.
template <typename CommandsOf>
void WireWindowCommands(Program& p, CommandsOf commands_of, AroundUpdate around_update = {}) {
    ui::Shell& shell = p.shell;
    ui::Services& s = p.services;
    auto update = [around_update](std::function<void()> click) {
        return [around_update, click = std::move(click)] {
            if (around_update)
                around_update(click);
            else
                click();
        };
    };
    // The main window is wired in every edition (hidden outside the Updater's), the
    // running edition's window as well when it is another.
    auto wire = [&](ui::Window& window, const ui::WindowHandlers& h) {
        auto& c = commands_of(window);
        c.button1_click = update([&shell, &s, h] { h.update(shell, s); });
        c.button2_click = [&shell, h] { h.stop(shell); };
        c.menu_click = [&shell, &s, h] { h.port(shell, s); };
    };
    wire(shell.form1->window, ui::HandlersOf(editions::WindowKind::Main));
    commands_of(shell.form1->window).label1_double_click = [&shell, &s] {
        ui::MainLabel1DblClick(shell, s);
    };
    if (&shell.main_window() != &shell.form1->window)
        wire(shell.main_window(), ui::HandlersOf(shell.facts().window));
}

}  // namespace quillon::app
