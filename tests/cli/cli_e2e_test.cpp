// quillon-cli end to end: the real program, as a script runs it (output redirected into
// pipes), against devsim programs on pseudo-terminals pinned to COM numbers. The HEX files
// devsim writes when it ends are compared byte for byte with the images' own HEX files,
// and every log line any test writes is checked against the log's schema.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/file.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

#include "serial/ports.h"
#include "tests/cli/cli_process.h"
#include "tests/cli/log_schema.h"
#include "tests/engine/session_rig.h"
#include "tests/support/devsim_process.h"

namespace quillon::cli {
namespace {

namespace fs = std::filesystem;
using devsim::DevsimProcess;
using testing::CliProcess;
using testing::RunCli;
using Json = nlohmann::json;

std::vector<std::string> Lines(const std::string& path) {
    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string l; std::getline(in, l);) lines.push_back(l);
    return lines;
}

// Redirected output is plain text: printable characters and line ends only.
bool PlainText(const std::string& text) {
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (u != '\n' && (u < 0x20 || u >= 0x7F)) return false;
    }
    return true;
}

// What a devsim run must hold afterwards: the image with its EEPROM at 0xF00000.
engine::testing::Image Combined(const engine::testing::ExpectedDevice& d) {
    engine::testing::Image image = d.flash;
    for (const auto& [index, value] : d.eeprom)
        image[engine::testing::kHexEepromBase + index] = value;
    return image;
}

std::optional<engine::testing::Image> HexFile(const std::string& path) {
    std::ifstream in(path);
    return devsim::ReadIntelHex(in);
}

const std::vector<std::string> kK80 = {"--chip",  "48", "--bios", "7",
                                       "--print", "16", "--prep", "3"};
const std::vector<std::string> kHj64 = {"--chip",  "FC", "--bios", "7",
                                        "--print", "3",  "--prep", "3"};

std::vector<std::string> With(std::vector<std::string> a, const std::vector<std::string>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

class Cli : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/quillon-cli-test-XXXXXX";
        dir_ = ::mkdtemp(tmpl);
        fs::create_directories(dir_ / "pins");
        ::setenv("QUILLON_PORTS_DIR", (dir_ / "pins").c_str(), 1);
        ::setenv("XDG_CONFIG_HOME", (dir_ / "config").c_str(), 1);
    }
    void TearDown() override {
        // Every log line of the test, whatever it checked itself, against the schema.
        const Json schema = testing::LoadSchema();
        for (const auto& entry : fs::directory_iterator(dir_))
            if (entry.path().extension() == ".jsonl")
                for (const std::string& line : Lines(entry.path().string()))
                    for (const std::string& fault : testing::SchemaFaults(schema, line))
                        ADD_FAILURE() << entry.path().filename() << ": " << fault;
        fs::remove_all(dir_);
    }

    // A devsim pinned to COM<n>.
    std::unique_ptr<DevsimProcess> Board(int com, std::vector<std::string> args) {
        args.insert(args.end(), {"--link", Pin(com)});
        auto d = std::make_unique<DevsimProcess>(args);
        EXPECT_FALSE(d->path().empty());
        return d;
    }
    std::string Pin(int com) const {
        return (dir_ / "pins" / ("COM" + std::to_string(com))).string();
    }
    std::string Path(const std::string& name) const { return (dir_ / name).string(); }

    fs::path dir_;
};

Json Parsed(const std::string& line) {
    return Json::parse(line, nullptr, false);
}

// The digest images --json lists for a family.
std::string ListedDigest(const std::string& family) {
    std::string out;
    EXPECT_EQ(RunCli({"images", "--json"}, &out), 0);
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);)
        if (const Json j = Parsed(line); j.value("family", "") == family)
            return j.value("image_digest", "");
    return {};
}

