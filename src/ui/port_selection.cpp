#include "ui/port_selection.h"

#include <string>

#include "ui/messages.h"

namespace quillon::ui {
namespace {

constexpr std::uint8_t kParityNone = 0;
constexpr std::uint8_t kTwoStopBits = 2;
constexpr std::uint8_t kDataBits = 8;
constexpr char kComValue[] = "com";

void Repaint(Shell& shell) {
    if (shell.repaint) shell.repaint();
}

StatusBar& ActiveStatusBar(Shell& shell) {
    return shell.form6   ? shell.form6->StatusBar1
           : shell.form5 ? shell.form5->StatusBar1
                         : shell.form1->StatusBar1;
}

void CloseDialog(Shell& shell) {
    shell.form3->window.visible = false;
    Repaint(shell);
}

}  // namespace

void ApplySelectedPort(Shell& shell, serial::PortSelection& ports, serial::ChannelTable& channels) {
    if (ports.selected_port == ports.opened_port) return;
    const std::int16_t previous = ports.opened_port;
    ports.opened_port = ports.selected_port;  // stands even if the open fails
    if (previous >= 0 && previous != ports.selected_port) channels.CloseChannel(previous);
    channels.CloseChannel(ports.selected_port);
    channels.OpenChannel(ports.selected_port, ports.baud_rate, kParityNone, kTwoStopBits, kDataBits,
                         0);
    channels.SetControlLines(ports.selected_port, true);
    if (channels.FlushChannel(ports.selected_port) < 0) {
        ShowOutcome(shell, kInvalidPortCom, colour::kRed, 0);
        ShowPortRefusal(shell, ports, channels, ActiveStatusBar(shell));
    }
}

void ShowPortRefusal(const Shell& shell, const serial::PortSelection& ports,
                     const serial::ChannelTable& channels, StatusBar& bar) {
    const int port = ports.selected_port;
    if (port < 0 || port > serial::kHighestPortNumber || channels.IsOpen(port)) return;
    const std::string& why = channels.record(port).refusal;
    if (!why.empty()) SetPanelText(shell, bar, PanelSlot::DetailPanel, why);
}

void ShowPortPanel(const Shell& shell, const serial::PortSelection& ports, StatusBar& bar) {
    const std::string text = ports.selected_port < 0
                                 ? std::string(kNoPortPanel)
                                 : "COM" + std::to_string(ports.selected_port + 1);
    SetPanelText(shell, bar, PanelSlot::PortPanel, text);
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
        ApplySelectedPort(shell, ports, channels);
        if (shell.port_chosen) shell.port_chosen();
    }
    CloseDialog(shell);
}

void SetupCancelClick(Shell& shell, const serial::PortSelection& ports) {
    TForm3& form = *shell.form3;
    SelectEntry(form.ComboBox1, FindPortEntry(form, ports.selected_port));
    CloseDialog(shell);
}

std::int16_t StoredPortNumber(std::string_view text) {
    return static_cast<std::int16_t>(serial::ReadDecimal(text));
}

namespace {

// Whether the stored text holds a port number the program can have written: -1 (no port)
// or 0..256. The digits are counted without wrapping, so no long number passes.
bool StoredPortInRange(std::string_view text) {
    constexpr std::int64_t kLowest = -1;
    constexpr std::int64_t kHighest = serial::kHighestPortNumber;
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
    std::int64_t value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
        if ((value = value * 10 + (text[i] - '0')) > kHighest + 1) return false;
    if (negative) value = -value;
    return value >= kLowest && value <= kHighest;
}

}  // namespace

void ReadRememberedPort(serial::PortSelection& ports, Edition edition, std::string_view text) {
    if (!StoredPortInRange(text)) text = {};
    if (edition == Edition::Loader) {
        if (text.empty()) {
            ports.selected_port = 0;
            ports.opened_port = -1;
        } else {
            ports.selected_port = StoredPortNumber(text);
            ports.opened_port = static_cast<std::int16_t>(ports.selected_port + 1);
        }
        return;
    }
    ports.selected_port = text.empty() ? 0 : StoredPortNumber(text);
    ports.opened_port = static_cast<std::int16_t>(ports.selected_port - 1);
}

void LoadRememberedPort(serial::PortSelection& ports, Edition edition,
                        const settings::Store& store) {
    ReadRememberedPort(ports, edition,
                       settings::LoadSetting(kComValue, static_cast<std::uint8_t>(edition), store));
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
    if (settings::SaveSetting(kComValue, std::to_string(ports.selected_port), edition, store))
        return;
    SetPanelText(shell, ActiveStatusBar(shell), PanelSlot::DetailPanel,
                 std::string(kNotStoredText) + settings::SettingPlace(edition, store));
    Repaint(shell);
}

}  // namespace quillon::ui
