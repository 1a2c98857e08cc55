// devsim's command line: what each option sets, what is refused and with which words, and
// that the documentation lists every option.
#include <getopt.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include "tools/devsim/options.h"

namespace quillon::devsim {
namespace {

ParseResult Parse(std::vector<std::string> args) {
    args.insert(args.begin(), "devsim");
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    opterr = 0;  // getopt's own messages are the program's business, not the test's
    return ParseArguments(static_cast<int>(args.size()), argv.data());
}

std::string Bytes(const std::vector<std::uint8_t>& bytes) {
    std::string out;
    for (std::uint8_t b : bytes) out += std::to_string(b) + ",";
    return out;
}

std::string Rule(const PacketRule& r) {
    std::ostringstream out;
    out << r.every_nth << "/" << r.first_k << "/" << r.from_m << "/" << r.only;
    return out.str();
}

// Every field, so that an option that sets a field it should not shows too.
std::string Fields(const Settings& s) {
    const Options& o = s.device;
    std::ostringstream out;
    out << "chip " << int{o.chip} << " version " << o.version_form << " bios " << int{o.bios}
        << " print " << int{o.print} << " prep " << int{o.preparation} << " nak " << o.nak_only
        << " accept " << Bytes(o.accept_search) << " ext " << o.extended << " text '"
        << o.device_text << "' window " << o.window_start << "," << o.window_extent << " announce "
        << o.ext_announced << " sent " << o.ext_sent << " ext_delay " << o.ext_delay.count()
        << " reject " << Rule(o.reject) << " ignore " << Rule(o.ignore) << " hang "
        << o.hang_up_after << "/" << o.hang_up_at_identify << " noise " << Bytes(o.noise)
        << " delay " << o.answer_delay.count() << " pace " << o.pace << " latency "
        << o.adapter_latency.count() << " scrambled " << o.scrambled << "/" << o.eeprom_scrambled
        << " link '" << s.link_path << "' hex '" << s.flash_hex << "' '" << s.eeprom_hex << "' '"
        << s.combined_hex << "'";
    return out.str();
}

TEST(DevsimOptions, SetWhatTheySay) {
    using namespace std::chrono;
    struct Row {
        std::vector<std::string> args;
        void (*expect)(Settings&);  // from the defaults
    };
    const Row rows[] = {
        {{}, [](Settings&) {}},
        {{"--chip", "4a"}, [](Settings& s) { s.device.chip = 0x4A; }},
        {{"--ch", "42"}, [](Settings& s) { s.device.chip = 0x42; }},  // unique prefix
        {{"--bare", "--nak-only"},
         [](Settings& s) {
             s.device.version_form = false;
             s.device.nak_only = true;
         }},
        {{"--bios", "9", "--print", "0x10", "--prep", "010"},  // C notation: 010 is octal
         [](Settings& s) {
             s.device.bios = 9;
             s.device.print = 16;
             s.device.preparation = 8;
         }},
        {{"--accept", "C5", "--accept", "c6"},  // the first replaces the defaults
         [](Settings& s) {
             s.device.accept_search = {0xC5, 0xC6};
         }},
        {{"--ext-text", "line 4"},
         [](Settings& s) {
             s.device.extended = true;
             s.device.device_text = "line 4";
         }},
        {{"--ext-bytes", "42,1b,22,5c,ff"},
         [](Settings& s) {
             s.device.extended = true;
             s.device.device_text = "B\x1b\"\\\xff";
         }},
        {{"--window", "0x1000,2048"},
         [](Settings& s) {
             s.device.extended = true;
             s.device.window_start = 0x1000;
             s.device.window_extent = 2048;
         }},
        {{"--ext-announce", "20", "--ext-send", "4096", "--ext-delay-ms", "5"},
         [](Settings& s) {
             s.device.extended = true;
             s.device.ext_announced = 20;
             s.device.ext_sent = 4096;
             s.device.ext_delay = milliseconds(5);
         }},
        {{"--reject-every", "3", "--reject-first", "2", "--reject-from", "7"},
         [](Settings& s) {
             s.device.reject = {3, 2, 7, 0};
         }},
        {{"--ignore-every", "4", "--ignore-first", "1", "--ignore-from", "9", "--ignore-at", "5"},
         [](Settings& s) {
             s.device.ignore = {4, 1, 9, 5};
         }},
        {{"--hang-up-after", "12", "--hang-up-at-identify", "1000000"},
         [](Settings& s) {
             s.device.hang_up_after = 12;
             s.device.hang_up_at_identify = 1000000;
         }},
        {{"--noise", "00,ff,7"},
         [](Settings& s) {
             s.device.noise = {0x00, 0xFF, 0x07};
         }},
        {{"--delay-us", "250", "--latency-ms", "16", "--pace"},
         [](Settings& s) {
             s.device.answer_delay = microseconds(250);
             s.device.adapter_latency = milliseconds(16);
             s.device.pace = true;
         }},
        {{"--plain", "--eeprom-scrambled"},
         [](Settings& s) {
             s.device.scrambled = false;
             s.device.eeprom_scrambled = true;
         }},
        {{"--link", "COM5", "--flash-hex", "f.hex", "--eeprom-hex", "e.hex", "--hex=h.hex"},
         [](Settings& s) {
             s.link_path = "COM5";
             s.flash_hex = "f.hex";
             s.eeprom_hex = "e.hex";
             s.combined_hex = "h.hex";
         }},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(::testing::PrintToString(row.args));
        const ParseResult r = Parse(row.args);
        EXPECT_EQ(r.outcome, ParseResult::kRun) << r.message;
        Settings expected;
        row.expect(expected);
        EXPECT_EQ(Fields(r.settings), Fields(expected));
    }
}

TEST(DevsimOptions, RefuseWithTheirReasons) {
    struct Row {
        std::vector<std::string> args;
        ParseResult::Outcome outcome;
        std::string message;  // empty: getopt's message and the usage text
    };
    const Row rows[] = {
        {{"--help"}, ParseResult::kHelp, ""},
        {{"--bios", "300", "--help"}, ParseResult::kRefused, "devsim: out of range 0..255: 300"},
        {{"--frobnicate"}, ParseResult::kRefused, ""},
        {{"--ignore", "3"}, ParseResult::kRefused, ""},  // ambiguous prefix
        {{"--bare=1"}, ParseResult::kRefused, ""},
        {{"--chip"}, ParseResult::kRefused, ""},
        {{"--bios", "7", "stray"}, ParseResult::kRefused, "devsim: unexpected argument: stray"},
        {{"--bios", "7x"}, ParseResult::kRefused, "devsim: not a number: 7x"},
        {{"--print", ""}, ParseResult::kRefused, "devsim: not a number: "},
        {{"--chip", "100"}, ParseResult::kRefused, "devsim: out of range 0..255: 100"},
        {{"--reject-every", "-3"}, ParseResult::kRefused, "devsim: out of range 0..1000000: -3"},
        {{"--delay-us", "60000001"},
         ParseResult::kRefused,
         "devsim: out of range 0..60000000: 60000001"},
        {{"--latency-ms", "256"}, ParseResult::kRefused, "devsim: out of range 0..255: 256"},
        {{"--ext-send", "4097"}, ParseResult::kRefused, "devsim: out of range 0..4096: 4097"},
        {{"--window", "4096"}, ParseResult::kRefused, "devsim: --window wants START,EXTENT: 4096"},
        {{"--window", "1,2,3"}, ParseResult::kRefused, "devsim: not a number: 2,3"},
        {{"--window", "0x10000,0"},
         ParseResult::kRefused,
         "devsim: out of range 0..65535: 0x10000"},
        {{"--noise", "00,,01"}, ParseResult::kRefused, "devsim: not a number: "},
        {{"--noise", "00,zz"}, ParseResult::kRefused, "devsim: not a number: zz"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(::testing::PrintToString(row.args));
        const ParseResult r = Parse(row.args);
        EXPECT_EQ(r.outcome, row.outcome);
        EXPECT_EQ(r.message, row.message);
        EXPECT_EQ(r.usage, row.outcome == ParseResult::kRefused && row.message.empty());
    }
}

// Every row's range holds at both ends in the row's own notation, and a value option
// without its value is refused.
TEST(DevsimOptions, EveryRowKeepsItsRange) {
    for (const OptionRow& row : OptionTable()) {
        SCOPED_TRACE(row.name);
        const std::string name = std::string("--") + row.name;
        if (row.kind == ValueKind::kNone) {
            EXPECT_EQ(Parse({name}).outcome, ParseResult::kRun);
            continue;
        }
        EXPECT_TRUE(Parse({name}).usage);
        if (row.kind == ValueKind::kText) continue;
        char max[32], over[32];
        std::snprintf(max, sizeof max, row.base == 16 ? "%lx" : "%ld", row.max);
        std::snprintf(over, sizeof over, row.base == 16 ? "%lx" : "%ld", row.max + 1);
        const std::string sep = row.kind == ValueKind::kPair ? "," : "";
        const std::string tail = row.kind == ValueKind::kPair ? "0" : "";
        EXPECT_EQ(Parse({name, std::string(max) + sep + tail}).outcome, ParseResult::kRun);
        EXPECT_EQ(Parse({name, std::string(over) + sep + tail}).message,
                  "devsim: out of range " + std::to_string(row.min) + ".." +
                      std::to_string(row.max) + ": " + over);
        EXPECT_EQ(Parse({name, "-1" + sep + tail}).message, "devsim: out of range " +
                                                                std::to_string(row.min) + ".." +
                                                                std::to_string(row.max) + ": -1");
    }
}

// The usage text keeps its columns: grouped options on one line, help texts aligned.
TEST(DevsimOptions, UsageTextLinesUpItsHelp) {
    const std::string usage = UsageText();
    EXPECT_EQ(usage.rfind("usage: devsim [options]\n", 0), 0u);
    for (const char* line :
         {"\n  --chip HEX            chip code (default 48, PIC18F26K80)\n",
          "\n  --window START,EXTENT protected window in the extended block\n",
          "\n  --bios N --print N --prep N   version identification (defaults 7, 16, 3)\n",
          "\n  --hex PATH            flash and EEPROM in one Intel HEX, EEPROM at 0xF00000\n"})
        EXPECT_NE(usage.find(line), std::string::npos) << line;
}

// docs/devsim.md names every option in one of its tables.
TEST(DevsimOptions, DocumentedInTheGuide) {
    std::ifstream in(QUILLON_DOCS_DIR "/devsim.md");
    ASSERT_TRUE(in);
    std::string tables;
    for (std::string line; std::getline(in, line);)
        if (line.rfind("| `--", 0) == 0) tables += line + "\n";
    for (const OptionRow& row : OptionTable()) {
        const std::string name = std::string("`--") + row.name;
        EXPECT_TRUE(tables.find(name + "`") != std::string::npos ||
                    tables.find(name + " ") != std::string::npos)
            << row.name << " is missing from the option tables of docs/devsim.md";
    }
}

}  // namespace
}  // namespace quillon::devsim
