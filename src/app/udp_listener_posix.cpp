// The listener on BSD sockets: the receive thread blocks in poll() on the socket and on a
// pipe that the destructor writes to, so stopping never waits for a datagram.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <thread>
#include <vector>

#include "app/udp_listener.h"

namespace quillon::app {
namespace {

class PosixUdpListener : public UdpListener {
public:
    PosixUdpListener(int socket, int wake_read, int wake_write, std::uint16_t port)
        : socket_(socket), wake_read_(wake_read), wake_write_(wake_write), port_(port) {
        thread_ = std::thread([this] { receive(); });
    }
    ~PosixUdpListener() override {
        const char stop = 1;
        while (::write(wake_write_, &stop, 1) < 0 && errno == EINTR) {
        }
        thread_.join();
        ::close(socket_);
        ::close(wake_read_);
        ::close(wake_write_);
    }
    std::uint16_t port() const override { return port_; }

private:
    void receive() {
        std::vector<char> buffer(kUdpReceiveBufferBytes);
        for (;;) {
            pollfd fds[2] = {{socket_, POLLIN, 0}, {wake_read_, POLLIN, 0}};
            if (::poll(fds, 2, -1) < 0) {
                if (errno == EINTR) continue;
                return;
            }
            if (fds[1].revents) return;
            // Everything queued, without blocking; a datagram is read whole and dropped.
            while (::recv(socket_, buffer.data(), buffer.size(), MSG_DONTWAIT) >= 0) ++datagrams_;
        }
    }

    int socket_, wake_read_, wake_write_;
    std::uint16_t port_;
    std::thread thread_;
};

}  // namespace

std::unique_ptr<UdpListener> UdpListener::Open(std::uint16_t port) {
    const int s = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (s < 0) return nullptr;
    const int size = static_cast<int>(kUdpReceiveBufferBytes);
    ::setsockopt(s, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_addr.s_addr = htonl(INADDR_ANY);
    at.sin_port = htons(port);
    socklen_t len = sizeof at;
    int wake[2];
    if (::bind(s, reinterpret_cast<sockaddr*>(&at), sizeof at) != 0 ||
        ::getsockname(s, reinterpret_cast<sockaddr*>(&at), &len) != 0 ||
        ::pipe2(wake, O_CLOEXEC) != 0) {
        ::close(s);
        return nullptr;
    }
    return std::make_unique<PosixUdpListener>(s, wake[0], wake[1], ntohs(at.sin_port));
}

}  // namespace quillon::app
