// quillon_ports: prints the serial ports that the "Setup" dialog would list, one a line,
// as "COM<n>  <friendly name>", so that a user can see which number a device got.
#include <cstdio>

#include "serial/ports.h"

int main() {
    using namespace quillon::serial;
    const auto ports = ListPorts();
    for (const PortEntry& p : ports)
        std::printf("%-7s %s\n", p.port_name.c_str(), p.friendly_name.c_str());
    if (ports.empty()) std::printf("no serial port found\n");
    return 0;
}
