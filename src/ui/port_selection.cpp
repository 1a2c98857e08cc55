#include "ui/port_selection.h"

#include <cstdio>
#include <optional>
#include <string>

#include "serial/tty_tuning.h"
#include "ui/messages.h"

namespace quillon::ui {
namespace {

constexpr char kComValue[] = "com";

void Repaint(Shell& shell) {
    if (shell.repaint) shell.repaint();
}

StatusBar& ActiveStatusBar(Shell& shell) {
    return *shell.running.status_bar;
}

void CloseDialog(Shell& shell) {
    shell.form3->window.visible = false;
    Repaint(shell);
}

}  // namespace

void ApplySelectedPort(Shell& shell, serial::PortSelection& ports, serial::ChannelTable& channels) {
    serial::OpenFailure why;
    if (serial::ApplySelectedPort(ports, channels, &why)) return;
    ShowOutcome(shell, kInvalidPortCom, colour::kRed, 0);
    // Why the port would not open (held by another program, no permission), when known.
    if (!why.detail.empty())
        SetPanelText(shell, ActiveStatusBar(shell), PanelSlot::DetailPanel, why.detail);
}

std::string PortPanelText(int port) {
    return port < 0 ? std::string(kNoPortPanel) : "COM" + std::to_string(port + 1);
}

void ShowPortPanel(const Shell& shell, const serial::PortSelection& ports, StatusBar& bar) {
    SetPanelText(shell, bar, PanelSlot::PortPanel, PortPanelText(ports.selected_port));
}

bool TellSlowAdapter(Shell& shell, const serial::PortSelection& ports,
                     const serial::ChannelTable& channels, StatusBar& bar) {
    if (shell.slow_adapter_told || !channels.IsOpen(ports.opened_port)) return false;
    const std::optional<int> ms = channels.record(ports.opened_port).handle->receive_latency_ms();
    if (!ms) return false;
    const std::string text =
        SlowAdapterNotice(*ms, serial::PlatformLatencyFix(), ports.opened_port);
    if (text.empty()) return false;
    shell.slow_adapter_told = true;
    SetPanelText(shell, bar, PanelSlot::DetailPanel, text);
    return true;
}

std::string SlowAdapterNotice(int ms, serial::LatencyFix fix, int port) {
    const bool windows = fix == serial::LatencyFix::DeviceManager;
    if (ms <= (windows ? kSlowCableAboveMs : serial::kFastLatencyTimerMs)) return {};
    char text[sizeof kSlowCableFormat + sizeof kSlowAdapterFormat + 16];
    if (windows)
        std::snprintf(text, sizeof text, kSlowCableFormat, ms, PortPanelText(port).c_str());
    else
        std::snprintf(text, sizeof text, kSlowAdapterFormat, ms);
    return text;
}

void SetupFormShow(TForm3& form, const serial::PortSelection& ports, const PortLister& list_ports) {
    FillPortLists(form, list_ports);
    SelectEntry(form.ComboBox1, FindPortEntry(form, ports.selected_port));
}

void ShowSetupDialog(Shell& shell, const serial::PortSelection& ports,
                     const PortLister& list_ports) {
    SetupFormShow(*shell.form3, ports, list_ports);
    shell.form3->window.visible = true;
    Repaint(shell);
}

void SetupOkClick(Shell& shell, serial::PortSelection& ports, serial::ChannelTable& channels) {
    TForm3& form = *shell.form3;
    const std::int16_t p =
        PortFromEntry(form, static_cast<std::int16_t>(form.ComboBox1.item_index));
    if (p != ports.selected_port) {
        ports.selected_port = p;
        // A running search or session keeps the port it opened to the end: opening the new
        // choice now would close the device being written and send the rest elsewhere.
        // The choice is kept and the next search opens it.
        // Outside a run the panel names the new port at once, as it is the one in use now;
        // during a run it keeps the run's port until the next search writes the new one.
        if (ports.run_port < 0) {
            ShowPortPanel(shell, ports, ActiveStatusBar(shell));
            ApplySelectedPort(shell, ports, channels);
        }
        if (shell.port_chosen) shell.port_chosen();
    }
    CloseDialog(shell);
}

void SetupCancelClick(Shell& shell, const serial::PortSelection& ports) {
    TForm3& form = *shell.form3;
    SelectEntry(form.ComboBox1, FindPortEntry(form, ports.selected_port));
    CloseDialog(shell);
}

bool LoadRememberedPort(serial::PortSelection& ports, Edition edition,
                        const settings::Store& store) {
    const std::string text =
        settings::LoadSetting(kComValue, static_cast<std::uint8_t>(edition), store);
    ReadRememberedPort(ports, edition, text);
    return !text.empty() && StoredPortInRange(text);
}

std::string AdapterHint(bool remembered, int selected_port,
                        const std::vector<serial::PortEntry>& present,
                        const std::vector<serial::UsbAdapter>& adapters,
                        std::string_view port_command) {
    if (adapters.size() != 1 || adapters.front().port == selected_port) return {};
    const std::string selected = PortPanelText(selected_port);
    bool selected_present = false;
    for (const serial::PortEntry& e : present)
        if (e.port_name.size() == selected.size() && serial::HasComPrefix(e.port_name) &&
            e.port_name.substr(3) == selected.substr(3))
            selected_present = true;
    if (remembered && selected_present) return {};
    std::string command;
    for (char c : port_command)
        if (c != '&') command += c;  // the menu's accelerator mark
    return "USB serial adapter on " + PortPanelText(adapters.front().port) + " (" +
           adapters.front().name + "): choose it with " + command;
}

bool SaveRememberedPort(const serial::PortSelection& ports, serial::ChannelTable& channels,
                        Edition edition, const settings::Store& store) {
    if (ports.selected_port == ports.opened_port) channels.CloseChannel(ports.selected_port);
    return settings::SaveSetting(kComValue, std::to_string(ports.selected_port),
                                 static_cast<std::uint8_t>(edition), store);
}

void StoreChosenPort(Shell& shell, const serial::PortSelection& ports,
                     const settings::Store& store) {
    const auto edition = static_cast<std::uint8_t>(shell.edition());
    const settings::SavedTo where =
        settings::StoreSetting(kComValue, std::to_string(ports.selected_port), edition, store);
    if (where == settings::SavedTo::Nowhere) {
        SetPanelText(shell, ActiveStatusBar(shell), PanelSlot::DetailPanel,
                     std::string(kNotStoredText) + settings::SettingPlace(edition, store));
    } else if (where == settings::SavedTo::CurrentUser) {
        // A standard user on Windows: the choice holds for this account only.
        SetPanelText(shell, ActiveStatusBar(shell), PanelSlot::DetailPanel, kStoredForUserText);
    } else {
        return;
    }
    Repaint(shell);
}

}  // namespace quillon::ui
