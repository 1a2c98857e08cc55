// Linux port listing (first cut: filled in by the COM-number scheme).
#include "serial/ports.h"

namespace quillon::serial {

struct PortDeviceSet {
    std::vector<PortEntry> entries;
    std::size_t position = 0;
};

PortPlaces PortPlaces::Default() {
    return PortPlaces{};
}

PortDeviceSet* OpenPortDeviceList(const PortPlaces&) {
    return new PortDeviceSet{};
}

int NextComPort(PortDeviceSet* set, std::string* port_name, std::string* friendly_name) {
    if (!set || !port_name) return -1;
    if (set->position >= set->entries.size()) {
        set->position = 0;
        return 0;
    }
    const PortEntry& e = set->entries[set->position++];
    *port_name = e.port_name;
    if (friendly_name) *friendly_name = e.friendly_name;
    return 1;
}

void ClosePortDeviceList(PortDeviceSet* set) {
    delete set;
}

std::string ResolvePortDevice(int, const PortPlaces&) {
    return {};
}

}  // namespace quillon::serial
