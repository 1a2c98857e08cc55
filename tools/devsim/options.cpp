#include "tools/devsim/options.h"

#include <getopt.h>
#include <sys/stat.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>

namespace quillon::devsim {
namespace {

// Limits of the counting options: packet numbers and delays beyond these are typing errors.
constexpr long kMaxCount = 1000000;
constexpr long kMaxDelayMs = 60000;
constexpr long kMaxDelayUs = kMaxDelayMs * 1000;
constexpr long kMaxExtSend = 4096;
constexpr long kMaxByte = 255;
constexpr long kMaxWindow = 0xFFFF;       // window start and extent are 16-bit fields
constexpr long kMaxLatencyMs = 255;       // the adapters' latency timer is one byte
constexpr int kUsageColumn = 22;          // where the help texts start, after two spaces
constexpr const char* kUsageGap = "   ";  // after options that reach past that column

constexpr int kHelpId = 1000;  // getopt's value for --help; rows use their index

std::uint8_t AsByte(long v) {
    return static_cast<std::uint8_t>(v);
}
int AsCount(const Value& v) {
    return static_cast<int>(v.number);
}

// A row for each kind of value; `set` says what the value changes.
constexpr OptionRow Switch(const char* name, const char* help, Setter set) {
    return {name, nullptr, ValueKind::kNone, 0, 0, 0, help, set};
}
constexpr OptionRow Number(const char* name, const char* placeholder, long min, long max, int base,
                           const char* help, Setter set) {
    return {name, placeholder, ValueKind::kNumber, min, max, base, help, set};
}
constexpr OptionRow Count(const char* name, const char* placeholder, const char* help, Setter set) {
    return Number(name, placeholder, 0, kMaxCount, 0, help, set);
}
constexpr OptionRow Text(const char* name, const char* placeholder, const char* help, Setter set) {
    return {name, placeholder, ValueKind::kText, 0, 0, 0, help, set};
}

using S = Settings;
using V = Value;

// clang-format off
constexpr OptionRow kRows[] = {
    Number("chip", "HEX", 0, kMaxByte, 16, "chip code (default 48, PIC18F26K80)",
           [](S& s, const V& v) { s.device.chip = AsByte(v.number); }),
    Switch("bare", "identify with the bare chip code (no version)",
           [](S& s, const V&) { s.device.version_form = false; }),
    Number("bios", "N", 0, kMaxByte, 0, nullptr,
           [](S& s, const V& v) { s.device.bios = AsByte(v.number); }),
    Number("print", "N", 0, kMaxByte, 0, nullptr,
           [](S& s, const V& v) { s.device.print = AsByte(v.number); }),
    Number("prep", "N", 0, kMaxByte, 0, "version identification (defaults 7, 16, 3)",
           [](S& s, const V& v) { s.device.preparation = AsByte(v.number); }),
    Switch("nak-only", "answer the identify byte with 'N' only",
           [](S& s, const V&) { s.device.nak_only = true; }),
    Number("accept", "HEX", 0, kMaxByte, 16, "identify byte to answer (repeat; default C2, C5, C6)",
           [](S& s, const V& v) {
               if (!s.accept_given) s.device.accept_search.clear();
               s.accept_given = true;
               s.device.accept_search.push_back(AsByte(v.number));
           }),
    Text("ext-text", "TEXT", "send an extended block with this device text (bios 8..31)",
         [](S& s, const V& v) {
             s.device.extended = true;
             s.device.device_text = v.text;
         }),
    {"ext-bytes", "HEX[,HEX...]", ValueKind::kList, 0, kMaxByte, 16,
     "the same with any bytes as the text (control bytes, quotes, 80..FF)",
     [](S& s, const V& v) {
         s.device.extended = true;
         s.device.device_text.assign(v.list.begin(), v.list.end());
     }},
    {"window", "START,EXTENT", ValueKind::kPair, 0, kMaxWindow, 0,
     "protected window in the extended block",
     [](S& s, const V& v) {
         s.device.window_start = static_cast<std::uint16_t>(v.first);
         s.device.window_extent = static_cast<std::uint16_t>(v.second);
         s.device.extended = true;
     }},
    Number("ext-announce", "N", 0, kMaxByte, 0, nullptr,
           [](S& s, const V& v) {
               s.device.extended = true;
               s.device.ext_announced = AsByte(v.number);
           }),
    Number("ext-send", "N", 0, kMaxExtSend, 0, "length byte / data bytes of the extended block",
           [](S& s, const V& v) {
               s.device.extended = true;
               s.device.ext_sent = static_cast<int>(v.number);
           }),
    Number("ext-delay-ms", "N", 0, kMaxDelayMs, 0,
           "send the extended block N ms after the identification",
           [](S& s, const V& v) { s.device.ext_delay = std::chrono::milliseconds(v.number); }),
    Count("reject-every", "N", nullptr,
          [](S& s, const V& v) { s.device.reject.every_nth = AsCount(v); }),
    Count("reject-first", "K", nullptr,
          [](S& s, const V& v) { s.device.reject.first_k = AsCount(v); }),
    Count("reject-from", "M", "answer 'N' to those packets",
          [](S& s, const V& v) { s.device.reject.from_m = AsCount(v); }),
    Count("ignore-every", "N", nullptr,
          [](S& s, const V& v) { s.device.ignore.every_nth = AsCount(v); }),
    Count("ignore-first", "K", nullptr,
          [](S& s, const V& v) { s.device.ignore.first_k = AsCount(v); }),
    Count("ignore-from", "M", "do not answer those packets",
          [](S& s, const V& v) { s.device.ignore.from_m = AsCount(v); }),
    Count("ignore-at", "M", "do not answer packet M (only that one)",
          [](S& s, const V& v) { s.device.ignore.only = AsCount(v); }),
    Count("hang-up-after", "M", "close the line after M packets",
          [](S& s, const V& v) { s.device.hang_up_after = AsCount(v); }),
    Count("hang-up-at-identify", "N", "close the line at the Nth identify byte, unanswered",
          [](S& s, const V& v) { s.device.hang_up_at_identify = AsCount(v); }),
    {"noise", "HEX[,HEX...]", ValueKind::kList, 0, kMaxByte, 16,
     "send these bytes before every answer to a packet",
     [](S& s, const V& v) { s.device.noise = v.list; }},
    Number("delay-us", "N", 0, kMaxDelayUs, 0, "wait N microseconds before each answer",
           [](S& s, const V& v) { s.device.answer_delay = std::chrono::microseconds(v.number); }),
    Switch("pace", "take the 115200 8N2 wire time for every byte",
           [](S& s, const V&) { s.device.pace = true; }),
    Number("latency-ms", "N", 0, kMaxLatencyMs, 0,
           "hold answers N ms like a USB adapter's latency timer",
           [](S& s, const V& v) {
               s.device.adapter_latency = std::chrono::milliseconds(v.number);
           }),
    Switch("plain", "do not unscramble program blocks",
           [](S& s, const V&) { s.device.scrambled = false; }),
    Switch("eeprom-scrambled", "unscramble EEPROM bytes too (key of the index's low byte)",
           [](S& s, const V&) { s.device.eeprom_scrambled = true; }),
    Text("link", "PATH", "make PATH a symbolic link to the device",
         [](S& s, const V& v) { s.link_path = v.text; }),
    Text("flash-hex", "PATH", nullptr, [](S& s, const V& v) { s.flash_hex = v.text; }),
    Text("eeprom-hex", "PATH", "Intel HEX written when devsim ends",
         [](S& s, const V& v) { s.eeprom_hex = v.text; }),
    Text("hex", "PATH", "flash and EEPROM in one Intel HEX, EEPROM at 0xF00000",
         [](S& s, const V& v) { s.combined_hex = v.text; }),
    Text("record", "PATH", "what the host sent before each answer and the answer's length",
         [](S& s, const V& v) { s.record = v.text; }),
};
// clang-format on
constexpr std::size_t kRowCount = sizeof kRows / sizeof kRows[0];

std::string Refusal(const std::string& why, const std::string& what) {
    return "devsim: " + why + ": " + what;
}

// A whole number in [row.min, row.max] and nothing else, in the row's base.
bool ParseNumber(const std::string& text, const OptionRow& row, long& out, std::string& error) {
    char* end = nullptr;
    errno = 0;
    const long v = std::strtol(text.c_str(), &end, row.base);
    if (errno != 0 || end == text.c_str() || *end != '\0') {
        error = Refusal("not a number", text);
        return false;
    }
    if (v < row.min || v > row.max) {
        error = Refusal("out of range " + std::to_string(row.min) + ".." + std::to_string(row.max),
                        text);
        return false;
    }
    out = v;
    return true;
}

// The option's argument as its row's kind says; false with `error` set when it is not.
bool ParseValue(const OptionRow& row, const char* arg, Value& value, std::string& error) {
    switch (row.kind) {
        case ValueKind::kNone:
            return true;
        case ValueKind::kText:
            value.text = arg;
            return true;
        case ValueKind::kNumber:
            return ParseNumber(arg, row, value.number, error);
        case ValueKind::kPair: {
            const char* comma = std::strchr(arg, ',');
            if (comma == nullptr) {
                error = Refusal(std::string("--") + row.name + " wants " + row.placeholder, arg);
                return false;
            }
            return ParseNumber(std::string(arg, comma), row, value.first, error) &&
                   ParseNumber(comma + 1, row, value.second, error);
        }
        case ValueKind::kList: {
            const std::string rest = arg;
            for (std::size_t at = 0;;) {
                const std::size_t comma = rest.find(',', at);
                long one = 0;
                if (!ParseNumber(rest.substr(at, comma == std::string::npos ? comma : comma - at),
                                 row, one, error))
                    return false;
                value.list.push_back(static_cast<std::uint8_t>(one));
                if (comma == std::string::npos) return true;
                at = comma + 1;
            }
        }
    }
    return false;
}

// PATH may be replaced only when it is nothing yet or a symbolic link (an earlier devsim's).
bool LinkPathFree(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) return errno == ENOENT;
    return S_ISLNK(st.st_mode);
}

}  // namespace

