// The port a run takes when none is given and the edition remembers none: the
// technician's cable when it is the only USB serial adapter present, else the edition's
// default port. Either way standard error says which port and why.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "serial/ports.h"

namespace quillon::cli {

struct DefaultPortChoice {
    int port = 0;         // port number (0 = COM1)
    std::string message;  // one line for standard error, without the newline
};

// One adapter: "COM<n>: the only USB serial adapter (<its name>)". None or several: the
// edition's `default_port`, "COM1: the <edition> edition's default port; --port chooses
// another", followed by the adapters present when there are several.
DefaultPortChoice ChooseUnrememberedPort(std::string_view edition_name, int default_port,
                                         const std::vector<serial::UsbAdapter>& adapters);

}  // namespace quillon::cli
