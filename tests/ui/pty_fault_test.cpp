// Faults end to end: the Updater's "&Update" command with the window models, the real
// POSIX serial backend and the poll pump, against the devsim program on a pseudo-terminal
// misbehaving in one way per row. Every row must end with its message, the controls idle
// (Update back, Stop gone) and no hang; where the board was written, devsim's HEX dump
// must hold exactly the image.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>

#include "catalog/catalog.h"
#include "engine/session.h"
#include "serial/posix_backend.h"
#include "tests/support/devsim_process.h"
#include "tools/devsim/device.h"
#include "ui/commands.h"
#include "ui/engine_frontend.h"
#include "ui/port_selection.h"
#include "ui/presenter.h"
#include "ui/program.h"
#include "wait/poll_pump.h"

namespace quillon::ui {
namespace {

using devsim::DevsimProcess;
using Args = std::vector<std::string>;

constexpr int kBoardPort = 4;  // COM5
constexpr int kOtherPort = 5;  // COM6

// The poll pump with the window events of a test: `ui` runs after every wait that
// processes them, as a click would.
struct HookedPump : engine::PollPump {
    using PollPump::PollPump;
    void wait(engine::Clock::duration max, bool process_ui, bool wake_on_input) override {
        PollPump::wait(max, process_ui, wake_on_input);
        if (process_ui && ui) ui();
    }
    std::function<void()> ui;
};

struct PtyWorld {
    PtyWorld(const std::string& board, const std::string& other)
        : channels(std::make_shared<serial::PosixBackend>([board, other](int port) {
              return port == kBoardPort ? board : port == kOtherPort ? other : std::string();
          })),
          frontend(shell),
          presenter(frontend),
          pump([this] { return channels.PollHandle(engine::LinkPort(engine)); }),
          engine(presenter, channels, ports, pump),
          services{channels, ports, catalog, engine, {}, {}, {}, {}, {}, {}, {}} {
        services.build = {"TQX 1C 01.02.02.04", "Dec  9 2026", "10:11:12"};
        services.store.directory = "/nonexistent/quillon-pty-fault";  // nothing stored
        services.session = [this] { return engine::PrgMode(engine, catalog); };
        services.list_ports = [] {
            return std::vector<serial::PortEntry>{{"COM5", "board"}, {"COM6", "other board"}};
        };
        CreateWindows(shell, Edition::Updater);
        RunCreationWork(shell, services);
        ports.selected_port = kBoardPort;
    }

