#include "ui/program.h"

#include "engine/search.h"
#include "ui/commands.h"
#include "ui/messages.h"
#include "ui/port_selection.h"
#include "ui/presenter.h"
#include "ui/version_dialog.h"

namespace quillon::ui {
namespace {

void Repaint(Shell& shell) {
    if (shell.repaint) shell.repaint();
}

engine::SearchResult Search(Shell& shell, Services& s) {
    s.engine.options = EngineOptionsFor(shell.edition(), shell.loader_family, shell.sequence_mode);
    return engine::SearchDevice(s.engine);
}

engine::SessionResult Session(Services& s) {
    if (!s.session) return {};
    return s.session();
}

void UpgradeSequence(Shell& shell, Services& s);
void LoaderUpdate(Shell& shell, Services& s);

// Runs one update command unless a run is already in progress; a close that came during
// the run is carried out when it is over.
template <typename Body>
void RunUpdate(Shell& shell, Services& s, Body body) {
    if (s.run.in_progress) return;
    s.run.in_progress = true;
    body();
    s.engine.pump.rest();
    s.run.in_progress = false;
    if (s.run.closing) MainFormClose(shell, s);
}

}  // namespace

engine::Clock::time_point RunPump::now() {
    if (run_.closing) skipped_ += kAbandonedStep;
    return inner_.now() + skipped_;
}

void RunPump::wait(engine::Clock::duration max, bool process_ui, bool wake_on_input) {
    if (run_.closing) return;
    inner_.wait(max, process_ui, wake_on_input);
}

void RunCreationWork(Shell& shell, Services& s) {
    shell.port_chosen = [&shell, &s] {
        HideAdapterHint(shell);
        StoreChosenPort(shell, s.ports, s.store);
    };
    RunCreationWork(shell, s.build);
    const bool remembered = LoadRememberedPort(s.ports, shell.edition(), s.store);
    catalog::InitCatalog(s.catalog);
    if (shell.facts().status_bar_shown) ShowPortPanel(shell, s.ports, *shell.running.status_bar);
    if (shell.facts().tells_missing_port && s.ports.opened_port < 0 && shell.running.message_line)
        shell.running.message_line->text = kPortNotValidText;
    if (s.list_adapters) {
        const std::vector<serial::UsbAdapter> adapters = s.list_adapters();
        // The listing is asked for only when there is an adapter to point at.
        if (adapters.size() == 1)
            ShowAdapterHint(shell, AdapterHint(remembered, s.ports.selected_port,
                                               s.list_ports ? s.list_ports() : PortEntries{},
                                               adapters, shell.facts().port_command));
    }
}

namespace {

// The line where a window without a status bar in view says what the others say in
// their detail panel; null where the status bar is shown.
Label* HintLine(Shell& shell) {
    return !shell.facts().status_bar_shown && shell.form6 ? &shell.form6->Label8 : nullptr;
}

}  // namespace

void ShowAdapterHint(Shell& shell, const std::string& hint) {
    if (hint.empty()) return;
    shell.adapter_hint = hint;
    if (Label* line = HintLine(shell)) {
        line->text = hint;
        line->visible = true;
        Repaint(shell);
        return;
    }
    SetPanelText(shell, *shell.running.status_bar, PanelSlot::DetailPanel, hint);
}

void HideAdapterHint(Shell& shell) {
    if (shell.adapter_hint.empty()) return;
    if (Label* line = HintLine(shell)) {
        line->visible = false;
        line->text.clear();
    } else {
        StatusBar& bar = *shell.running.status_bar;
        const auto index = static_cast<std::size_t>(shell.panel_map[PanelSlot::DetailPanel]);
        // Only while the panel still shows the hint: a newer text stays.
        if (index < bar.panels.size() && bar.panels[index].text == shell.adapter_hint)
            WritePanelText(shell, bar, PanelSlot::DetailPanel, "");
    }
    shell.adapter_hint.clear();
    Repaint(shell);
}

void MainUpdateClick(Shell& shell, Services& s) {
    RunUpdate(shell, s, [&] {
        if (Search(shell, s) == engine::SearchResult::Found) Session(s);
        TellSlowAdapter(shell, s.ports, s.channels, shell.form1->StatusBar1);
    });
}

void MainChangePortClick(Shell& shell, Services& s) {
    TForm1& f = *shell.form1;
    f.Label2.visible = false;
    ++f.Label2.repaints;
    f.Label3.visible = false;
    ++f.Label3.repaints;
    ShowSetupDialog(shell, s.ports, s.list_ports);
}

void MainLabel1DblClick(Shell& shell, Services& s) {
    const std::string caption =
        shell.form1->Label1.text + "   [ " + s.build.time + " - " + s.build.date + " ]";
    ShowVersionDialog(*shell.form4, s.catalog, caption);
    Repaint(shell);
}

void UpgradeStartClick(Shell& shell, Services& s) {
    RunUpdate(shell, s, [&] { UpgradeSequence(shell, s); });
}

namespace {

// Every START runs the sequence until no image is left to program (or one run fails).
void UpgradeSequence(Shell& shell, Services& s) {
    TForm5& f = *shell.form5;
    // Every START marks each image of the catalog as still to program.
    const auto pending = static_cast<std::int8_t>(catalog::ResetPending(s.catalog));
    f.ProgressBar2.min = 0;
    f.ProgressBar2.max = pending + 1;
    f.ProgressBar2.position = 0;
    Repaint(shell);
    // The images still to program after each device; a device passed on counts as one.
    int m = 0;
    do {
        m = 0;
        if (Search(shell, s) == engine::SearchResult::Found) {
            const engine::SessionResult r = Session(s);
            m = r.end == engine::SessionEnd::PassedOn     ? 1
                : r.end == engine::SessionEnd::Programmed ? r.remaining
                                                          : 0;
            f.ProgressBar2.position = f.ProgressBar2.max - m;
            Repaint(shell);
        }
    } while (m != 0);
    TellSlowAdapter(shell, s.ports, s.channels, f.StatusBar1);
}

}  // namespace

void UpgradeSerialPortClick(Shell& shell, Services& s) {
    ShowSetupDialog(shell, s.ports, s.list_ports);
}

void LoaderUpdateClick(Shell& shell, Services& s) {
    RunUpdate(shell, s, [&] { LoaderUpdate(shell, s); });
}

namespace {

void LoaderUpdate(Shell& shell, Services& s) {
    TForm6& f = *shell.form6;
    ClearLabel(f);
    Repaint(shell);
    switch (Search(shell, s)) {
        case engine::SearchResult::NotFound:
            ShowActivity(shell, kDeviceNotFindText, colour::kBlack);
            break;
        case engine::SearchResult::PortUnusable:
            ShowActivity(shell, kPortNotValidText, colour::kRed);
            break;
        case engine::SearchResult::Found:
            Session(s);
            break;
        case engine::SearchResult::Stopped:  // the search has said so
            break;
    }
    // This window shows no status bar: the notice goes to its hint line too.
    if (TellSlowAdapter(shell, s.ports, s.channels, f.StatusBar1)) {
        const auto detail = static_cast<std::size_t>(shell.panel_map[PanelSlot::DetailPanel]);
        f.Label8.text = f.StatusBar1.panels.at(detail).text;
        f.Label8.visible = true;
        Repaint(shell);
    }
}

}  // namespace

void LoaderChangePortClick(Shell& shell, Services& s) {
    TForm6& f = *shell.form6;
    Window& setup = shell.form3->window;
    setup.tool_window = true;
    setup.left = f.window.left;
    setup.top = f.window.top;
    ShowSetupDialog(shell, s.ports, s.list_ports);
    ClearLabel(f);
    Repaint(shell);
}

void MainFormClose(Shell& shell, Services& s) {
    if (s.run.in_progress) {
        s.run.closing = true;
        shell.stop_requested = 1;
        return;
    }
    SaveRememberedPort(s.ports, s.channels, shell.edition(), s.store);
    if (s.end_program) s.end_program();
}

const WindowHandlers& HandlersOf(editions::WindowKind window) {
    static constexpr WindowHandlers kMain{MainUpdateClick, MainStopClick, MainChangePortClick};
    static constexpr WindowHandlers kUpgrade{UpgradeStartClick, UpgradeStopClick,
                                             UpgradeSerialPortClick};
    static constexpr WindowHandlers kLoader{LoaderUpdateClick, LoaderAbortClick,
                                            LoaderChangePortClick};
    switch (window) {
        case editions::WindowKind::Upgrade:
            return kUpgrade;
        case editions::WindowKind::Loader:
            return kLoader;
        case editions::WindowKind::Main:
            break;
    }
    return kMain;
}

}  // namespace quillon::ui
