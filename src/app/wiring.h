// What each window's buttons and menu command do, wired to the program's services: one home
// for every front end, whatever toolkit shows the windows. A front end adds what is its own
// (what closing the main window ends, its traces).
#pragma once

#include <functional>

#include "app/assembly.h"
#include "ui/commands.h"

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
    auto& main = commands_of(shell.form1->window);
    main.button1_click = update([&shell, &s] { ui::MainUpdateClick(shell, s); });
    main.button2_click = [&shell] { ui::MainStopClick(shell); };
    main.menu_click = [&shell, &s] { ui::MainChangePortClick(shell, s); };
    main.label1_double_click = [&shell, &s] { ui::MainLabel1DblClick(shell, s); };
    if (shell.form5) {
        auto& c = commands_of(shell.form5->window);
        c.button1_click = update([&shell, &s] { ui::UpgradeStartClick(shell, s); });
        c.button2_click = [&shell] { ui::UpgradeStopClick(shell); };
        c.menu_click = [&shell, &s] { ui::UpgradeSerialPortClick(shell, s); };
    }
    if (shell.form6) {
        auto& c = commands_of(shell.form6->window);
        c.button1_click = update([&shell, &s] { ui::LoaderUpdateClick(shell, s); });
        c.button2_click = [&shell] { ui::LoaderAbortClick(shell); };
        c.menu_click = [&shell, &s] { ui::LoaderChangePortClick(shell, s); };
    }
}

}  // namespace quillon::app
