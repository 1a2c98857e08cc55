// The windows' commands from end to end, without a display: the real window models and
// presenter, a real channel table talking to the in-process virtual device, the
// remembered port in a temporary store, the engine on the virtual clock.
#include "ui/program.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>

#include "tests/engine/virtual_time.h"
#include "tests/support/fake_pump.h"
#include "tools/devsim/inprocess_backend.h"
#include "ui/engine_frontend.h"
#include "ui/presenter.h"

namespace quillon::ui {
namespace {

constexpr int kDevicePort = 4;  // COM5

struct World {
    explicit World(Edition edition, std::string label, devsim::Options options = {},
                   const char* stored = nullptr)
        : device(std::make_shared<devsim::Device>(std::move(options))),
          backend(std::make_shared<devsim::InProcessBackend>(
              device, kDevicePort,
              [this] {
                  return std::chrono::duration_cast<devsim::Nanos>(pump.now().time_since_epoch());
              })),
          channels(backend),
          frontend(shell),
          presenter(frontend),
          engine(presenter, channels, ports, pump),
          services{channels, ports, *catalog, engine, {}, {}, {}, {}, {}, {}, {}} {
        char tmpl[] = "/tmp/quillon-program-XXXXXX";
        dir = ::mkdtemp(tmpl);
        services.store.directory = dir;
        services.build = {std::move(label), "Dec  9 2026", "10:11:12"};
        // Each session reports the images still to program that the test queued.
        services.session = [this] {
            sessions.push_back({frontend.EditionProgressBar().id, frontend.EditionStatusBar().id});
            if (results.empty()) return engine::SessionResult{};
            const std::int8_t m = results.front();
            results.erase(results.begin());
            return engine::SessionResult{engine::SessionEnd::Programmed, m};
        };
        channels.sleep = [this](std::chrono::milliseconds ms) { pump.advance(ms); };
        pump.set_input_source(devsim::NextByteDue(device));
        if (stored)
            settings::SaveSetting("com", stored, static_cast<std::uint8_t>(edition),
                                  services.store);
        CreateWindows(shell, edition);
        RunCreationWork(shell, services);
    }
    ~World() { std::filesystem::remove_all(dir); }