TEST_F(Cli, CommandsWithoutABoard) {
    auto board = Board(7, kK80);
    std::string out;
    EXPECT_EQ(RunCli({"ports"}, &out), 0);
    EXPECT_NE(out.find("COM7\t" + board->path()), std::string::npos) << out;

    EXPECT_EQ(RunCli({"images"}, &out), 0);
    EXPECT_NE(out.find("24HJ64 - ZRA_R03[16PIN] - CAN  RES[Code:84]"), std::string::npos) << out;
    EXPECT_NE(out.find("PIC18F26K80"), std::string::npos) << out;
    EXPECT_NE(out.find("8426"), std::string::npos) << "K80: 7402 flash + 1024 EEPROM bytes";

    EXPECT_EQ(RunCli({"--version"}, &out), 0);
    EXPECT_NE(out.find("TQX 1C 01.02.02.04"), std::string::npos) << out;
    EXPECT_EQ(RunCli({"--help"}, &out), 0);
    for (const char* code : {" 0  success", " 4  checksum-error", "12  bad-arguments"})
        EXPECT_NE(out.find(code), std::string::npos) << code;
}

TEST_F(Cli, IdentifyPrintsTheReportAndWritesNothing) {
    const std::string hex = Path("identify.hex");
    auto board = Board(7, With(kHj64, {"--bios", "9", "--ext-text", "BENCH 4", "--window",
                                       "0x1000,0x800", "--hex", hex}));
    std::string out;
    EXPECT_EQ(RunCli({"identify", "--port", "COM7"}, &out), 0);
    for (const char* line :
         {"COM7: chip: fc (dsPIC33FJ64)", "COM7: BIOS: 09", "COM7: print: 3 (ZRA_R03)",
          "COM7: preparation: 03 (RES)", "COM7: device text: BENCH 4",
          "COM7: protected window: start 0x1000, extent 0x0800"})
        EXPECT_NE(out.find(line), std::string::npos) << line << "\n" << out;
    ASSERT_EQ(board->Stop(), 0);
    const auto written = HexFile(hex);
    EXPECT_TRUE(!written || written->empty()) << "identify wrote into the device";
}

// No --port and nothing remembered: the edition's default port, said on standard error
// (on a machine with USB serial adapters the choice would be theirs: not this test's).
TEST_F(Cli, WithoutAPortTheDefaultIsSaidOnStandardError) {
    if (!serial::ListUsbAdapters().empty()) GTEST_SKIP() << "USB serial adapters present";
    auto board = Board(1, kK80);
    std::string out, err;
    EXPECT_EQ(RunCli({"identify"}, &out, &err), 0) << err;
    EXPECT_NE(err.find("COM1: the upgrade edition's default port; --port chooses another"),
              std::string::npos)
        << err;
    EXPECT_NE(out.find("COM1: chip: 48"), std::string::npos) << out;
}

struct ExitCase {
    const char* name;
    std::vector<std::string> devsim;
    std::vector<std::string> cli;
    int exit;
    const char* text;  // in the output and in the log line's result
};
void PrintTo(const ExitCase& c, std::ostream* os) {
    *os << c.name;
}
class CliExit : public Cli, public ::testing::WithParamInterface<ExitCase> {};

TEST_P(CliExit, OutcomeExitCodeAndLogLine) {
    const ExitCase& c = GetParam();
    auto board = Board(7, With(kK80, c.devsim));
    const std::string log = Path("boards.jsonl");
    std::string out, err;
    const int code = RunCli(With({"update", "--port", "COM7", "--log", log}, c.cli), &out, &err);
    EXPECT_EQ(code, c.exit) << out << err;
    EXPECT_NE(out.find(std::string("COM7: ") + c.text), std::string::npos) << out;
    EXPECT_TRUE(PlainText(out)) << out;
    const auto lines = Lines(log);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("\"result\":\"" + std::string(c.text)), std::string::npos) << lines[0];
    EXPECT_NE(lines[0].find("\"exit\":" + std::to_string(c.exit) + ","), std::string::npos)
        << lines[0];
}

