#include "cli/default_port.h"

namespace quillon::cli {
namespace {

std::string Com(int port) {
    return "COM" + std::to_string(port + 1);
}

}  // namespace

DefaultPortChoice ChooseUnrememberedPort(std::string_view edition_name, int default_port,
                                         const std::vector<serial::UsbAdapter>& adapters) {
    if (adapters.size() == 1)
        return {adapters.front().port, Com(adapters.front().port) +
                                           ": the only USB serial adapter (" +
                                           adapters.front().name + ")"};
    std::string message = Com(default_port) + ": the " + std::string(edition_name) +
                          " edition's default port; --port chooses another";
    if (!adapters.empty()) {
        message += " (USB serial adapters:";
        for (std::size_t i = 0; i < adapters.size(); ++i)
            message += (i ? ", " : " ") + Com(adapters[i].port) + " " + adapters[i].name;
        message += ")";
    }
    return {default_port, message};
}

}  // namespace quillon::cli