    Shell shell;
    engine::FakePump pump;
    std::shared_ptr<devsim::Device> device;
    std::shared_ptr<devsim::InProcessBackend> backend;
    serial::ChannelTable channels;
    serial::PortSelection ports;
    std::unique_ptr<catalog::CatalogState> catalog = std::make_unique<catalog::CatalogState>();
    EngineFrontend frontend;
    Presenter presenter;
    engine::Engine engine;
    Services services;
    std::string dir;
    std::vector<std::pair<void*, void*>> sessions;
    std::vector<std::int8_t> results;
};

// A first start with one USB adapter names it where each edition's user looks: the
// detail panel, or the Loader's hint line (it shows no status bar), beside its own texts;
// choosing a port takes the hint away.
TEST(Program, TheOnlyUsbAdapterIsNamedOnAFirstStart) {
    for (Edition e : {Edition::Updater, Edition::Upgrade, Edition::Loader}) {
        SCOPED_TRACE(int(e));
        World w(e, e == Edition::Loader ? "LUV 1C" : "TQX 1C");
        Shell shell;
        CreateWindows(shell, e);
        w.services.list_ports = [] {
            return std::vector<serial::PortEntry>{{"COM3", "USB Serial Port (COM3)"}};
        };
        w.services.list_adapters = [] {
            return std::vector<serial::UsbAdapter>{{2, "FTDI FT232R USB UART"}};
        };
        RunCreationWork(shell, w.services);
        const std::string command = e == Edition::Updater   ? "Change port"
                                    : e == Edition::Upgrade ? "Serial Port"
                                                            : "Change Port";
        const std::string hint =
            "USB serial adapter on COM3 (FTDI FT232R USB UART): choose it with " + command;
        EXPECT_EQ(w.ports.selected_port, 0);  // the stored default stays
        if (e == Edition::Loader) {
            EXPECT_TRUE(shell.form6->Label8.visible);
            EXPECT_EQ(shell.form6->Label8.text, hint);
            EXPECT_EQ(shell.form6->Label1.text, kPortNotValidText);  // its own text stays
        } else {
            StatusBar& bar =
                e == Edition::Updater ? shell.form1->StatusBar1 : shell.form5->StatusBar1;
            EXPECT_EQ(bar.panels[std::size_t(shell.panel_map[PanelSlot::DetailPanel])].text, hint);
            EXPECT_EQ(bar.panels[0].text, "COM1");
        }
        shell.port_chosen();
        if (e == Edition::Loader) {
            EXPECT_FALSE(shell.form6->Label8.visible);
        }
        for (const StatusBar* bar :
             {&shell.form1->StatusBar1, shell.form5 ? &shell.form5->StatusBar1 : nullptr}) {
            for (std::size_t k = 0; bar && k < bar->panels.size(); ++k) {
                EXPECT_NE(bar->panels[k].text, hint);
            }
        }
    }
}

TEST(Program, UpdaterFindsTheDeviceOnTheRememberedPortAndHandsOverItsBars) {
    World w(Edition::Updater, "Quillon RC", {}, "4");
    TForm1& f = *w.shell.form1;
    EXPECT_EQ(w.ports.selected_port, kDevicePort);
    EXPECT_EQ(w.ports.opened_port, kDevicePort - 1);  // not open yet
    EXPECT_EQ(f.StatusBar1.panels[0].text, "COM5");

    MainUpdateClick(w.shell, w.services);
    EXPECT_EQ(w.device->stats().identifies, 1);
    ASSERT_EQ(w.sessions.size(), 1u);
    EXPECT_EQ(w.sessions[0].first, &f.ProgressBar1);
    EXPECT_EQ(w.sessions[0].second, &f.StatusBar1);
    // The pump lets go of the port before the search reopens it, and when the run is over.
    EXPECT_EQ(w.pump.rests(), 2);

    // Closing saves the port; the next start reads it back.
    MainFormClose(w.shell, w.services);
    EXPECT_EQ(settings::LoadSetting("com", 0, w.services.store), "4");
}

TEST(Program, UpdaterWithNothingStoredUsesComOneAndReportsTheMissingDevice) {
    World w(Edition::Updater, "Quillon RC");
    EXPECT_EQ(w.ports.selected_port, 0);
    EXPECT_EQ(w.shell.form1->StatusBar1.panels[0].text, "COM1");
    MainUpdateClick(w.shell, w.services);  // nothing serves COM1
    EXPECT_EQ(w.shell.form1->Label2.text, "Invalid Port Com");
    EXPECT_TRUE(w.sessions.empty());
    EXPECT_TRUE(w.shell.form1->Button1.visible);  // idle again
}

TEST(Program, LoaderSaysWhatWentWrongInItsOwnWords) {
    {
        World w(Edition::Loader, "KP310c 01.1x");  // nothing stored
        EXPECT_EQ(w.shell.form6->Label1.text, "Port not valid. Select a new port.");
        LoaderUpdateClick(w.shell, w.services);  // port 0: nothing there
        EXPECT_EQ(w.shell.form6->Label1.text, "Port not valid. Select a new port.");
        EXPECT_EQ(w.shell.form6->Label1.text_colour, colour::kRed);
        EXPECT_TRUE(w.shell.form6->Button1.enabled);
    }
    {
        devsim::Options o;
        o.nak_only = true;
        World w(Edition::Loader, "KP310c 01.1x", o, "4");
        EXPECT_EQ(w.shell.form6->Label1.text, "Push 'Update FW' button and connect a device");
        LoaderUpdateClick(w.shell, w.services);
        EXPECT_EQ(w.shell.form6->Label1.text, "The device is not find.");
        EXPECT_EQ(w.shell.form6->Label1.text_colour, colour::kBlack);
        EXPECT_TRUE(w.sessions.empty());
    }
    {
        World w(Edition::Loader, "KP310c 01.1x", {}, "4");
        LoaderUpdateClick(w.shell, w.services);
        ASSERT_EQ(w.sessions.size(), 1u);
        EXPECT_EQ(w.sessions[0].first, &w.shell.form6->ProgressBar1);
    }
}

TEST(Program, UpgradeStartRepeatsWhileTheSessionHasImagesLeft) {
    World w(Edition::Upgrade, "TQX WUT", {}, "4");
    TForm5& f = *w.shell.form5;
    w.results = {2, 1, 0};
    UpgradeStartClick(w.shell, w.services);
    EXPECT_EQ(w.sessions.size(), 3u);
    EXPECT_EQ(w.device->stats().identifies, 3);
    EXPECT_EQ(f.ProgressBar2.position, f.ProgressBar2.max);  // all done
    EXPECT_GT(f.ProgressBar2.max, 0);

    // Without a device the loop ends after the first search.
    World none(Edition::Upgrade, "TQX 1C", {}, "7");
    none.results = {5};
    UpgradeStartClick(none.shell, none.services);
    EXPECT_TRUE(none.sessions.empty());
    EXPECT_EQ(none.shell.form5->StatusBar1.panels[1].text, "Invalid Port Com");
}

TEST(Program, PortAndListingDialogs) {
    World w(Edition::Updater, "Quillon RC", {}, "4");
    TForm1& f = *w.shell.form1;
    f.Label2.visible = f.Label3.visible = true;
    w.services.list_ports = [] {
        return std::vector<serial::PortEntry>{{"COM5", "Virtual device (COM5)"}};
    };
    MainChangePortClick(w.shell, w.services);
    EXPECT_FALSE(f.Label2.visible);
    EXPECT_FALSE(f.Label3.visible);
    EXPECT_TRUE(w.shell.form3->window.visible);

    MainLabel1DblClick(w.shell, w.services);
    EXPECT_TRUE(w.shell.form4->window.visible);
    EXPECT_EQ(w.shell.form4->window.caption, "Quillon RC   [ 10:11:12 - Dec  9 2026 ]");
    EXPECT_FALSE(w.shell.form4->ListBox1.items.empty());

    World ld(Edition::Loader, "KP310c", {}, "4");
    ld.shell.form6->window.left = 300;
    ld.shell.form6->window.top = 120;
    ld.shell.form6->Label1.text = " CHK Error !! ";
    LoaderChangePortClick(ld.shell, ld.services);
    EXPECT_TRUE(ld.shell.form3->window.tool_window);
    EXPECT_EQ(ld.shell.form3->window.left, 300);
    EXPECT_EQ(ld.shell.form3->window.top, 120);
    EXPECT_EQ(ld.shell.form6->Label1.text, "Push 'Update FW' button and connect a device");
}

}  // namespace
}  // namespace quillon::ui