INSTANTIATE_TEST_SUITE_P(
    Outcomes, CliExit,
    ::testing::Values(
        ExitCase{"Success", {}, {}, 0, "Program OK"},
        ExitCase{"SuccessUpdater", {}, {"--edition", "updater"}, 0, "Program Ok"},
        ExitCase{"SuccessLoader", {}, {"--edition", "loader"}, 0, "Successfully updated"},
        ExitCase{"NoDevice", {"--nak-only"}, {}, 1, "Device not Found"},
        ExitCase{"ChecksumError", {"--reject-every", "1"}, {}, 4, "CHK Error !!"},
        // Packet 118 is the first EEPROM byte (116 blocks and the fix block before it). Only
        // it goes unanswered: a run that went on past it would end in success at once.
        ExitCase{"NoResponse", {"--ignore-at", "118"}, {}, 5, "not Response"},
        ExitCase{"Incompatible", {"--bios", "33"}, {}, 6, "Incompatible Bootloader !!"},
        ExitCase{"UnknownChip", {"--chip", "49"}, {}, 7, "Error !!"},
        // The Upgrade edition shows nothing for this refusal; the command line still says it.
        ExitCase{"NoImageUpgrade", {"--chip", "42"}, {}, 8, "No Hex inside !!"},
        ExitCase{
            "NoImageUpdater", {"--chip", "42"}, {"--edition", "updater"}, 8, "No Hex inside !!"},
        ExitCase{
            "NotSuitable", {"--chip", "FC", "--print", "5"}, {}, 10, "ZRA_R03 - Preparation 84"}),
    [](const auto& info) { return std::string(info.param.name); });

struct BadCase {
    const char* name;
    std::vector<std::string> args;
    int exit;
    const char* message;
};
void PrintTo(const BadCase& c, std::ostream* os) {
    *os << c.name;
}
class CliBadInput : public Cli, public ::testing::WithParamInterface<BadCase> {};

// Refused before any port is touched: devsim sees no byte.
TEST_P(CliBadInput, ClearMessageAndExitCode) {
    const BadCase& c = GetParam();
    auto board = Board(7, kK80);
    std::vector<std::string> args;
    for (const std::string& a : c.args)
        args.push_back(a == "PTY" ? board->path() : a == "DIR" ? dir_.string() : a);
    std::string out, err;
    EXPECT_EQ(RunCli(args, &out, &err), c.exit) << out << err;
    EXPECT_NE(err.find(c.message), std::string::npos) << err;
    EXPECT_FALSE(fs::exists(dir_ / "log"));
}

INSTANTIATE_TEST_SUITE_P(
    Refusals, CliBadInput,
    ::testing::Values(
        BadCase{
            "UnknownOption", {"update", "--port", "COM7", "--fast"}, 12, "unknown option --fast"},
        BadCase{"NoCommand", {"--port", "COM7"}, 12, "no command"},
        BadCase{"PortTwice", {"update", "-p", "COM7", "--port", "com7"}, 12, "COM7 given twice"},
        BadCase{"SamePortTwoNames", {"update", "-p", "COM7", "-p", "PTY"}, 12, "are the same port"},
        BadCase{"NotAPort", {"update", "-p", "seven"}, 12, "not a port"},
        BadCase{"MissingPort",
                {"update", "-p", "COM200", "--log", "DIR/log"},
                2,
                "COM200: no such port"},
        BadCase{"LogNotWritable",
                {"update", "-p", "COM7", "--log", "/proc/quillon/log"},
                12,
                "cannot write the log"},
        BadCase{"RepeatWithIdentify", {"identify", "-p", "COM7", "--repeat"}, 12, "--repeat"}),
    [](const auto& info) { return std::string(info.param.name); });