    Shell shell;
    serial::ChannelTable channels;
    serial::PortSelection ports;
    catalog::CatalogState catalog;
    EngineFrontend frontend;
    Presenter presenter;
    HookedPump pump;
    engine::Engine engine;
    Services services;
};

enum class Press { Nothing, StopAtBlock3, PortChangeAtBlock45 };

struct FaultRow {
    const char* name;
    Args args;
    std::string outcome;    // Label2 after the run; empty: hidden
    std::string activity;   // the activity panel's last text; empty: not checked
    std::string detail;     // the detail panel; "*": not checked
    std::string bios_line;  // Label3 when shown; empty: hidden
    bool image_written;     // devsim holds exactly the K80 image afterwards
    Press press = Press::Nothing;
};
void PrintTo(const FaultRow& r, std::ostream* os) {
    *os << r.name;
}

std::string Name(std::uint8_t print) {
    return catalog::NameOfPrint(print);
}

// This build's PIC18F26K80 image with the reset jump, the padding of its last block, the
// fix block and its EEPROM, as devsim's combined HEX file holds it.
std::map<std::uint32_t, std::uint8_t> ExpectedK80() {
    std::ifstream in(std::string(QUILLON_IMAGES_DIR) + "/k80_default.hex");
    auto hex = devsim::ReadIntelHex(in);
    EXPECT_TRUE(hex.has_value());
    if (!hex) return {};
    constexpr std::uint32_t kEeprom = 0xF00000, kFix = 0xFE40, kBlock = 64;
    std::uint32_t end = 0;
    for (const auto& [a, v] : *hex)
        if (a < kEeprom) end = std::max(end, a + 1);
    end = (end + kBlock - 1) / kBlock * kBlock;
    for (std::uint32_t a = 0; a < end; ++a) hex->emplace(a, 0xFF);
    const std::uint8_t jump[] = {0x40, 0xEF, 0x7F, 0xF0};
    for (std::uint32_t i = 0; i < 4; ++i) (*hex)[i] = jump[i];
    const std::uint8_t fix[] = {0x01, 0x02, 0x02, 0x04, 0x00, 0x00, 0x00, 0x00};
    for (std::uint32_t i = 0; i < kBlock; ++i) (*hex)[kFix + i] = 0xFF;
    for (std::uint32_t i = 0; i < 8; ++i) (*hex)[kFix + kBlock - 8 + i] = fix[i];
    return *hex;
}

// The outcome of an unsuitable image: the image's print and preparation in red.
const std::string kUnsuitable = "*unsuitable";

class PtyFault : public ::testing::TestWithParam<FaultRow> {};

TEST_P(PtyFault, EndsWithItsMessageAndIdleControls) {
    const FaultRow& row = GetParam();
    char tmpl[] = "/tmp/quillon-pty-fault-XXXXXX";
    const std::filesystem::path dir = ::mkdtemp(tmpl);
    const std::string hex = (dir / "board.hex").string();
    const std::string other_hex = (dir / "other.hex").string();
    Args args = row.args;
    args.insert(args.end(), {"--hex", hex});
    DevsimProcess board(args);
    DevsimProcess other({"--hex", other_hex});
    ASSERT_FALSE(board.path().empty());
    ASSERT_FALSE(other.path().empty());

    PtyWorld w(board.path(), other.path());
    TForm1& f = *w.shell.form1;
    bool pressed = false;
    w.pump.ui = [&] {
        if (pressed) return;
        const std::string& activity = f.StatusBar1.panels[1].text;
        if (row.press == Press::StopAtBlock3 && activity == "Program 00128 (00080)") {
            pressed = true;
            MainStopClick(w.shell);
        } else if (row.press == Press::PortChangeAtBlock45 && activity == "Program 02880 (00b40)") {
            pressed = true;
            MainChangePortClick(w.shell, w.services);
            SelectEntry(w.shell.form3->ComboBox1, 1);  // COM6
            SetupOkClick(w.shell, w.ports, w.services.channels);
        }
    };
    MainUpdateClick(w.shell, w.services);
    EXPECT_EQ(pressed, row.press != Press::Nothing);

    std::string outcome = row.outcome;
    if (outcome == kUnsuitable) {
        const catalog::PreparedImage& image = w.catalog.prepared;
        char text[96];
        std::snprintf(text, sizeof text, "%s - Preparation %x", Name(image.PrintCode).c_str(),
                      static_cast<unsigned>(image.PreparationCode));
        outcome = text;
        EXPECT_EQ(f.StatusBar1.panels[3].text, "not suitable apparatus");
    }
    EXPECT_EQ(f.Label2.visible, !outcome.empty());
    if (!outcome.empty()) {
        EXPECT_EQ(f.Label2.text, outcome);
    }
    if (!row.activity.empty()) {
        EXPECT_EQ(f.StatusBar1.panels[1].text, row.activity);
    }
    if (row.detail != "*") {
        EXPECT_EQ(f.StatusBar1.panels[2].text, row.detail);
    }
    EXPECT_EQ(f.Label3.visible, !row.bios_line.empty());
    if (!row.bios_line.empty()) {
        EXPECT_EQ(f.Label3.text, row.bios_line);
    }
    EXPECT_TRUE(f.Button1.visible);  // idle: Update back, Stop gone
    EXPECT_FALSE(f.Button2.visible);
    EXPECT_EQ(w.ports.run_port, -1);

    w.channels.CloseChannel(kBoardPort);
    w.channels.CloseChannel(kOtherPort);
    EXPECT_EQ(board.Stop(), 0);
    EXPECT_EQ(other.Stop(), 0);
    std::ifstream in(hex);
    const auto written = devsim::ReadIntelHex(in);
    ASSERT_TRUE(written.has_value());
    if (row.image_written) {
        EXPECT_EQ(*written, ExpectedK80());
    }
    std::ifstream in_other(other_hex);
    const auto written_other = devsim::ReadIntelHex(in_other);
    ASSERT_TRUE(written_other.has_value());
    EXPECT_TRUE(written_other->empty());  // nothing ever goes to the other board
    std::filesystem::remove_all(dir);
}

const std::string kK80Line = "BIOS:07 - " + Name(16) + " - Preparation03";

// A silent packet is the only one devsim leaves unanswered: a session that wrongly went on
// past it gets every later packet answered at once and ends in success within a second,
// which fails its row, instead of waiting two seconds for each packet left.
INSTANTIATE_TEST_SUITE_P(
    Rows, PtyFault,
    ::testing::Values(
        FaultRow{"RejectionsResentThenOk",
                 {"--reject-every", "100"},
                 " Program Ok ",
                 "Program EEP 1023",
                 "Found 18F26k80",
                 kK80Line,
                 true},
        FaultRow{"FiveRejections",
                 {"--reject-from", "50"},
                 " CHK Error !! ",
                 "Resend 4",
                 "Found 18F26k80",
                 kK80Line,
                 false},
        FaultRow{
            "SilentMiddleBlock", {"--ignore-at", "30"}, " not Response ", "", "*", kK80Line, false},
        FaultRow{
            "SilentLastBlock", {"--ignore-at", "116"}, " not Response ", "", "*", kK80Line, false},
        FaultRow{"SilentFixBlock",
                 {"--ignore-at", "117"},
                 " not Response ",
                 "Fix Program",
                 "*",
                 kK80Line,
                 false},
        FaultRow{"SilentEepromPacket",
                 {"--ignore-at", "200"},
                 " not Response ",
                 "Program EEP 82",
                 "*",
                 kK80Line,
                 false},
        FaultRow{"StopDuringABlockWait",
                 {"--ignore-at", "3"},
                 " User Abort !! ",
                 "",
                 "*",
                 kK80Line,
                 false,
                 Press::StopAtBlock3},
        FaultRow{"HangUpInTheSession",
                 {"--hang-up-after", "30"},
                 " not Response ",
                 "",
                 "*",
                 kK80Line,
                 false},
        FaultRow{"HangUpInTheSearch",
                 {"--hang-up-at-identify", "1"},
                 "",
                 "Device not Found",
                 "",
                 "",
                 false},
        FaultRow{"Bios33",
                 {"--bios", "33"},
                 " Incompatible Bootloader !! ",
                 "",
                 "",
                 "BIOS:21 - " + Name(16) + " - Preparation03",
                 false},
        FaultRow{"UnknownChip", {"--chip", "50"}, " Error !! ", "", "Unknow Device", "", false},
        FaultRow{"UnsuitableImage",
                 {"--chip", "fc", "--print", "5"},
                 kUnsuitable,
                 "",
                 "Warning!!",
                 "BIOS:07 - " + Name(5) + " - Preparation03",
                 false},
        FaultRow{"NoiseBetweenPackets",
                 {"--noise", "00,FF,55,AA,42,52,C2"},
                 " Program Ok ",
                 "Program EEP 1023",
                 "Found 18F26k80",
                 kK80Line,
                 true},
        // Reply bytes as codes: each lands where it belongs.
        FaultRow{"CodesKNV",
                 {"--bios", "0x4e", "--print", "0x4b", "--prep", "0x56"},
                 " Incompatible Bootloader !! ",
                 "",
                 "",
                 "BIOS:4e - " + Name(0x4B) + " - Preparation56",
                 false},
        // The K80 image suits every print: the dsPIC33FJ64 image (print 3) does not.
        FaultRow{"PrintK",
                 {"--chip", "fc", "--print", "0x4b", "--prep", "0x4e"},
                 kUnsuitable,
                 "",
                 "Warning!!",
                 "BIOS:07 - " + Name(0x4B) + " - Preparation4e",
                 false},
        FaultRow{"PreparationV",
                 {"--bios", "0x56", "--prep", "0x4b"},
                 " Incompatible Bootloader !! ",
                 "",
                 "",
                 "BIOS:56 - " + Name(16) + " - Preparation4b",
                 false},
        // The port command hides the BIOS line; the run stays on COM5 to its end.
        FaultRow{"PortChangeDuringProgramming",
                 {},
                 " Program Ok ",
                 "Program EEP 1023",
                 "Found 18F26k80",
                 "",
                 true,
                 Press::PortChangeAtBlock45}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace quillon::ui
