// devsim's command line: one table of options gives both the parsing and the usage text.
// Each row names the option, the value it takes, the range of its numbers, its help text
// and how it sets what the program runs with.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "tools/devsim/device.h"

namespace quillon::devsim {

// What the program runs with: the device's options and the program's own paths.
struct Settings {
    Options device;
    std::string link_path;      // --link: a symbolic link to the device
    std::string flash_hex;      // --flash-hex
    std::string eeprom_hex;     // --eeprom-hex
    std::string combined_hex;   // --hex
    std::string record;         // --record: the exchanges, for an ideal host to replay
    bool accept_given = false;  // the first --accept replaces the default identify bytes
};

// The kind of value an option takes.
enum class ValueKind {
    kNone,    // a switch
    kNumber,  // one whole number in [min, max]
    kText,    // any text
    kPair,    // "A,B": two numbers in [min, max]
    kList,    // "A,B,...": numbers in [min, max]
};

// An option's value, parsed as its row's kind says.
struct Value {
    long number = 0;                 // kNumber
    const char* text = nullptr;      // kText (the argument as given)
    long first = 0, second = 0;      // kPair
    std::vector<std::uint8_t> list;  // kList
};

// How an option's value changes the settings.
using Setter = void (*)(Settings&, const Value&);

struct OptionRow {
    const char* name;         // without the leading "--"
    const char* placeholder;  // the value's name in the usage text; nullptr with kNone
    ValueKind kind;
    long min, max;  // every number of the value lies in [min, max]
    int base;       // 0: C notation (0x10, 16, 020); 16: hexadecimal
    // The usage line; nullptr: this option shares the next row's line, which says what
    // all of them do.
    const char* help;
    Setter set;
};

// Every option but --help, in the order of the usage text.
std::span<const OptionRow> OptionTable();

// The usage text, one line per help text, options aligned in a column.
std::string UsageText();

struct ParseResult {
    enum Outcome {
        kRun,      // serve the device with `settings`
        kHelp,     // --help: print the usage text, exit 0
        kRefused,  // exit 2 with `message` (if any) and, with `usage`, the usage text
    } outcome = kRun;
    Settings settings;
    std::string message;  // "devsim: <why>: <what>", no newline
    bool usage = false;   // an unknown option or a missing value (getopt said which)
};

// Parses the command line with getopt_long (which prints its own message for an unknown
// option or a missing value). Stops at the first refusal.
ParseResult ParseArguments(int argc, char** argv);

// Refuses what would fail or destroy something only later: a HEX file that cannot be
// created (created empty here), a --link path that is not a symbolic link or nothing.
// Returns the refusal message, empty when all is well.
std::string CheckPaths(const Settings& settings);

}  // namespace quillon::devsim