// A holder that locked the port and one that merely opened it are both named.
TEST_F(Cli, ABusyPortNamesItsHolder) {
    std::string comm;
    std::ifstream("/proc/self/comm") >> comm;
    for (const bool locked : {true, false}) {
        auto board = Board(7, kK80);
        const int fd = ::open(board->path().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        ASSERT_GE(fd, 0);
        if (locked) {
            ASSERT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0);
        }
        std::string out, err;
        EXPECT_EQ(RunCli({"update", "-p", "COM7"}, &out, &err), 11) << locked;
        EXPECT_NE(err.find("In use by " + comm + " (pid " + std::to_string(::getpid()) + ")"),
                  std::string::npos)
            << err;
        ::close(fd);
    }
}

struct RecordCase {
    const char* name;
    std::vector<std::string> devsim;
    const char* family;
    Json board_text;        // null: absent
    Json protected_window;  // null: absent
};
void PrintTo(const RecordCase& c, std::ostream* os) {
    *os << c.name;
}
class CliRecord : public Cli, public ::testing::WithParamInterface<RecordCase> {};

// What the log says of a board, and identify --json of the same board under the same keys.
TEST_P(CliRecord, TheLineNamesBuildImageBoardAndAdapter) {
    const RecordCase& c = GetParam();
    auto board = Board(7, c.devsim);
    const std::string log = Path("line.jsonl");
    std::string out, err;
    ASSERT_EQ(RunCli({"identify", "--json", "--port", "COM7"}, &out, &err), 0) << out << err;
    const Json report = Parsed(out);
    EXPECT_EQ(out.find('\n'), out.size() - 1) << "one object: " << out;
    ASSERT_EQ(RunCli({"update", "--json", "--port", "COM7", "--log", log}, &out, &err), 0)
        << out << err;
    const auto lines = Lines(log);
    ASSERT_EQ(lines.size(), 1u);
    const Json line = Parsed(lines[0]);
    // --json's board event is the log line; the report shows the board's text as logged.
    Json board_event, text_shown;
    const std::string text_prefix = "device text: ";
    std::istringstream events(out);
    for (std::string e; std::getline(events, e);) {
        const Json j = Parsed(e);
        if (j.value("event", "") == "board") board_event = j;
        if (j.value("text", "").rfind(text_prefix, 0) == 0)
            text_shown = j["text"].get<std::string>().substr(text_prefix.size());
    }
    board_event.erase("event");
    EXPECT_EQ(board_event, line) << out;
    EXPECT_EQ(text_shown, c.board_text) << out;
    EXPECT_EQ(line["release"], "TQX 1C 01.02.02.04");
    EXPECT_EQ(line["program"], "quillon-cli 0.1");
    EXPECT_EQ(line["edition"], "upgrade");
    EXPECT_EQ(line["adapter"], (Json{{"device", board->path()}}));
    EXPECT_EQ(line.value("board_text", Json()), c.board_text) << lines[0];
    EXPECT_EQ(line.value("protected_window", Json()), c.protected_window) << lines[0];
    const std::string digest = ListedDigest(c.family);
    EXPECT_EQ(digest.size(), 64u);
    EXPECT_EQ(line["image_digest"], digest);
    for (const char* key : {"port", "adapter", "release", "program", "edition", "chip", "bios",
                            "print", "preparation", "version_reported", "outcome", "exit"})
        EXPECT_EQ(report[key], line[key]) << key;
    for (const char* key : {"board_text", "protected_window"})
        EXPECT_EQ(report.value(key, Json()), line.value(key, Json())) << key;
    EXPECT_FALSE(report.contains("image_digest")) << "identify chooses no image";
}