std::span<const OptionRow> OptionTable() {
    return kRows;
}

std::string UsageText() {
    std::string text = "usage: devsim [options]\n";
    std::string line;  // the options of the line being gathered
    for (const OptionRow& row : kRows) {
        if (!line.empty()) line += ' ';
        line += std::string("--") + row.name;
        if (row.placeholder != nullptr) line += std::string(" ") + row.placeholder;
        if (row.help == nullptr) continue;
        if (line.size() < kUsageColumn)
            line.resize(kUsageColumn, ' ');
        else
            line += kUsageGap;
        text += "  " + line + row.help + "\n";
        line.clear();
    }
    return text;
}

ParseResult ParseArguments(int argc, char** argv) {
    ParseResult result;
    std::vector<option> longs;
    for (std::size_t i = 0; i < kRowCount; ++i) {
        const int has_arg = kRows[i].kind == ValueKind::kNone ? no_argument : required_argument;
        longs.push_back({kRows[i].name, has_arg, nullptr, static_cast<int>(i)});
    }
    longs.push_back({"help", no_argument, nullptr, kHelpId});
    longs.push_back({nullptr, 0, nullptr, 0});
    optind = 0;  // starts over (a test parses many command lines)
    for (int c; (c = getopt_long(argc, argv, "", longs.data(), nullptr)) != -1;) {
        if (c == kHelpId) {
            result.outcome = ParseResult::kHelp;
            return result;
        }
        if (c < 0 || static_cast<std::size_t>(c) >= kRowCount) {  // getopt said what is wrong
            result.outcome = ParseResult::kRefused;
            result.usage = true;
            return result;
        }
        const OptionRow& row = kRows[c];
        Value value;
        if (!ParseValue(row, optarg, value, result.message)) {
            result.outcome = ParseResult::kRefused;
            return result;
        }
        row.set(result.settings, value);
    }
    if (optind < argc) {
        result.outcome = ParseResult::kRefused;
        result.message = Refusal("unexpected argument", argv[optind]);
    }
    return result;
}

std::string CheckPaths(const Settings& s) {
    // A HEX file that cannot be created is refused now, not after the whole run.
    for (const std::string* hex : {&s.flash_hex, &s.eeprom_hex, &s.combined_hex, &s.record}) {
        if (hex->empty()) continue;
        std::ofstream probe(*hex, std::ios::app);
        if (!probe)
            return Refusal(std::string("cannot create (") + std::strerror(errno) + ")", *hex);
    }
    // A regular file (a HEX dump, a document) standing where the link goes is never
    // deleted to make room.
    if (!s.link_path.empty() && !LinkPathFree(s.link_path))
        return Refusal("--link refuses to replace what is not a symbolic link", s.link_path);
    return {};
}

}  // namespace quillon::devsim
