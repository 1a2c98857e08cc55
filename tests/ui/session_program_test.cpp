// The update commands with the real programming session behind them: window models, the
// frontend adapter, the channel table and the in-process virtual device on the virtual
// clock, and this build's catalog.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <optional>

#include "engine/session.h"
#include "serial/counting_device.h"
#include "tests/engine/virtual_time.h"
#include "tests/support/fake_pump.h"
#include "tools/devsim/inprocess_backend.h"
#include "ui/commands.h"
#include "ui/engine_frontend.h"
#include "ui/port_selection.h"
#include "ui/presenter.h"
#include "ui/program.h"

namespace quillon::ui {
namespace {

constexpr int kDevicePort = 4;  // COM5
constexpr int kOtherPort = 5;   // COM6: a second board, for a change of port

// Serves the board on COM5 and a second board on COM6.
class TwoBoards : public serial::Backend {
public:
    TwoBoards(std::shared_ptr<serial::Backend> first, std::shared_ptr<serial::Backend> second)
        : first_(std::move(first)), second_(std::move(second)) {}
    std::string device_name(int port) override {
        const std::string name = first_->device_name(port);
        return name.empty() ? second_->device_name(port) : name;
    }
    std::unique_ptr<serial::Device> open(const std::string& name) override {
        auto d = first_->open(name);
        return d ? std::move(d) : second_->open(name);
    }

private:
    std::shared_ptr<serial::Backend> first_, second_;
};

// What crossed the line, in order: 'w' bytes written, 'a' an answer (bytes) read.
class RecordingDevice : public serial::CountingDevice {
public:
    RecordingDevice(std::unique_ptr<serial::Device> inner,
                    std::shared_ptr<serial::LineCounters> counters, std::string& order)
        : CountingDevice(std::move(inner), std::move(counters)), order_(order) {}
    bool write(std::span<const std::uint8_t> bytes) override {
        order_ += 'w';
        return CountingDevice::write(bytes);
    }
    std::size_t read(std::span<std::uint8_t> buffer) override {
        const std::size_t n = CountingDevice::read(buffer);
        if (n > 0) order_ += 'a';
        return n;
    }

private:
    std::string& order_;
};

class RecordingBackend : public serial::CountingBackend {
public:
    RecordingBackend(std::shared_ptr<serial::Backend> inner, std::string& order)
        : CountingBackend(std::move(inner), std::make_shared<serial::LineCounters>()),
          order_(order) {}

protected:
    std::unique_ptr<serial::Device> wrap(std::unique_ptr<serial::Device> device) override {
        return std::make_unique<RecordingDevice>(std::move(device), counters(), order_);
    }

private:
    std::string& order_;
};

devsim::Options Board(std::uint8_t chip, std::uint8_t print) {
    devsim::Options o;
    o.chip = chip;
    o.print = print;
    return o;
}

struct World {
    World(Edition edition, std::string label, devsim::Options options)
        : device(std::make_shared<devsim::Device>(std::move(options))),
          other(std::make_shared<devsim::Device>(devsim::Options{})),
          channels(std::make_shared<RecordingBackend>(
              std::make_shared<TwoBoards>(
                  std::make_shared<devsim::InProcessBackend>(device, kDevicePort, Clock()),
                  std::make_shared<devsim::InProcessBackend>(other, kOtherPort, Clock())),
              order)),
          frontend(shell),
          presenter(frontend),
          run_pump(pump, services.run, &shell.frames),
          engine(presenter, channels, ports, run_pump),
          services{channels, ports, catalog, engine, {}, {}, {}, {}, {}, {}, {}} {
        services.build = {std::move(label), "Dec  9 2026", "10:11:12"};
        // The real session; after each one the operator may connect the next board.
        services.session = [this] {
            const engine::SessionResult r = engine::PrgMode(engine, catalog);
            results.push_back(r);
            if (!next_boards.empty()) {
                *device = devsim::Device(next_boards.front());
                next_boards.erase(next_boards.begin());
            }
            return r;
        };
        channels.sleep = [this](std::chrono::milliseconds ms) { pump.advance(ms); };
        pump.set_input_source(devsim::NextByteDue(device));
        shell.frames.set_clock([this] { return pump.now(); });
        frontend.watch(services.run);
        CreateWindows(shell, edition);
        RunCreationWork(shell, services);
        ports.selected_port = kDevicePort;
    }

    devsim::InProcessBackend::ClockFn Clock() {
        return [this] {
            return std::chrono::duration_cast<devsim::Nanos>(pump.now().time_since_epoch());
        };
    }

