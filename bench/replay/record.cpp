#include "bench/replay/record.h"

#include <cctype>

namespace quillon::replay {
namespace {

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

std::optional<Exchange> ParseLine(const std::string& line) {
    const auto space = line.find(' ');
    if (space == std::string::npos || space % 2 != 0) return std::nullopt;
    Exchange e;
    for (std::size_t i = 0; i < space; i += 2) {
        const int hi = HexDigit(line[i]), lo = HexDigit(line[i + 1]);
        if (hi < 0 || lo < 0) return std::nullopt;
        e.send.push_back(static_cast<std::uint8_t>(hi * 16 + lo));
    }
    const std::string length = line.substr(space + 1);
    if (length.empty() || length.size() > 5) return std::nullopt;
    for (const char c : length)
        if (!std::isdigit(static_cast<unsigned char>(c))) return std::nullopt;
    e.answer = std::stoul(length);
    if (e.answer > kMaxAnswer || (e.send.empty() && e.answer == 0)) return std::nullopt;
    return e;
}

}  // namespace

std::optional<std::vector<Exchange>> ParseRecord(std::istream& in, std::string& error) {
    std::vector<Exchange> all;
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const auto e = ParseLine(line);
        if (!e) {
            error = "line " + std::to_string(number) + " is not \"HEX LENGTH\"";
            return std::nullopt;
        }
        all.push_back(*e);
    }
    if (all.empty()) {
        error = "no exchange recorded";
        return std::nullopt;
    }
    return all;
}

}  // namespace quillon::replay
