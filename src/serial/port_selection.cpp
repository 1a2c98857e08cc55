#include "serial/port_selection.h"

namespace quillon::serial {

bool ApplySelectedPort(PortSelection& ports, ChannelTable& channels, OpenFailure* why) {
    if (ports.selected_port == ports.opened_port) return true;
    const std::int16_t previous = ports.opened_port;
    ports.opened_port = ports.selected_port;  // stands even if the open fails
    if (previous >= 0 && previous != ports.selected_port) channels.CloseChannel(previous);
    channels.CloseChannel(ports.selected_port);
    channels.OpenChannel(ports.selected_port, ports.baud_rate, kBootloaderLine.parity,
                         kBootloaderLine.stop_bits, kBootloaderLine.data_bits, 0);
    channels.SetControlLines(ports.selected_port, true);
    if (channels.FlushChannel(ports.selected_port) >= 0) return true;
    if (why) {
        const int port = ports.selected_port;
        const bool known = port >= 0 && port <= kHighestPortNumber;
        why->detail = known ? channels.record(port).refusal : std::string();
    }
    return false;
}

}  // namespace quillon::serial
