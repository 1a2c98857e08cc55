#include "cli/options.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <string_view>

#include "serial/ports.h"

namespace quillon::cli {
namespace {

constexpr std::string_view kComPrefix = "COM";
constexpr std::size_t kUsageColumn = 23;  // where the help texts start, after two spaces
constexpr std::string_view kUsageIndent = "  ";
constexpr std::string_view kEditionMark = "{edition}";  // the build's own edition, in help

// Bits of the commands an option belongs to.
enum CommandBit : unsigned {
    kPortsBit = 1u << static_cast<unsigned>(Command::Ports),
    kImagesBit = 1u << static_cast<unsigned>(Command::Images),
    kIdentifyBit = 1u << static_cast<unsigned>(Command::Identify),
    kUpdateBit = 1u << static_cast<unsigned>(Command::Update),
};
constexpr unsigned kAnyCommand = ~0u;

struct CommandRow {
    std::string_view name;
    Command command;
    std::string_view synopsis;  // the name and what it takes, in the usage text
    std::string_view help;      // '\n' starts a continuation line
};

constexpr std::array<CommandRow, 4> kCommands = {{
    {"ports", Command::Ports, "ports", "list the serial ports: COM number, device, name"},
    {"images", Command::Images, "images", "list the firmware images this build carries"},
    {"identify", Command::Identify, "identify --port P",
     "find the bootloader on P and print its report (writes nothing)"},
    {"update", Command::Update, "update --port P ...",
     "program the board on P; --port may be given several times,\neach port runs on its own"},
}};

// What the parse gathers besides the options the commands run with.
struct ParseState {
    Options options;
    bool help = false;
    bool version = false;
};

// Applies an option's value (empty for a switch); the refusal, empty when all is well.
using Setter = std::string (*)(ParseState&, const std::string& value);

struct OptionRow {
    std::string_view name;         // "--port"
    std::string_view alias;        // "-p"; empty: none
    bool alias_in_usage;           // "-h" works but the usage line names --help only
    std::string_view placeholder;  // the value's name in the usage text; empty: a switch
    unsigned commands;             // the commands it belongs to
    // The usage text ('\n' starts a continuation line); nullptr: this option shares the
    // next row's line. Empty: the line says no more than the options' names.
    const char* help;
    Setter set;
};

using P = ParseState;
using V = const std::string&;

// clang-format off
constexpr std::array<OptionRow, 7> kOptions = {{
    {"--port", "-p", true, "P", kIdentifyBit | kUpdateBit,
     "COM1..COM257 or a device path; without it, the edition's\nremembered port",
     [](P& p, V v) { p.options.ports.push_back(v); return std::string(); }},
    {"--edition", "", false, "E", kAnyCommand,
     "updater, upgrade or loader: identify byte, texts and remembered\n"
     "port of that edition (this build: {edition})",
     [](P& p, V v) {
         p.options.edition = editions::Named(v);
         return p.options.edition ? std::string()
                                  : "unknown edition \"" + v + "\" (updater, upgrade or loader)";
     }},
    {"--repeat", "", false, "", kUpdateBit,
     "update: wait for the next board, program it, log it, again,\n"
     "until Ctrl-C (a second Ctrl-C ends at once)",
     [](P& p, V) { p.options.repeat = true; return std::string(); }},
    {"--log", "", false, "FILE", kUpdateBit, "update: append one JSON line per board to FILE",
     [](P& p, V v) {
         p.options.log = v;
         return v.empty() ? std::string("--log needs a file name") : std::string();
     }},
    {"--json", "", false, "", kAnyCommand, "every event as one JSON line on standard output",
     [](P& p, V) { p.options.json = true; return std::string(); }},
    {"--help", "-h", false, "", kAnyCommand, nullptr,
     [](P& p, V) { p.help = true; return std::string(); }},
    {"--version", "", false, "", kAnyCommand, "",
     [](P& p, V) { p.version = true; return std::string(); }},
}};
// clang-format on

const OptionRow* OptionNamed(std::string_view arg) {
    for (const OptionRow& row : kOptions)
        if (arg == row.name || (!row.alias.empty() && arg == row.alias)) return &row;
    return nullptr;
}

std::optional<Command> CommandNamed(std::string_view name) {
    for (const CommandRow& row : kCommands)
        if (name == row.name) return row.command;
    return std::nullopt;
}

bool Belongs(unsigned commands, Command command) {
    return (commands >> static_cast<unsigned>(command) & 1u) != 0;
}

// "a, b or c" (`last` between the last two), the names of the commands in `commands`.
std::string CommandList(unsigned commands, std::string_view last) {
    std::vector<std::string_view> names;
    for (const CommandRow& row : kCommands)
        if (Belongs(commands, row.command)) names.push_back(row.name);
    std::string text;
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (i > 0) text += i + 1 == names.size() ? std::string(last) : std::string(", ");
        text += names[i];
    }
    return text;
}

// One usage entry: `head` padded to the help column, then `help`, whose continuation lines
// start in that column too.
void AddUsageLine(std::string& text, std::string head, std::string_view help) {
    text += kUsageIndent;
    if (help.empty()) {
        text += head + "\n";
        return;
    }
    head.resize(std::max(head.size(), kUsageColumn), ' ');
    text += head;
    for (std::size_t at = 0;;) {
        const std::size_t nl = help.find('\n', at);
        text += help.substr(at, nl == std::string_view::npos ? nl : nl - at);
        text += '\n';
        if (nl == std::string_view::npos) return;
        text += std::string(kUsageIndent.size() + kUsageColumn, ' ');
        at = nl + 1;
    }
}

}  // namespace

