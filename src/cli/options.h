// The command line's arguments: a command and its options, checked before anything is
// opened.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "edition/edition.h"

namespace quillon::cli {

enum class Command { Ports, Images, Identify, Update, Help, Version };

struct Options {
    Command command = Command::Help;
    std::vector<std::string> ports;  // as given, in order
    std::optional<editions::Edition> edition;
    bool repeat = false;
    bool json = false;
    std::string log;  // empty: no log
};

struct Parsed {
    Options options;
    std::string error;  // not empty: the arguments are wrong, this says why
};

// Parses the arguments after the program name. Options may stand before or after the
// command; `--opt value` and `--opt=value` are both accepted. The commands and options are
// one table each, which also gives the usage text below.
Parsed ParseArguments(const std::vector<std::string>& args);

// The usage lines of the commands and of the options, help texts aligned in one column;
// `this_build_edition` names the edition used without --edition.
std::string CommandsUsage();
std::string OptionsUsage(std::string_view this_build_edition);

// A port as the user names it: "COM<n>" (any case, 1..257) or a device path.
struct PortName {
    std::string label;  // "COM5" or the path as given
    int number = -1;    // port number (COM<n> is n - 1); -1 for a path
    std::string path;   // the path when given as one
};
// Nullopt when `text` is neither a COM name in range nor a path.
std::optional<PortName> ParsePortName(const std::string& text);

}  // namespace quillon::cli
