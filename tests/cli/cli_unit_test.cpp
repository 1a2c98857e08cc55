// The command line's pieces without a process: the engine's events as the command line's
// (on the fake clock against the in-process device, every edition), the argument
// rules, the worst-outcome order and the output's escaping.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <filesystem>
#include <fstream>

#include "catalog/preparation.h"
#include "cli/board_log.h"
#include "cli/console_mode.h"
#include "cli/default_port.h"
#include "cli/engine_events.h"
#include "cli/options.h"
#include "cli/output.h"
#include "engine/search.h"
#include "engine/session.h"
#include "tests/cli/log_schema.h"
#include "tests/engine/virtual_time.h"
#include "tests/support/fake_pump.h"
#include "tools/devsim/inprocess_backend.h"
#include "ui/presenter.h"

namespace quillon::cli {
namespace {

constexpr int kPort = 2;

struct Recorder : EventSink {
    void OnEvent(const Event& e) override { events.push_back(e); }
    std::vector<Event> events;
    std::vector<Event> Finals() const {
        std::vector<Event> out;
        for (const Event& e : events)
            if (IsFinal(e.kind)) out.push_back(e);
        return out;
    }
    int Count(EventKind k) const {
        int n = 0;
        for (const Event& e : events) n += e.kind == k;
        return n;
    }
};

// The engine on the fake clock telling the command line's events.
struct EventsRig {
    EventsRig(editions::Edition edition, devsim::Options options)
        : device(std::make_shared<devsim::Device>(std::move(options))),
          channels(std::make_shared<devsim::InProcessBackend>(
              device, kPort,
              [this] {
                  return std::chrono::duration_cast<devsim::Nanos>(pump.now().time_since_epoch());
              })),
          events(sink, edition, [] { return false; }),
          engine(events, channels, ports, pump) {
        engine.options = engine::EngineOptions{editions::IdentifyByte(edition, 0), false};
        ports.selected_port = kPort;
        ports.opened_port = -1;
        channels.sleep = [this](std::chrono::milliseconds ms) { pump.advance(ms); };
        pump.set_input_source(devsim::NextByteDue(device));
        catalog::InitCatalog(catalog);
    }
    void Run() {
        ASSERT_EQ(engine::SearchDevice(engine), engine::SearchResult::Found);
        engine::PrgMode(engine, catalog);
    }

