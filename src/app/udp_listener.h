// The UDP listener that the "\P" switch opens in the Updater and Upgrade editions. Nothing
// is defined for it to receive or send: it binds its port and reads and drops whatever
// arrives, on a thread of its own, so a burst of datagrams neither fills the socket nor
// reaches the windows. Each platform has its socket file (udp_listener_posix.cpp,
// udp_listener_win32.cpp); the switch and the edition rule are shared (udp_listener.cpp).
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "ui/windows.h"

namespace quillon::app {

inline constexpr std::uint16_t kUdpListenerPort = 3004;
// Room for the largest datagram IPv4 carries: none is cut short.
inline constexpr std::size_t kUdpReceiveBufferBytes = 65536;

class UdpListener {
public:
    // Binds `port` on every interface (0: any free port, for tests) and starts the receive
    // thread; null when the port cannot be bound (another program holds it) or the
    // platform's sockets cannot be used.
    static std::unique_ptr<UdpListener> Open(std::uint16_t port);
    // Stops the thread and closes the socket.
    virtual ~UdpListener() = default;

    // The port bound.
    virtual std::uint16_t port() const = 0;
    // Datagrams read and dropped so far.
    std::uint64_t datagrams() const { return datagrams_.load(); }

protected:
    std::atomic<std::uint64_t> datagrams_{0};
};

// Whether the program's arguments (the program's own name excluded) ask for the
// listener: the first one is "\P", in any case.
bool WantsUdpListener(const std::vector<std::string>& args);

// Opens the listener when the arguments ask for it and the edition has one (the Loader
// has none), and hooks the outcome notification to it (it sends nothing). Null otherwise,
// or when the port cannot be bound (the program runs on without it).
std::unique_ptr<UdpListener> OpenUdpListener(const std::vector<std::string>& args, ui::Shell& shell,
                                             std::uint16_t port = kUdpListenerPort);

}  // namespace quillon::app