    Shell shell;
    engine::FakePump pump;
    std::string order;  // see RecordingDevice; a binding's syncs add 's'
    std::shared_ptr<devsim::Device> device;
    std::shared_ptr<devsim::Device> other;
    serial::ChannelTable channels;
    serial::PortSelection ports;
    catalog::CatalogState catalog;
    EngineFrontend frontend;
    Presenter presenter;
    RunPump run_pump;
    engine::Engine engine;
    Services services;
    std::vector<engine::SessionResult> results;
    std::vector<devsim::Options> next_boards;
};

TEST(SessionProgram, UpdateProgramsTheBoardAndSaysSo) {
    World w(Edition::Updater, "TQX 1C 01.02.02.04", Board(0x48, 16));
    TForm1& f = *w.shell.form1;
    MainUpdateClick(w.shell, w.services);
    EXPECT_EQ(w.results, (std::vector<engine::SessionResult>{{engine::SessionEnd::Programmed, 0}}));
    EXPECT_EQ(f.Label2.text, " Program Ok ");
    EXPECT_TRUE(f.Label2.visible);
    EXPECT_EQ(f.Label2.background, colour::kGreen);
    EXPECT_TRUE(f.Button1.visible);  // idle again
    EXPECT_FALSE(f.Button2.visible);
    EXPECT_EQ(f.Label3.text, "BIOS:07 - ZRY_R0x - Preparation03");
    EXPECT_TRUE(f.Label3.visible);
    EXPECT_FALSE(f.Label4.visible);
    EXPECT_EQ(f.Label1.background, colour::kButtonFace);  // scrambled image: no cue
    const auto& panels = f.StatusBar1.panels;
    EXPECT_EQ(panels[2].text, "Found 18F26k80");
    EXPECT_EQ(panels[3].text, "Loaded 7402 bytes (0000 to 1CEA)");
    EXPECT_EQ(panels[1].text, "Program EEP 1023");
    EXPECT_EQ(f.ProgressBar1.position, 0);
    EXPECT_EQ(w.device->flash().size(), 7424u + 64u);  // whole blocks and the fix block
    EXPECT_EQ(w.device->eeprom().size(), 1024u);
}

// Drawing never holds a packet back: the windows' per-packet drawing runs right after a
// write, while the packet is on the wire, never between an answer and the next packet, at
// most once a frame; when the device keeps the host waiting, the binding's timer draws the
// last value meanwhile.
TEST(SessionProgram, TheWindowsDrawWhileAPacketIsOnTheWire) {
    devsim::Options paced = Board(0x48, 16);
    paced.pace = true;  // the virtual clock moves with the wire time
    devsim::Options silent_block = paced;
    silent_block.ignore.only = 60;  // a block in the middle is never answered
    struct Row {
        const char* name;
        devsim::Options board;
        const char* outcome;
        engine::Clock::duration sync_cost;  // what each drawing takes
    };
    const auto slow = std::chrono::milliseconds(8);  // more than a tenth of a frame
    for (const Row& row : {Row{"answered", paced, "Program OK", {}},
                           Row{"block 60 unanswered", silent_block, " not Response ", {}},
                           Row{"slow drawings", paced, "Program OK", slow}}) {
        SCOPED_TRACE(row.name);
        World w(Edition::Upgrade, "TQX 1C 01.02.02.04", row.board);
        TForm5& f = *w.shell.form5;
        int drawn = -1;  // the progress bar as last drawn
        std::vector<engine::Clock::time_point> syncs;
        std::optional<engine::Clock::time_point> timer;
        w.shell.frames.bind({[&] {
                                 w.order += 's';
                                 drawn = f.ProgressBar1.position;
                                 syncs.push_back(w.pump.now());
                                 w.pump.advance(row.sync_cost);
                             },
                             [&](engine::Clock::duration after) { timer = w.pump.now() + after; }});
        // The binding's timer fires in the window events of the waits.
        w.pump.set_ui_hook([&](engine::Clock::time_point t) {
            if (timer && t >= *timer) {
                timer.reset();
                w.shell.frames.Quiet();
            }
        });
        int position_at_end = -1;
        w.services.session = [&] {
            const engine::SessionResult r = engine::PrgMode(w.engine, w.catalog);
            position_at_end = f.ProgressBar1.position;
            return r;
        };
        UpgradeStartClick(w.shell, w.services);
        EXPECT_EQ(f.StatusBar1.panels[1].text, row.outcome);

        ASSERT_GT(syncs.size(), 5u);
        // A frame apart, and a slow drawing leaves nine tenths of the time to the packets.
        const auto frame =
            std::max<engine::Clock::duration>(kDrawFrame, (kDrawShareInverse + 1) * row.sync_cost);
        for (std::size_t i = 1; i < syncs.size(); ++i)
            EXPECT_GE(syncs[i] - syncs[i - 1], frame) << "sync " << i;
        // Each drawing follows a write with no answer read in between.
        for (std::size_t at = w.order.find('s'); at != std::string::npos;
             at = w.order.find('s', at + 1)) {
            const std::size_t before = w.order.find_last_not_of('s', at);
            ASSERT_NE(before, std::string::npos);
            EXPECT_EQ(w.order[before], 'w')
                << "drawing " << at << " in " << w.order.substr(0, at + 1);
        }
        if (row.board.ignore.only > 0) {
            // Waiting for the lost answer, the last value written was drawn.
            EXPECT_EQ(w.order.back(), 's');
            EXPECT_EQ(drawn, position_at_end);
            EXPECT_GT(drawn, 0);
        }
    }
}

TEST(SessionProgram, UpdateRefusesAnUnsuitableBoardInRed) {
    World w(Edition::Updater, "TQX 1C 01.02.02.04", Board(0xFC, 5));  // image is for print 3
    TForm1& f = *w.shell.form1;
    MainUpdateClick(w.shell, w.services);
    EXPECT_EQ(f.Label2.text, "ZRA_R03 - Preparation 84");
    EXPECT_EQ(f.Label2.background, colour::kRed);
    EXPECT_EQ(f.StatusBar1.panels[2].text, "Warning!!");
    EXPECT_EQ(f.StatusBar1.panels[3].text, "not suitable apparatus");
    EXPECT_TRUE(f.Button1.visible);
    EXPECT_TRUE(w.device->flash().empty());
}

// "Setup" -> COM6 -> Ok while COM5 is being programmed: the run stays on COM5 to its end,
// the choice is kept (the dialog shows it) and the next search opens COM6.
TEST(SessionProgram, APortChosenDuringARunTakesEffectAtTheNextSearch) {
    World w(Edition::Updater, "TQX 1C 01.02.02.04", Board(0x48, 16));
    w.services.list_ports = [] {
        return std::vector<serial::PortEntry>{{"COM5", "board A"}, {"COM6", "board B"}};
    };
    TForm1& f = *w.shell.form1;
    bool chosen = false;
    w.pump.set_ui_hook([&](engine::Clock::time_point) {
        if (chosen || w.device->stats().packets != 45) return;
        chosen = true;
        MainChangePortClick(w.shell, w.services);
        SelectEntry(w.shell.form3->ComboBox1, 1);  // board B, COM6
        SetupOkClick(w.shell, w.ports, w.channels);
    });
    MainUpdateClick(w.shell, w.services);
    ASSERT_TRUE(chosen);
    EXPECT_EQ(f.Label2.text, " Program Ok ");
    EXPECT_EQ(w.device->flash().size(), 7424u + 64u);  // all of it on COM5
    EXPECT_EQ(w.device->eeprom().size(), 1024u);
    EXPECT_EQ(w.other->stats().packets, 0);  // nothing on COM6
    EXPECT_EQ(w.other->stats().identifies, 0);
    EXPECT_EQ(w.ports.selected_port, kOtherPort);    // the choice is kept ...
    EXPECT_EQ(f.StatusBar1.panels[0].text, "COM5");  // the panel names the run's port
    ShowSetupDialog(w.shell, w.ports, w.services.list_ports);
    EXPECT_EQ(w.shell.form3->ComboBox1.item_index, 1);  // ... and shown
    SetupCancelClick(w.shell, w.ports);

    w.pump.set_ui_hook({});
    MainUpdateClick(w.shell, w.services);  // the next search opens COM6
    EXPECT_EQ(f.StatusBar1.panels[0].text, "COM6");
    EXPECT_EQ(w.other->stats().identifies, 1);
    EXPECT_EQ(w.other->eeprom().size(), 1024u);
    EXPECT_EQ(w.device->stats().identifies, 1);
}

// A failure never shows the board before: after a K80 was programmed, a board with an
// unknown chip leaves no BIOS line and no "Found"/"Loaded" text of the K80 behind.
TEST(SessionProgram, AFailureNeverShowsThePreviousBoard) {
    World w(Edition::Updater, "TQX 1C 01.02.02.04", Board(0x48, 16));
    TForm1& f = *w.shell.form1;
    MainUpdateClick(w.shell, w.services);
    ASSERT_EQ(f.Label2.text, " Program Ok ");
    ASSERT_TRUE(f.Label3.visible);
    struct Next {
        const char* name;
        devsim::Options board;
        std::string outcome, detail;
    };
    devsim::Options unknown = Board(0x50, 16);
    devsim::Options too_new = Board(0x48, 16);
    too_new.bios = 40;
    devsim::Options silent = Board(0x48, 16);
    silent.accept_search = {};
    for (const Next& next : {Next{"unknown chip", unknown, " Error !! ", "Unknow Device"},
                             Next{"no board", silent, "", ""}}) {
        SCOPED_TRACE(next.name);
        *w.device = devsim::Device(next.board);
        MainUpdateClick(w.shell, w.services);
        EXPECT_EQ(f.Label2.visible, !next.outcome.empty());
        if (!next.outcome.empty()) {
            EXPECT_EQ(f.Label2.text, next.outcome);
        }
        EXPECT_FALSE(f.Label3.visible);
        EXPECT_FALSE(f.Label4.visible);
        EXPECT_EQ(f.StatusBar1.panels[2].text, next.detail);
        EXPECT_EQ(f.StatusBar1.panels[3].text, "");
    }
    // A bootloader too new is refused after its own report, never the K80's.
    *w.device = devsim::Device(too_new);
    MainUpdateClick(w.shell, w.services);
    EXPECT_EQ(f.Label2.text, " Incompatible Bootloader !! ");
    EXPECT_EQ(f.Label3.text, "BIOS:28 - ZRY_R0x - Preparation03");
    EXPECT_EQ(f.StatusBar1.panels[2].text, "");
    EXPECT_EQ(f.StatusBar1.panels[3].text, "");
}

// The Upgrade window reports a refusal like every other failure: the text, START back, no
// STOP left on screen, and the next START runs.
TEST(SessionProgram, UpgradeRefusalIsShownAndTheNextStartRuns) {
    World w(Edition::Upgrade, "TQX WUT 01.02.02.04", Board(0x43, 16));  // no image for it
    TForm5& f = *w.shell.form5;
    UpgradeStartClick(w.shell, w.services);
    EXPECT_EQ(f.StatusBar1.panels[1].text, " No Hex inside !! ");
    EXPECT_TRUE(f.Button1.visible);   // START
    EXPECT_FALSE(f.Button2.visible);  // STOP
    EXPECT_EQ(w.shell.stop_requested, 0);
    *w.device = devsim::Device(Board(0x48, 16));
    w.next_boards = {Board(0xFC, 3)};
    UpgradeStartClick(w.shell, w.services);
    // Refused; the K80 with one image left; the dsPIC33FJ64, the last.
    EXPECT_EQ(w.results, (std::vector<engine::SessionResult>{{engine::SessionEnd::Ended, 0},
                                                             {engine::SessionEnd::Programmed, 1},
                                                             {engine::SessionEnd::Programmed, 0}}));
    EXPECT_EQ(f.StatusBar1.panels[1].text, "Program OK");
    EXPECT_EQ(w.device->flash().size(), 34500u + 256u);
}

TEST(SessionProgram, UpgradeSequenceRunsUntilNoImageIsLeft) {
    // K80 first (one image left), the same K80 again (passed on), then the dsPIC33FJ64
    // (none left): the START loop ends by itself.
    World w(Edition::Upgrade, "TQX WUT 01.02.02.04", Board(0x48, 16));
    ASSERT_EQ(w.shell.sequence_mode, 1);
    w.next_boards = {Board(0x48, 16), Board(0xFC, 3)};
    TForm5& f = *w.shell.form5;
    UpgradeStartClick(w.shell, w.services);
    using engine::SessionEnd;
    EXPECT_EQ(w.results, (std::vector<engine::SessionResult>{{SessionEnd::Programmed, 1},
                                                             {SessionEnd::PassedOn, 0},
                                                             {SessionEnd::Programmed, 0}}));
    EXPECT_EQ(f.ProgressBar2.position, f.ProgressBar2.max);
    EXPECT_EQ(f.ProgressBar2.max, 3);  // two images + 1
    EXPECT_EQ(f.StatusBar1.panels[1].text, "Program OK");
    EXPECT_TRUE(f.Button1.visible);  // idle: START back
    EXPECT_EQ(f.Panel1.background, colour::kButtonFace);
    EXPECT_EQ(w.catalog.PendingCount, 0);
    EXPECT_EQ(w.device->flash().size(), 34500u + 256u);  // the dsPIC33FJ64 in the end
}

TEST(SessionProgram, LoaderReportsTheBoardInItsRows) {
    World w(Edition::Loader, "KP310c 01.1x", Board(0x48, 16));
    TForm6& f = *w.shell.form6;
    LoaderUpdateClick(w.shell, w.services);
    EXPECT_EQ(w.results, (std::vector<engine::SessionResult>{{engine::SessionEnd::Programmed, 0}}));
    EXPECT_EQ(f.Label1.text, "Successfully updated");
    EXPECT_EQ(f.Label1.text_colour, colour::kGreen);
    EXPECT_EQ(f.Label6.text, "ZRA_R02 - 0x03");  // the image's print (0) by name
    EXPECT_EQ(f.Label7.text, "0x07");
    EXPECT_TRUE(f.Button1.enabled);
}

// STOP then START inside the wait for the extended block (a wait that ignores Stop): the
// START must not run a second search inside the first, and the first run must end on the
// STOP instead of going on to write the board.
TEST(SessionProgram, StartInsideARunDoesNothingAndStopStillEndsIt) {
    for (const Edition edition : {Edition::Upgrade, Edition::Loader}) {
        devsim::Options o = Board(0x48, 16);
        o.bios = 8;
        o.extended = true;
        o.device_text = "BOARD";
        o.ext_delay = std::chrono::milliseconds(500);
        World w(edition, edition == Edition::Upgrade ? "TQX WUT 01.02.02.04" : "KP310c 01.1x", o);
        bool pressed = false;
        w.pump.set_ui_hook([&](engine::Clock::time_point) {
            if (pressed || w.engine.identity().BiosVersion != 8 || w.engine.parser.ExtComplete)
                return;
            pressed = true;
            if (edition == Edition::Upgrade) {
                UpgradeStopClick(w.shell);
                UpgradeStartClick(w.shell, w.services);
            } else {
                LoaderAbortClick(w.shell);
                LoaderUpdateClick(w.shell, w.services);
            }
        });
        if (edition == Edition::Upgrade)
            UpgradeStartClick(w.shell, w.services);
        else
            LoaderUpdateClick(w.shell, w.services);
        ASSERT_TRUE(pressed);
        EXPECT_EQ(w.device->stats().identifies, 1) << "a second search ran inside the first";
        EXPECT_EQ(w.results.size(), 1u);
        EXPECT_LE(w.device->stats().packets, 1) << "the STOP was not honoured";
        EXPECT_EQ(w.engine.ports.opened_port, kDevicePort);
    }
}

// Closing the main window during a run: the run stops at once (also inside the waits that
// ignore Stop), then the port is closed, the choice stored and the program ended, once.
TEST(SessionProgram, CloseDuringARunStopsItThenEndsTheProgram) {
    struct Row {
        Edition edition;
        const char* label;
        bool extended;  // close inside the wait for the extended block, else at packet 10
    };
    for (const Row row : {Row{Edition::Updater, "TQX 1C 01.02.02.04", false},
                          Row{Edition::Upgrade, "TQX WUT 01.02.02.04", true}}) {
        devsim::Options o = Board(0x48, 16);
        if (row.extended) {
            o.bios = 8;
            o.extended = true;
            o.ext_delay = std::chrono::milliseconds(1000);
        }
        World w(row.edition, row.label, o);
        char tmpl[] = "/tmp/quillon-close-XXXXXX";
        const std::filesystem::path dir = ::mkdtemp(tmpl);
        w.services.store.directory = dir;
        int ended = 0;
        w.services.end_program = [&] { ++ended; };
        std::optional<engine::Clock::time_point> closed_at;
        w.pump.set_ui_hook([&](engine::Clock::time_point t) {
            const bool now = row.extended ? w.engine.identity().BiosVersion == 8
                                          : w.device->stats().packets >= 10;
            if (closed_at || !now) return;
            closed_at = t;
            MainFormClose(w.shell, w.services);
            EXPECT_EQ(ended, 0);  // not while the run is still on the stack
        });
        const int packets_before_close = row.extended ? 0 : 10;
        if (row.edition == Edition::Upgrade)
            UpgradeStartClick(w.shell, w.services);
        else
            MainUpdateClick(w.shell, w.services);
        ASSERT_TRUE(closed_at);
        EXPECT_EQ(ended, 1);
        EXPECT_LE(w.device->stats().packets, packets_before_close + 1);
        EXPECT_EQ(w.device->stats().identifies, 1);
        EXPECT_FALSE(w.channels.IsOpen(kDevicePort));
        EXPECT_EQ(
            settings::LoadSetting("com", static_cast<std::uint8_t>(row.edition), w.services.store),
            "4");
        EXPECT_LT(w.pump.now() - *closed_at, std::chrono::milliseconds(10));
        std::filesystem::remove_all(dir);
    }
}

}  // namespace
}  // namespace quillon::ui
