// Windows port listing (being written).
#include "serial/ports.h"

namespace quillon::serial {

struct PortDeviceSet {};
PortPlaces PortPlaces::Default() {
    return PortPlaces{};
}
PortDeviceSet* OpenPortDeviceList(const PortPlaces&) {
    return nullptr;
}
int NextComPort(PortDeviceSet* set, std::string* port_name, std::string*) {
    return !set || !port_name ? -1 : 0;
}
void ClosePortDeviceList(PortDeviceSet*) {}
std::string ResolvePortDevice(int, const PortPlaces&) {
    return {};
}

}  // namespace quillon::serial
