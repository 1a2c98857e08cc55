#include "cli/options.h"

#include <cctype>
#include <string_view>

#include "serial/ports.h"

namespace quillon::cli {
namespace {

constexpr std::string_view kComPrefix = "COM";

std::optional<Command> CommandNamed(std::string_view name) {
    if (name == "ports") return Command::Ports;
    if (name == "images") return Command::Images;
    if (name == "identify") return Command::Identify;
    if (name == "update") return Command::Update;
    return std::nullopt;
}

}  // namespace

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

Parsed ParseArguments(const std::vector<std::string>& args) {
    Parsed p;
    std::optional<Command> command;
    bool help = false, version = false;
    auto fail = [&p](std::string why) {
        if (p.error.empty()) p.error = std::move(why);
    };
    for (std::size_t i = 0; i < args.size() && p.error.empty(); ++i) {
        std::string arg = args[i];
        std::optional<std::string> inline_value;
        if (arg.rfind("--", 0) == 0) {
            if (const auto eq = arg.find('='); eq != std::string::npos) {
                inline_value = arg.substr(eq + 1);
                arg.resize(eq);
            }
        }
        auto value = [&]() -> std::optional<std::string> {
            if (inline_value) return inline_value;
            if (i + 1 < args.size()) return args[++i];
            fail(arg + " needs a value");
            return std::nullopt;
        };
        auto flag = [&](bool& target) {
            if (inline_value) fail(arg + " takes no value");
            target = true;
        };
        if (arg == "--help" || arg == "-h") {
            flag(help);
        } else if (arg == "--version") {
            flag(version);
        } else if (arg == "--repeat") {
            flag(p.options.repeat);
        } else if (arg == "--json") {
            flag(p.options.json);
        } else if (arg == "--port" || arg == "-p") {
            if (auto v = value()) p.options.ports.push_back(*v);
        } else if (arg == "--log") {
            if (auto v = value()) {
                if (v->empty()) fail("--log needs a file name");
                p.options.log = *v;
            }
        } else if (arg == "--edition") {
            if (auto v = value()) {
                p.options.edition = editions::Named(*v);
                if (!p.options.edition)
                    fail("unknown edition \"" + *v + "\" (updater, upgrade or loader)");
            }
        } else if (arg.size() > 1 && arg[0] == '-') {
            fail("unknown option " + arg);
        } else if (command) {
            fail("one command at a time (got \"" + arg + "\" after a command)");
        } else if ((command = CommandNamed(arg)); !command) {
            fail("unknown command \"" + arg + "\"");
        }
    }
    if (!p.error.empty()) return p;
    if (help) {
        p.options.command = Command::Help;
        return p;
    }
    if (version) {
        p.options.command = Command::Version;
        return p;
    }
    if (!command) {
        fail("no command given (ports, images, identify or update)");
        return p;
    }
    p.options.command = *command;
    const bool uses_port = *command == Command::Identify || *command == Command::Update;
    if (!uses_port && !p.options.ports.empty()) fail("--port belongs to identify and update");
    if (*command != Command::Update && p.options.repeat) fail("--repeat belongs to update");
    if (*command != Command::Update && !p.options.log.empty()) fail("--log belongs to update");
    if (*command == Command::Identify && p.options.ports.size() > 1)
        fail("identify takes one --port");
    for (std::size_t i = 0; i < p.options.ports.size() && p.error.empty(); ++i) {
        const auto name = ParsePortName(p.options.ports[i]);
        if (!name) {
            fail("not a port: \"" + p.options.ports[i] + "\" (give COM1..COM257 or a device path)");
            break;
        }
        for (std::size_t j = 0; j < i; ++j)
            if (ParsePortName(p.options.ports[j])->label == name->label)
                fail("port " + name->label + " given twice");
    }
    return p;
}

}  // namespace quillon::cli
