// The engine's events shown on the real window models through the presenter: a device
// search against the in-process virtual device, asserted on what the windows hold afterwards.
#include "ui/engine_frontend.h"

#include <gtest/gtest.h>

#include "engine/link.h"
#include "engine/search.h"
#include "tests/engine/virtual_time.h"
#include "tests/support/fake_pump.h"
#include "tools/devsim/inprocess_backend.h"
#include "ui/presenter.h"

namespace quillon::ui {
namespace {

using namespace std::chrono_literals;
constexpr int kPort = 2;  // COM3

struct ModelRig {
    explicit ModelRig(Edition edition, devsim::Options options = {})
        : device(std::make_shared<devsim::Device>(std::move(options))),
          channels(std::make_shared<devsim::InProcessBackend>(
              device, kPort,
              [this] {
                  return std::chrono::duration_cast<devsim::Nanos>(pump.now().time_since_epoch());
              })),
          frontend(shell),
          presenter(frontend),
          engine(presenter, channels, ports, pump) {
        CreateWindows(shell, edition);
        ports.selected_port = kPort;
        ports.opened_port = kPort;  // the search must force the reopen itself
        shell.repaint = [this] { ++repaints; };
        pump.set_input_source(devsim::NextByteDue(device));
    }
    Shell shell;
    engine::FakePump pump;
    std::shared_ptr<devsim::Device> device;
    serial::ChannelTable channels;
    serial::PortSelection ports;
    EngineFrontend frontend;
    Presenter presenter;
    engine::Engine engine;
    int repaints = 0;
    engine::SearchResult Search() {
        engine.options =
            EngineOptionsFor(shell.edition(), shell.loader_family, shell.sequence_mode);
        return engine::SearchDevice(engine);
    }
};

TEST(EngineFrontend, SearchInTheUpdaterWindow) {
    ModelRig r(Edition::Updater);
    TForm1& f = *r.shell.form1;
    f.Label2.visible = true;
    const engine::SearchResult result = r.Search();
    EXPECT_EQ(result, engine::SearchResult::Found);
    EXPECT_TRUE(r.channels.IsOpen(kPort));
    EXPECT_FALSE(f.Label2.visible);  // the last result line is hidden
    EXPECT_TRUE(f.Button2.visible);  // running: Stop shown
    EXPECT_FALSE(f.Button1.visible);
    const auto& panels = f.StatusBar1.panels;
    const auto at = [&](PanelSlot s) {
        return panels[static_cast<std::size_t>(r.shell.panel_map[s])].text;
    };
    EXPECT_EQ(at(PanelSlot::PortPanel), "COM3");
    EXPECT_EQ(at(PanelSlot::ActivityPanel), "Try 0");
    EXPECT_EQ(f.ProgressBar1.max, 100);
    EXPECT_EQ(f.ProgressBar1.position, 0);
    EXPECT_TRUE(f.ProgressBar1.smooth);
    EXPECT_EQ(f.ProgressBar1.state, ProgressState::Normal);
    EXPECT_GT(r.repaints, 0);
}

TEST(EngineFrontend, StopFlagResendsAndUpgradeWindow) {
    devsim::Options o;
    o.reject.first_k = 1;
    ModelRig r(Edition::Upgrade, o);
    TForm5& f = *r.shell.form5;
    r.shell.stop_requested = 1;
    EXPECT_EQ(r.Search(), engine::SearchResult::Stopped);
    EXPECT_EQ(r.shell.stop_requested, 0);
    const std::size_t activity =
        static_cast<std::size_t>(r.shell.panel_map[PanelSlot::ActivityPanel]);
    EXPECT_EQ(f.StatusBar1.panels[activity].text, " User Abort !! ");
    EXPECT_TRUE(f.Button1.visible);  // START is back
    EXPECT_EQ(f.ProgressBar1.state, ProgressState::Paused);

    ASSERT_EQ(r.Search(), engine::SearchResult::Found);
    EXPECT_EQ(f.StatusBar1.panels[activity].text, "Search Device");
    EXPECT_EQ(f.ProgressBar1.position, 0);
    // A rejected packet: the resend count goes to the main window's bar, not this one.
    StatusBar& main_bar = r.shell.form1->StatusBar1;
    const int repaints_before = main_bar.repaints;
    r.engine.packet.Reset();
    const std::uint8_t eeprom[] = {0x40, 0, 1, 1, 0};
    std::copy(std::begin(eeprom), std::end(eeprom), r.engine.packet.bytes.begin());
    EXPECT_EQ(engine::SendPacket(r.engine, r.engine.packet.bytes, 5), engine::LinkOk);
    EXPECT_EQ(main_bar.panels[activity].text, "Resend 0");
    EXPECT_GT(main_bar.repaints, repaints_before);
    EXPECT_EQ(f.StatusBar1.panels[activity].text, "Search Device");
}

TEST(EngineFrontend, LoaderWindowEditionAndFamily) {
    ModelRig r(Edition::Loader);
    r.shell.loader_family = 1;
    EXPECT_EQ(r.frontend.edition(), Edition::Loader);
    EXPECT_EQ(r.frontend.EditionStatusBar(), EngineFrontend::Ref(r.shell.form6->StatusBar1));
    TForm6& f = *r.shell.form6;
    ASSERT_EQ(r.Search(), engine::SearchResult::Found);
    EXPECT_EQ(r.device->stats().search_bytes, std::vector<std::uint8_t>{0xC6});
    EXPECT_EQ(f.Label1.text, "Search Device");
    EXPECT_FALSE(f.Button1.enabled);  // running
    EXPECT_TRUE(f.Button2.enabled);
}

// The report labels and the cue land on the controls of the running edition's window.
TEST(EngineFrontend, ReportLabelsAndCueByEdition) {
    for (Edition edition : {Edition::Updater, Edition::Upgrade, Edition::Loader}) {
        SCOPED_TRACE(static_cast<int>(edition));
        ModelRig r(edition);
        TForm1& main = *r.shell.form1;
        main.Label3.visible = false;
        main.Label3.background = colour::kRed;
        main.Label3.text_colour = colour::kWhite;
        const int label3_repaints = main.Label3.repaints;
        r.frontend.ShowBiosLine("BIOS:09 - X - Preparation01");
        EXPECT_EQ(main.Label3.text, "BIOS:09 - X - Preparation01");
        EXPECT_TRUE(main.Label3.visible);
        EXPECT_EQ(main.Label3.background, colour::kButtonFace);
        EXPECT_EQ(main.Label3.text_colour, colour::kBlack);
        EXPECT_EQ(main.Label3.repaints, label3_repaints + 1);
        r.frontend.ShowDeviceTextLine("line 4");
        EXPECT_EQ(main.Label4.text, "line 4");
        EXPECT_TRUE(main.Label4.visible);
        r.frontend.HideDeviceTextLine();
        EXPECT_FALSE(main.Label4.visible);
        EXPECT_EQ(main.Label4.text, "line 4");

        r.frontend.SetLoaderReport("ZRA_R03 - 0x01", "0x05");
        if (r.shell.form6) {
            EXPECT_EQ(r.shell.form6->Label6.text, "ZRA_R03 - 0x01");
            EXPECT_EQ(r.shell.form6->Label7.text, "0x05");
        }

        const Colour label1_before = main.Label1.background;
        r.frontend.SetCueBackground(colour::kSilver);
        switch (edition) {
            case Edition::Upgrade:
                EXPECT_EQ(r.shell.form5->Panel1.background, colour::kSilver);
                EXPECT_EQ(main.Label1.background, label1_before);
                break;
            case Edition::Updater:
                EXPECT_EQ(main.Label1.background, colour::kSilver);
                break;
            case Edition::Loader:
                EXPECT_EQ(main.Label1.background, label1_before);
                break;
        }
    }
}

}  // namespace
}  // namespace quillon::ui
