// The platform-free rules of the port listing.
#include <cctype>

#include "serial/ports.h"

namespace quillon::serial {

std::int32_t ReadDecimal(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    std::uint32_t value = 0;  // wraps: the low bits stay exact
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
        value = value * 10u + std::uint32_t(text[i] - '0');
    if (negative) value = 0u - value;
    return static_cast<std::int32_t>(value);
}

bool HasComPrefix(std::string_view name) {
    return name.size() >= 3 && std::tolower(static_cast<unsigned char>(name[0])) == 'c' &&
           std::tolower(static_cast<unsigned char>(name[1])) == 'o' &&
           std::tolower(static_cast<unsigned char>(name[2])) == 'm';
}

bool IsUsbInstanceId(std::string_view instance_id) {
    auto starts = [instance_id](std::string_view bus) {
        if (instance_id.size() <= bus.size()) return false;
        for (std::size_t i = 0; i < bus.size(); ++i)
            if (std::toupper(static_cast<unsigned char>(instance_id[i])) != bus[i]) return false;
        return instance_id[bus.size()] == '\\';
    };
    return starts("USB") || starts("FTDIBUS");
}

std::string WithoutPortSuffix(std::string_view friendly_name, std::string_view port_name) {
    const std::string suffix = " (" + std::string(port_name) + ")";
    if (friendly_name.size() > suffix.size() && friendly_name.ends_with(suffix))
        friendly_name.remove_suffix(suffix.size());
    return std::string(friendly_name);
}

std::vector<PortEntry> ListPorts(const PortPlaces& places) {
    std::vector<PortEntry> out;
    PortDeviceSet* set = OpenPortDeviceList(places);
    PortEntry e;
    while (NextComPort(set, &e.port_name, &e.friendly_name) == 1) out.push_back(e);
    ClosePortDeviceList(set);
    return out;
}

}  // namespace quillon::serial
