#include "app/udp_listener.h"

#include <cctype>

namespace quillon::app {

bool WantsUdpListener(const std::vector<std::string>& args) {
    if (args.empty()) return false;
    const std::string& first = args.front();
    return first.size() == 2 && first[0] == '\\' &&
           std::toupper(static_cast<unsigned char>(first[1])) == 'P';
}

std::unique_ptr<UdpListener> OpenUdpListener(const std::vector<std::string>& args, ui::Shell& shell,
                                             std::uint16_t port) {
    if (!shell.facts().has_udp_listener || !WantsUdpListener(args)) return nullptr;
    auto listener = UdpListener::Open(port);
    if (listener) shell.notify_outcome = [](std::uint8_t) {};  // nothing is sent
    return listener;
}

}  // namespace quillon::app
