// What the windows' commands act on besides the window models, and the commands
// themselves: update/START, the port and listing dialogs, and closing the main window.
#pragma once

#include <cstdint>
#include <functional>

#include "catalog/preparation.h"
#include "engine/link.h"
#include "engine/session.h"
#include "serial/channel.h"
#include "serial/port_selection.h"
#include "settings/settings.h"
#include "ui/creation.h"
#include "ui/setup_dialog.h"
#include "ui/windows.h"

namespace quillon::ui {

// Runs one programming session on the device the search found.
using SessionRunner = std::function<engine::SessionResult()>;

struct Services {
    serial::ChannelTable& channels;
    serial::PortSelection& ports;
    catalog::CatalogState& catalog;
    engine::Engine& engine;
    BuildInfo build;
    settings::Store store;
    PortLister list_ports;
    SessionRunner session;  // empty: a found device is left as found
};

// Creation work of every window in start-up order, with the remembered port and the catalog.
void RunCreationWork(Shell& shell, Services& s);

// Main window.
void MainUpdateClick(Shell& shell, Services& s);
void MainChangePortClick(Shell& shell, Services& s);
void MainLabel1DblClick(Shell& shell, Services& s);
// Upgrade window.
void UpgradeStartClick(Shell& shell, Services& s);
void UpgradeSerialPortClick(Shell& shell, Services& s);
// Loader window.
void LoaderUpdateClick(Shell& shell, Services& s);
void LoaderChangePortClick(Shell& shell, Services& s);
// Closing the edition's main window: closes the port it opened and remembers the choice.
void MainFormClose(Shell& shell, Services& s);

inline constexpr const char* kDeviceNotFindText = "The device is not find.";
inline constexpr const char* kPortNotValidText = "Port not valid. Select a new port.";

}  // namespace quillon::ui