    engine::FakePump pump;
    std::shared_ptr<devsim::Device> device;
    serial::ChannelTable channels;
    serial::PortSelection ports;
    Recorder sink;
    EngineEvents events;
    engine::Engine engine;
    catalog::CatalogState catalog;
};

struct EventsCase {
    const char* name;
    editions::Edition edition;
    devsim::Options device;
    EventKind kind;
    Exit exit;
    const char* text;
    int resends;
};
void PrintTo(const EventsCase& c, std::ostream* os) {
    *os << c.name;
}
class Events : public ::testing::TestWithParam<EventsCase> {};

devsim::Options Device(std::uint8_t chip, std::uint8_t bios = 7, std::uint8_t print = 16) {
    devsim::Options o;
    o.chip = chip;
    o.bios = bios;
    o.print = print;
    return o;
}
devsim::Options Rejecting(int first) {
    devsim::Options o;
    o.reject.first_k = first;
    return o;
}

// One final event per session, with its text and exit code, in every edition.
TEST_P(Events, OneFinalEventWithItsExitCode) {
    const EventsCase& c = GetParam();
    EventsRig rig(c.edition, c.device);
    rig.Run();
    const auto finals = rig.sink.Finals();
    ASSERT_EQ(finals.size(), 1u);
    EXPECT_EQ(finals[0].kind, c.kind);
    EXPECT_EQ(finals[0].exit, c.exit);
    EXPECT_EQ(finals[0].text, c.text);
    EXPECT_EQ(rig.sink.Count(EventKind::Resend), c.resends);
    if (c.kind == EventKind::Succeeded) {
        // Progress went through the flash and then the EEPROM, each with its own size.
        int flash = 0, eeprom = 0;
        for (const Event& e : rig.sink.events)
            if (e.kind == EventKind::Progress) (e.text == "flash" ? flash : eeprom) = e.max;
        EXPECT_EQ(flash, 7402);
        EXPECT_EQ(eeprom, 1024);
    }
}

using editions::Edition;
INSTANTIATE_TEST_SUITE_P(
    Editions, Events,
    ::testing::Values(EventsCase{"UpgradeSuccess",
                                 Edition::Upgrade,
                                 {},
                                 EventKind::Succeeded,
                                 Exit::Success,
                                 "Program OK",
                                 0},
                      EventsCase{"LoaderSuccess",
                                 Edition::Loader,
                                 {},
                                 EventKind::Succeeded,
                                 Exit::Success,
                                 "Successfully updated",
                                 0},
                      EventsCase{"UpdaterResendsThenSuccess", Edition::Updater, Rejecting(2),
                                 EventKind::Succeeded, Exit::Success, "Program Ok", 2},
                      EventsCase{"UpdaterChecksum", Edition::Updater, Rejecting(5),
                                 EventKind::Failed, Exit::ChecksumError, "CHK Error !!", 5},
                      EventsCase{"UpgradeNoImage", Edition::Upgrade, Device(0x42),
                                 EventKind::Refused, Exit::NoImage, "No Hex inside !!", 0},
                      EventsCase{"LoaderNoImage", Edition::Loader, Device(0x42), EventKind::Refused,
                                 Exit::NoImage, "No Hex inside !!", 0},
                      EventsCase{"UpdaterUnknownChip", Edition::Updater, Device(0x49),
                                 EventKind::Refused, Exit::UnknownChip, "Error !!", 0},
                      EventsCase{"UpgradeIncompatible", Edition::Upgrade, Device(0x48, 33),
                                 EventKind::Refused, Exit::IncompatibleBootloader,
                                 "Incompatible Bootloader !!", 0},
                      EventsCase{"UpdaterNotSuitable", Edition::Updater, Device(0xFC, 7, 5),
                                 EventKind::Refused, Exit::NotSuitable, "ZRA_R03 - Preparation 84",
                                 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Arguments, AcceptedForms) {
    const Parsed p = ParseArguments({"--json", "update", "--port=COM3", "-p", "/dev/pts/4",
                                     "--edition", "loader", "--repeat", "--log", "x.jsonl"});
    ASSERT_EQ(p.error, "");
    EXPECT_EQ(p.options.command, Command::Update);
    EXPECT_EQ(p.options.ports, (std::vector<std::string>{"COM3", "/dev/pts/4"}));
    EXPECT_EQ(p.options.edition, editions::Edition::Loader);
    EXPECT_TRUE(p.options.repeat && p.options.json);
    EXPECT_EQ(p.options.log, "x.jsonl");
    EXPECT_EQ(ParseArguments({"update", "--help", "--bogus"}).error, "unknown option --bogus");
    EXPECT_EQ(ParseArguments({"identify", "--version"}).options.command, Command::Version);
}

TEST(Arguments, Refused) {
    struct Row {
        std::vector<std::string> args;
        std::string error;
    };
    const Row rows[] = {
        {{}, "no command given (ports, images, identify or update)"},
        {{"update", "images"}, "one command at a time (got \"images\" after a command)"},
        {{"flash"}, "unknown command \"flash\""},
        {{"update", "--port"}, "--port needs a value"},
        {{"update", "--log="}, "--log needs a file name"},
        {{"update", "--edition", "pro"}, "unknown edition \"pro\" (updater, upgrade or loader)"},
        {{"update", "--json=yes"}, "--json takes no value"},
        {{"ports", "--port", "COM1"}, "--port belongs to identify and update"},
        {{"images", "--log", "x"}, "--log belongs to update"},
        {{"images", "--repeat"}, "--repeat belongs to update"},
        {{"identify", "-p", "COM1", "-p", "COM2"}, "identify takes one --port"},
        {{"update", "-p", "COM0"}, "not a port: \"COM0\" (give COM1..COM257 or a device path)"},
        {{"update", "-p", "COM258"}, "not a port: \"COM258\" (give COM1..COM257 or a device path)"},
        {{"update", "-p", "COM1x"}, "not a port: \"COM1x\" (give COM1..COM257 or a device path)"},
        {{"update", "-p", "COM3", "-p", "\\\\.\\COM3"}, "port COM3 given twice"},
    };
    for (const Row& row : rows)
        EXPECT_EQ(ParseArguments(row.args).error, row.error) << ::testing::PrintToString(row.args);
}

TEST(Arguments, PortNames) {
    EXPECT_EQ(ParsePortName("com12")->number, 11);
    EXPECT_EQ(ParsePortName("COM257")->label, "COM257");
    EXPECT_EQ(ParsePortName("\\\\.\\COM4")->number, 3);
    EXPECT_EQ(ParsePortName("/dev/ttyUSB0")->number, -1);
    EXPECT_FALSE(ParsePortName("ttyUSB0").has_value());
}

TEST(ExitCodes, TheWorstOutcomeWins) {
    // From least to most severe: each later one wins over every earlier one, both ways.
    const std::vector<Exit> order = {Exit::Success,
                                     Exit::UserAbort,
                                     Exit::NoDevice,
                                     Exit::NotSuitable,
                                     Exit::ChecksumError,
                                     Exit::NoResponse,
                                     Exit::IncompatibleBootloader,
                                     Exit::UnknownChip,
                                     Exit::NoImage,
                                     Exit::ImageTooBig,
                                     Exit::LogFailed,
                                     Exit::InvalidPort,
                                     Exit::AlreadyRunning,
                                     Exit::BadArguments};
    ASSERT_EQ(order.size(), static_cast<std::size_t>(kExitCount));
    for (std::size_t i = 0; i < order.size(); ++i)
        for (std::size_t j = i; j < order.size(); ++j) {
            EXPECT_EQ(Worst(order[i], order[j]), order[j]);
            EXPECT_EQ(Worst(order[j], order[i]), order[j]);
        }
}

TEST(Output, DeviceBytesNeverReachTheOutputRaw) {
    const std::string hostile = "A\x1b[2J\"\\\n\xff";
    // Bytes that are not UTF-8 do not stop the JSON: they come out replaced, as ASCII.
    const std::string json = JsonText(Json{{"text", hostile}});
    EXPECT_EQ(json, "{\"text\":\"A\\u001b[2J\\\"\\\\\\n\\ufffd\"}");
    std::string written;
    Output plain(OutputMode::Plain, [&](std::string_view t) { written += t; }, {"COM1"});
    plain.PortEvent(0, {EventKind::Report, hostile, 0, 0, Exit::Success});
    plain.PortLine(0, hostile);
    EXPECT_EQ(written, "COM1: A?[2J\"\\??\nCOM1: A?[2J\"\\??\n");
}

TEST(BoardLog, BoardTextIsPrintableAsciiThatSaysEveryByte) {
    const std::vector<std::pair<std::string, std::string>> rows = {
        {"BOARD-A17", "BOARD-A17"},
        {"", ""},
        {"a\"b", "a\"b"},
        {"\\x41", "\\\\x41"},  // a backslash of the board's own is doubled: never mistaken
        {std::string("\x01\x1f\x7f\x80\xfe", 5), "\\x01\\x1f\\x7f\\x80\\xfe"},
        {" ~", " ~"},
    };
    for (const auto& [raw, escaped] : rows) EXPECT_EQ(EscapedBoardText(raw), escaped) << raw;
}

// The log line of a record with every optional key, and of one with none, fit the schema;
// a missing key or one of another type does not.
TEST(BoardLog, LinesFitTheSchema) {
    const nlohmann::json schema = testing::LoadSchema();
    BoardRecord full;
    full.time = "2026-12-09T11:57:42Z";
    full.port = "COM3";
    full.adapter = {"/dev/ttyUSB0", "0403:6001", "A600"};
    full.release = "TQX 1C 01.02.02.04";
    full.program = "quillon-cli 0.1";
    full.edition = "upgrade";
    full.board_text = std::string("B\xff\"", 3);
    full.protected_window = ProtectedWindow{0x1000, 0x800};
    full.image = "dsPIC33FJ64 print 3 (ZRA_R03)";
    full.image_digest = std::string(64, 'a');
    full.exit = Exit::LogFailed;
    BoardRecord bare = full;
    bare.adapter = {"/dev/pts/3", "", ""};
    bare.board_text.reset();
    bare.protected_window.reset();
    bare.image.clear();
    bare.image_digest.clear();
    for (const BoardRecord& r : {full, bare})
        EXPECT_EQ(testing::SchemaFaults(schema, RecordJson(r)), std::vector<std::string>{});
    const nlohmann::json line = nlohmann::json::parse(RecordJson(bare));
    EXPECT_FALSE(line.contains("board_text") || line.contains("protected_window") ||
                 line.contains("image_digest") || line["adapter"].contains("usb"));
    for (const char* key : {"exit", "adapter"}) {
        nlohmann::json broken = line;
        broken[key] = "x";
        EXPECT_EQ(testing::SchemaFaults(schema, broken.dump()).size(), 1u) << key;
        broken.erase(key);
        EXPECT_EQ(testing::SchemaFaults(schema, broken.dump()).size(), 1u) << key;
    }
}

// A line that does not fit any more (here: the file size limit) is not left in part: the
// file holds the lines before it, whole, and the next line that fits starts clean.
TEST(BoardLog, ALineWrittenInPartIsTakenBack) {
    const auto path = std::filesystem::temp_directory_path() /
                      ("quillon-log-" + std::to_string(::getpid()) + ".jsonl");
    std::filesystem::remove(path);
    std::string error;
    auto file = OpenAppendFile(path.string(), error);
    ASSERT_TRUE(file) << error;
    const std::string first = "{\"board\":1}\n";
    ASSERT_TRUE(file->Append(first, error)) << error;
    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto old_handler = ::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = first.size() + 5;  // room for 5 bytes of the next line
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const bool written = file->Append("{\"board\":2,\"long\":true}\n", error);
    ::setrlimit(RLIMIT_FSIZE, &saved);
    ::signal(SIGXFSZ, old_handler);
    EXPECT_FALSE(written);
    EXPECT_FALSE(error.empty());
    EXPECT_TRUE(file->Append("{\"board\":3}\n", error)) << error;
    std::ifstream in(path);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(text, first + "{\"board\":3}\n");
    std::filesystem::remove(path);
}

// On a terminal: one bar per port under the message lines, drawn again in place.
TEST(Output, TerminalBarsOnePerPort) {
    std::string written;
    Output bars(OutputMode::Terminal, [&](std::string_view t) { written += t; }, {"COM1", "COM2"});
    bars.PortEvent(1, {EventKind::Progress, "flash", 3701, 7402, Exit::Success});
    EXPECT_NE(written.find("\x1b[2KCOM1  \n\x1b[2KCOM2  [############------------]  50% flash "
                           "3701/7402\n"),
              std::string::npos)
        << written;
    written.clear();
    bars.PortEvent(0, {EventKind::Failed, "CHK Error !!", 0, 0, Exit::ChecksumError});
    // Up over the two bars, the message, then both bars again.
    EXPECT_EQ(written.rfind("\x1b[2A\r\x1b[JCOM1: CHK Error !! [checksum-error]\n", 0), 0u)
        << written;
    EXPECT_NE(written.find("\x1b[2KCOM1  CHK Error !! [checksum-error]\n"), std::string::npos);
}

// No --port and nothing remembered: the technician's only USB adapter, else the
// edition's default, and one line saying which and why.
TEST(DefaultPort, TheOnlyUsbAdapterElseTheDefaultSaidOnStandardError) {
    const serial::UsbAdapter ftdi{2, "FTDI FT232R USB UART"}, acm{5, "Arduino Uno"};
    struct Row {
        std::vector<serial::UsbAdapter> adapters;
        int port;
        std::string message;
    } const rows[] = {
        {{ftdi}, 2, "COM3: the only USB serial adapter (FTDI FT232R USB UART)"},
        {{}, 0, "COM1: the upgrade edition's default port; --port chooses another"},
        {{ftdi, acm},
         0,
         "COM1: the upgrade edition's default port; --port chooses another (USB serial "
         "adapters: COM3 FTDI FT232R USB UART, COM6 Arduino Uno)"},
    };
    for (const Row& row : rows) {
        const DefaultPortChoice c = ChooseUnrememberedPort("upgrade", 0, row.adapters);
        EXPECT_EQ(c.port, row.port);
        EXPECT_EQ(c.message, row.message);
    }
}

// The console's escape codes: on when the console takes them (turned on, keeping the other
// mode bits), plain lines when it is no console or refuses the mode.
TEST(ConsoleMode, EscapeCodesOnlyWhereTheConsoleTakesThem) {
    constexpr std::uint32_t kOtherBits = 0x0003;  // processed output, wrap at end of line
    struct Row {
        bool get_ok;
        std::uint32_t mode;
        bool set_ok;
        bool escapes;
        int sets;
    } const rows[] = {
        {false, 0, true, false, 0},                                      // redirected
        {true, kOtherBits | kVirtualTerminalProcessing, true, true, 0},  // already on
        {true, kOtherBits, true, true, 1},                               // turned on
        {true, kOtherBits, false, false, 1},                             // refused
    };
    for (const Row& row : rows) {
        std::vector<std::uint32_t> set;
        const bool escapes = TurnOnEscapeCodes({[&](std::uint32_t& m) {
                                                    m = row.mode;
                                                    return row.get_ok;
                                                },
                                                [&](std::uint32_t m) {
                                                    set.push_back(m);
                                                    return row.set_ok;
                                                }});
        EXPECT_EQ(escapes, row.escapes);
        ASSERT_EQ(int(set.size()), row.sets);
        if (!set.empty()) {
            EXPECT_EQ(set[0], kOtherBits | kVirtualTerminalProcessing);
        }
    }
}

}  // namespace
}  // namespace quillon::cli