std::string CommandsUsage() {
    std::string text;
    for (const CommandRow& row : kCommands) AddUsageLine(text, std::string(row.synopsis), row.help);
    return text;
}

std::string OptionsUsage(std::string_view this_build_edition) {
    std::string text;
    std::string head;  // the options of the line being gathered
    for (const OptionRow& row : kOptions) {
        if (!head.empty()) head += ", ";
        // "--port P": the option and the name of its value.
        const auto add_spelling = [&row, &head](std::string_view name) {
            head.append(name);
            if (!row.placeholder.empty()) head.append(" ").append(row.placeholder);
        };
        add_spelling(row.name);
        if (row.alias_in_usage) {
            head.append(", ");
            add_spelling(row.alias);
        }
        if (row.help == nullptr) continue;
        std::string help = row.help;
        if (const auto mark = help.find(kEditionMark); mark != std::string::npos)
            help.replace(mark, kEditionMark.size(), this_build_edition);
        AddUsageLine(text, head, help);
        head.clear();
    }
    return text;
}

std::optional<PortName> ParsePortName(const std::string& text) {
    // Windows' own spelling of a port device names its COM number.
    constexpr std::string_view kWin32DevicePrefix = "\\\\.\\";
    if (text.rfind(kWin32DevicePrefix, 0) == 0)
        return ParsePortName(text.substr(kWin32DevicePrefix.size()));
    if (text.size() > kComPrefix.size() && serial::HasComPrefix(text)) {
        const std::string digits = text.substr(kComPrefix.size());
        if (digits.size() > 3 || digits.find_first_not_of("0123456789") != std::string::npos)
            return std::nullopt;
        const int n = std::stoi(digits);
        if (n < 1 || n > serial::kHighestComNumber) return std::nullopt;
        return PortName{"COM" + std::to_string(n), n - 1, {}};
    }
    if (text.find('/') != std::string::npos || text.find('\\') != std::string::npos)
        return PortName{text, -1, text};
    return std::nullopt;
}

namespace {

// What the arguments said, read one after the other; stops at the first refusal.
struct Reading {
    ParseState state;
    std::optional<Command> command;
    std::array<bool, kOptions.size()> given{};  // by row of kOptions
    std::string error;
    void fail(std::string why) {
        if (error.empty()) error = std::move(why);
    }
};

Reading ReadArguments(const std::vector<std::string>& args) {
    Reading r;
    for (std::size_t i = 0; i < args.size() && r.error.empty(); ++i) {
        std::string arg = args[i];
        std::optional<std::string> inline_value;
        if (arg.rfind("--", 0) == 0) {
            if (const auto eq = arg.find('='); eq != std::string::npos) {
                inline_value = arg.substr(eq + 1);
                arg.resize(eq);
            }
        }
        if (arg.size() > 1 && arg[0] == '-') {
            const OptionRow* row = OptionNamed(arg);
            if (row == nullptr) {
                r.fail("unknown option " + arg);
                break;
            }
            std::string value;
            if (row->placeholder.empty()) {
                if (inline_value) r.fail(arg + " takes no value");
            } else if (inline_value) {
                value = *inline_value;
            } else if (i + 1 < args.size()) {
                value = args[++i];
            } else {
                r.fail(arg + " needs a value");
            }
            if (!r.error.empty()) break;
            r.fail(row->set(r.state, value));
            r.given[static_cast<std::size_t>(row - kOptions.data())] = true;
        } else if (r.command) {
            r.fail("one command at a time (got \"" + arg + "\" after a command)");
        } else if ((r.command = CommandNamed(arg)); !r.command) {
            r.fail("unknown command \"" + arg + "\"");
        }
    }
    return r;
}

// Every port a name of one, none named twice; the refusal, empty when all is well.
std::string CheckPorts(const std::vector<std::string>& ports) {
    for (std::size_t i = 0; i < ports.size(); ++i) {
        const auto name = ParsePortName(ports[i]);
        if (!name) return "not a port: \"" + ports[i] + "\" (give COM1..COM257 or a device path)";
        for (std::size_t j = 0; j < i; ++j)
            if (ParsePortName(ports[j])->label == name->label)
                return "port " + name->label + " given twice";
    }
    return {};
}

}  // namespace

Parsed ParseArguments(const std::vector<std::string>& args) {
    Reading r = ReadArguments(args);
    Parsed p{std::move(r.state.options), std::move(r.error)};
    auto fail = [&p](std::string why) {
        if (p.error.empty()) p.error = std::move(why);
    };
    if (!p.error.empty()) return p;
    if (r.state.help || r.state.version) {
        p.options.command = r.state.help ? Command::Help : Command::Version;
        return p;
    }
    if (!r.command) {
        fail("no command given (" + CommandList(kAnyCommand, " or ") + ")");
        return p;
    }
    const Command command = p.options.command = *r.command;
    for (std::size_t row = 0; row < kOptions.size(); ++row)
        if (r.given[row] && !Belongs(kOptions[row].commands, command))
            fail(std::string(kOptions[row].name) + " belongs to " +
                 CommandList(kOptions[row].commands, " and "));
    if (command == Command::Identify && p.options.ports.size() > 1)
        fail("identify takes one --port");
    fail(CheckPorts(p.options.ports));
    return p;
}

}  // namespace quillon::cli
