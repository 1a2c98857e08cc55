// The port-selection state (which port the user chose and which one was last opened) and
// the opening of the bootloader line on it. The messages about a port (ui/port_selection.h)
// and the engine's search build on ApplySelectedPort.
#pragma once

#include <cstdint>
#include <string>

#include "serial/channel.h"

namespace quillon::serial {

struct PortSelection {
    std::int16_t selected_port = 0;  // the user's choice: 0 = COM1, negative = none
    // The port opened last: while it differs from selected_port (-1 always does), the next
    // ApplySelectedPort opens the selected one.
    std::int16_t opened_port = 0;
    std::uint32_t baud_rate = 115200;  // bit/s: every bootloader speaks this one rate
    // The port a device search opened for its run (search and session); -1 between runs.
    // The run talks to it until it ends, whatever is chosen meanwhile: a choice made
    // during a run is kept in selected_port and opened by the next search.
    std::int16_t run_port = -1;
};

// The line every bootloader speaks: 115200 bit/s, 8 data bits, no parity, two stop bits.
inline constexpr LineSettings kBootloaderLine{115200, 0, 2, 8};

// Why a port could not be used; `detail` is empty when nothing more is known.
struct OpenFailure {
    std::string detail;
};

// Opens the selected port as the bootloader line when it is not the one opened last
// (closing that one), with DTR and RTS dropped. False when the port cannot be used; `why`
// then says what stood in the way.
bool ApplySelectedPort(PortSelection& ports, ChannelTable& channels, OpenFailure* why = nullptr);

}  // namespace quillon::serial