INSTANTIATE_TEST_SUITE_P(
    Boards, CliRecord,
    ::testing::Values(
        RecordCase{"NoExtendedBlock", kK80, "PIC18F26K80", Json(), Json()},
        RecordCase{
            "PlainBoardText",
            With(kHj64, {"--bios", "9", "--ext-text", "BOARD-A17", "--window", "0x1000,0x800"}),
            "dsPIC33FJ64", "BOARD-A17", Json{{"start", 0x1000}, {"extent", 0x800}}},
        // Control bytes, a quote, a backslash, DEL and bytes above 0x7E: printable ASCII
        // that says which bytes came, in valid JSON. No window: the key is absent.
        RecordCase{"HostileBoardText",
                   With(kHj64, {"--bios", "9", "--ext-bytes", "41,01,22,5c,7f,80,ff,1b,0a,7e"}),
                   "dsPIC33FJ64", "A\\x01\"\\\\\\x7f\\x80\\xff\\x1b\\x0a~", Json()}),
    [](const auto& info) { return std::string(info.param.name); });

// A log that fails in the middle of a run: the board's outcome is still shown, the exit
// code says the log failed, and nothing is left in the file.
TEST_F(Cli, ALostLogLineHasAnExitCodeOfItsOwn) {
    for (const bool removed : {false, true}) {
        auto board = Board(7, removed ? With(kK80, {"--pace"}) : kK80);
        const std::string log = removed ? Path("removed.jsonl") : "/dev/full";
        CliProcess cli({"update", "--port", "COM7", "--log", log});
        if (removed) {
            ASSERT_TRUE(cli.WaitForOutput("COM7: writing flash")) << cli.out << cli.err;
            fs::remove(log);
        }
        EXPECT_EQ(cli.Wait(), 13) << cli.out << cli.err;
        EXPECT_NE(cli.out.find("COM7: Program OK\n"), std::string::npos) << cli.out;
        EXPECT_NE(cli.out.find("COM7: could not write the log line: " +
                               std::string(removed ? "the log file was removed"
                                                   : "No space left on device")),
                  std::string::npos)
            << cli.out;
        EXPECT_FALSE(removed && fs::exists(log));
    }
}

// A production line of four fixture slots: each board's line names its own adapter, and
// each board holds exactly its image.
TEST_F(Cli, FourPortsAtOnceEachHoldsItsImage) {
    struct Port {
        int com;
        std::vector<std::string> args;
        engine::testing::ExpectedDevice (*expected)();
    };
    const std::vector<Port> ports = {{11, kK80, engine::testing::ExpectedK80},
                                     {12, kHj64, engine::testing::ExpectedHj64},
                                     {13, kK80, engine::testing::ExpectedK80},
                                     {14, kHj64, engine::testing::ExpectedHj64}};
    std::vector<std::unique_ptr<DevsimProcess>> boards;
    std::vector<std::string> args = {"update", "--repeat", "--log", Path("line.jsonl")};
    for (const Port& p : ports) {
        boards.push_back(
            Board(p.com, With(p.args, {"--hex", Path(std::to_string(p.com) + ".hex")})));
        args.insert(args.end(), {"--port", "COM" + std::to_string(p.com)});
    }
    CliProcess cli(args);
    for (const Port& p : ports)
        ASSERT_TRUE(cli.WaitForOutput("COM" + std::to_string(p.com) + ": Program OK\n"))
            << cli.out << cli.err;
    cli.Signal(SIGINT);
    EXPECT_EQ(cli.Wait(), 0) << cli.out << cli.err;
    EXPECT_TRUE(PlainText(cli.out)) << cli.out;
    const auto lines = Lines(Path("line.jsonl"));
    ASSERT_EQ(lines.size(), 4u);
    for (std::size_t i = 0; i < ports.size(); ++i) {
        const std::string com = "COM" + std::to_string(ports[i].com);
        int logged = 0;
        for (const std::string& l : lines) {
            const Json line = Parsed(l);
            if (line["port"] != com) continue;
            ++logged;
            EXPECT_EQ(line["exit"], 0) << l;
            EXPECT_EQ(line["adapter"]["device"], boards[i]->path()) << l;
        }
        EXPECT_EQ(logged, 1) << com;
        ASSERT_EQ(boards[i]->Stop(), 0);
        const auto written = HexFile(Path(std::to_string(ports[i].com) + ".hex"));
        ASSERT_TRUE(written.has_value()) << com;
        EXPECT_EQ(*written, Combined(ports[i].expected())) << com;
    }
}

