#include "ui/stored_port.h"

#include <cstdint>

#include "serial/channel.h"
#include "serial/ports.h"

namespace quillon::ui {

std::int16_t StoredPortNumber(std::string_view text) {
    return static_cast<std::int16_t>(serial::ReadDecimal(text));
}

// The digits are counted without wrapping, so no long number passes.
bool StoredPortInRange(std::string_view text) {
    constexpr std::int64_t kLowest = -1;
    constexpr std::int64_t kHighest = serial::kHighestPortNumber;
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
    std::int64_t value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
        if ((value = value * 10 + (text[i] - '0')) > kHighest + 1) return false;
    if (negative) value = -value;
    return value >= kLowest && value <= kHighest;
}

void ReadRememberedPort(serial::PortSelection& ports, Edition edition, std::string_view text) {
    if (!StoredPortInRange(text)) text = {};
    if (editions::Of(edition).tells_missing_port) {
        if (text.empty()) {
            ports.selected_port = 0;
            ports.opened_port = -1;
        } else {
            ports.selected_port = StoredPortNumber(text);
            ports.opened_port = static_cast<std::int16_t>(ports.selected_port + 1);
        }
        return;
    }
    ports.selected_port = text.empty() ? 0 : StoredPortNumber(text);
    ports.opened_port = static_cast<std::int16_t>(ports.selected_port - 1);
}

}  // namespace quillon::ui
