// The port-selection state: which port the user chose and which one was last
// opened. The operations that show messages (ApplySelectedPort, ShowPortPanel) live in
// ui/port_selection.h.
#pragma once

#include <cstdint>

namespace quillon::serial {

struct PortSelection {
    std::int16_t selected_port = 0;    // SelectedPort: 0 = COM1, negative = no port
    std::int16_t opened_port = 0;      // OpenedPort: any other value than selected forces an
                                       // open at the next ApplySelectedPort; -1 forces it
    std::uint32_t baud_rate = 115200;  // BaudRate: never changed
    // The port a device search opened for its run (search and session); -1 between runs.
    // The run talks to it until it ends, whatever is chosen meanwhile: a choice made
    // during a run is kept in selected_port and opened by the next search.
    std::int16_t run_port = -1;
};

}  // namespace quillon::serial