TEST_F(Cli, RepeatProgramsThreeBoardsInARowAndLogsEach) {
    const std::string log = Path("line.jsonl");
    auto board = Board(7, With(kK80, {"--hex", Path("board1.hex")}));
    CliProcess cli({"update", "--repeat", "--port", "COM7", "--log", log});
    for (int n = 1; n <= 3; ++n) {
        const std::string hex = Path("board" + std::to_string(n) + ".hex");
        if (n > 1) board = Board(7, With(kK80, {"--hex", hex}));  // the next board goes on
        // The n-th "Program OK" in the output: this board is done and logged.
        ASSERT_TRUE(cli.WaitForOutput("COM7: Program OK\n", n)) << cli.out << cli.err;
        ASSERT_EQ(board->Stop(), 0);  // the board is taken off the fixture
        const auto written = HexFile(hex);
        ASSERT_TRUE(written.has_value());
        EXPECT_EQ(*written, Combined(engine::testing::ExpectedK80())) << "board " << n;
    }
    cli.Signal(SIGINT);
    EXPECT_EQ(cli.Wait(), 0) << cli.out << cli.err;  // stopped between boards: no board lost
    const auto lines = Lines(log);
    ASSERT_EQ(lines.size(), 3u) << cli.out;
    for (const std::string& l : lines)
        EXPECT_NE(l.find("\"result\":\"Program OK\""), std::string::npos);
    EXPECT_TRUE(PlainText(cli.out)) << cli.out;
}

TEST_F(Cli, RepeatLogsAnUnpluggedBoardAndGoesOn) {
    const std::string log = Path("line.jsonl");
    // The line goes dead after the fix block: the first EEPROM byte gets no answer.
    auto board = Board(7, With(kK80, {"--hang-up-after", "117"}));
    CliProcess cli({"update", "--repeat", "--port", "COM7", "--log", log});
    ASSERT_TRUE(cli.WaitForOutput("COM7: not Response [no-response]")) << cli.out << cli.err;
    board->Stop();
    board = Board(7, kK80);
    ASSERT_TRUE(cli.WaitForOutput("COM7: Program OK")) << cli.out << cli.err;
    cli.Signal(SIGINT);
    EXPECT_EQ(cli.Wait(), 5) << cli.out << cli.err;  // the worst board decides
    const auto lines = Lines(log);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_NE(lines[0].find("\"result\":\"not Response (the line hung up)\""), std::string::npos)
        << lines[0];
    EXPECT_NE(lines[1].find("\"result\":\"Program OK\""), std::string::npos) << lines[1];
}

TEST_F(Cli, CtrlCStopsTheSessionLogsItAndFreesThePort) {
    auto board = Board(7, With(kK80, {"--pace"}));
    const std::string log = Path("line.jsonl");
    CliProcess cli({"update", "--port", "COM7", "--log", log});
    ASSERT_TRUE(cli.WaitForOutput("COM7: writing flash")) << cli.out << cli.err;
    cli.Signal(SIGINT);
    EXPECT_EQ(cli.Wait(), 3) << cli.out << cli.err;
    EXPECT_NE(cli.out.find("COM7: User Abort !! [user-abort]"), std::string::npos) << cli.out;
    const auto lines = Lines(log);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("\"result\":\"User Abort !!\""), std::string::npos) << lines[0];
    // The port is free again: the next run gets it.
    std::string out;
    EXPECT_EQ(RunCli({"identify", "--port", "COM7"}, &out), 0) << out;
}

}  // namespace
}  // namespace quillon::cli
