// Port selection and the remembered port on the windows: opening the chosen port, showing it in a
// status bar, the "Setup" dialog's events, and the remembered port read at a window's creation and
// written at its close.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "serial/channel.h"
#include "serial/port_selection.h"
#include "serial/ports.h"
#include "settings/settings.h"
#include "ui/setup_dialog.h"
#include "ui/stored_port.h"
#include "ui/windows.h"

namespace quillon::ui {

inline constexpr std::string_view kInvalidPortCom = "Invalid Port Com";
inline constexpr std::string_view kNoPortPanel = "-----";
// The open port's USB adapter still holds received bytes for this many ms: every answer of
// the device waits that long. docs/serial-ports.md gives the udev rule that fixes it.
inline constexpr char kSlowAdapterFormat[] =
    "Slow USB adapter: latency timer %d ms, see docs/serial-ports.md (udev rule)";
// Windows: the FTDI driver's latency timer of the port (16 ms unless the user changed it);
// the user sets it in the port's advanced settings.
inline constexpr char kSlowCableFormat[] =
    "Slow USB cable: latency timer %d ms. Set it to 1 ms: Device Manager > Ports > %s > Port "
    "Settings > Advanced > Latency Timer";
// Above this the Windows notice is given: 1 and 2 ms cost little on the bootloader's short
// packets, the driver's 16 ms makes an update about 13 times slower.
inline constexpr int kSlowCableAboveMs = 2;

// Opens SelectedPort when it differs from OpenedPort (115200 bit/s, 8 data bits, no parity,
// two stop bits, DTR and RTS dropped) and shows "Invalid Port Com" in red when the open
// failed. The channel of the port opened before is closed first, so the program holds one
// port at a time.
void ApplySelectedPort(Shell& shell, serial::PortSelection& ports, serial::ChannelTable& channels);

// The port panel's text: "COM<n>" (port + 1), or "-----" without a port.
std::string PortPanelText(int port);
// PortPanelText of SelectedPort into the bar's port panel.
void ShowPortPanel(const Shell& shell, const serial::PortSelection& ports, StatusBar& bar);
// Says once per run, in the detail panel of `bar`, that the opened port's adapter is slow:
// its latency timer is still above 1 ms after the open asked for low latency.
// True when it said so now.
bool TellSlowAdapter(Shell& shell, const serial::PortSelection& ports,
                     const serial::ChannelTable& channels, StatusBar& bar);
// The notice for an adapter whose latency timer is `ms` on port number `port`, with the
// fix of the platform; empty when the timer is fast enough.
std::string SlowAdapterNotice(int ms, serial::LatencyFix fix, int port);

// The "Setup" dialog. Showing it fills the lists and selects the chosen port (FormShow);
// OK takes the selected entry and opens it when it is another port (during a run it only
// keeps it: the next search opens it); Cancel selects the chosen port again. Both close
// the dialog.
void ShowSetupDialog(Shell& shell, const serial::PortSelection& ports,
                     const PortLister& list_ports);
void SetupFormShow(TForm3& form, const serial::PortSelection& ports, const PortLister& list_ports);
void SetupOkClick(Shell& shell, serial::PortSelection& ports, serial::ChannelTable& channels);
void SetupCancelClick(Shell& shell, const serial::PortSelection& ports);

// The same, reading the edition's "com" value from the store. False when nothing usable
// was stored (no value, or one outside -1..256): the edition's default port is taken.
bool LoadRememberedPort(serial::PortSelection& ports, Edition edition,
                        const settings::Store& store = {});
// The hint that points a first start at the technician's cable: when nothing is
// remembered or the selected port is not among the present ones, and exactly one USB
// serial adapter is present (on another port), "USB serial adapter on COM<n> (<its name>):
// choose it with <port command>". Empty otherwise.
std::string AdapterHint(bool remembered, int selected_port,
                        const std::vector<serial::PortEntry>& present,
                        const std::vector<serial::UsbAdapter>& adapters,
                        std::string_view port_command);
// At a window's close: closes the port when it is the one opened, then stores
// SelectedPort as signed decimal text under "com". False when it could not be stored.
bool SaveRememberedPort(const serial::PortSelection& ports, serial::ChannelTable& channels,
                        Edition edition, const settings::Store& store = {});
// Stores SelectedPort at once (after the "Setup" dialog chose it), so that a store that
// cannot be written is reported while the window is there: the active window's detail
// panel says so and names the place. A choice that only the user's own settings could take
// (Windows, no rights on the local machine) is said too.
void StoreChosenPort(Shell& shell, const serial::PortSelection& ports,
                     const settings::Store& store = {});
inline constexpr std::string_view kNotStoredText = "Port choice not saved: cannot write ";
inline constexpr std::string_view kStoredForUserText = "Port choice saved for this user only";

}  // namespace quillon::ui
