// The listener on Winsock: the receive thread waits on the socket's read event and on a
// stop event that the destructor sets, so stopping never waits for a datagram.
#include <winsock2.h>
// winsock2.h before windows.h
#include <windows.h>

#include <thread>
#include <vector>

#include "app/udp_listener.h"

namespace quillon::app {
namespace {

constexpr WORD kWinsockVersion = MAKEWORD(2, 2);

class Win32UdpListener : public UdpListener {
public:
    Win32UdpListener(SOCKET socket, WSAEVENT readable, HANDLE stop, std::uint16_t port)
        : socket_(socket), readable_(readable), stop_(stop), port_(port) {
        thread_ = std::thread([this] { receive(); });
    }
    ~Win32UdpListener() override {
        SetEvent(stop_);
        thread_.join();
        closesocket(socket_);
        WSACloseEvent(readable_);
        CloseHandle(stop_);
        WSACleanup();
    }
    std::uint16_t port() const override { return port_; }

private:
    void receive() {
        std::vector<char> buffer(kUdpReceiveBufferBytes);
        const HANDLE events[2] = {stop_, readable_};
        for (;;) {
            if (WaitForMultipleObjects(2, events, FALSE, INFINITE) != WAIT_OBJECT_0 + 1) return;
            WSAResetEvent(readable_);
            // Everything queued (the socket does not block once WSAEventSelect is set). A
            // datagram longer than the buffer comes cut short with WSAEMSGSIZE: dropped too.
            for (;;) {
                const int got = recv(socket_, buffer.data(), int(buffer.size()), 0);
                if (got == SOCKET_ERROR && WSAGetLastError() != WSAEMSGSIZE) break;
                ++datagrams_;
            }
        }
    }

    SOCKET socket_;
    WSAEVENT readable_;
    HANDLE stop_;
    std::uint16_t port_;
    std::thread thread_;
};

}  // namespace

std::unique_ptr<UdpListener> UdpListener::Open(std::uint16_t port) {
    WSADATA data;
    if (WSAStartup(kWinsockVersion, &data) != 0) return nullptr;
    const SOCKET s = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    if (s == INVALID_SOCKET) {
        WSACleanup();
        return nullptr;
    }
    // Another program's socket on the port is not taken over.
    BOOL exclusive = TRUE;
    setsockopt(s, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&exclusive),
               sizeof exclusive);
    const int size = int(kUdpReceiveBufferBytes);
    setsockopt(s, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&size), sizeof size);
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_addr.s_addr = htonl(INADDR_ANY);
    at.sin_port = htons(port);
    int len = sizeof at;
    const WSAEVENT readable = WSACreateEvent();
    const HANDLE stop = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (bind(s, reinterpret_cast<sockaddr*>(&at), sizeof at) != 0 ||
        getsockname(s, reinterpret_cast<sockaddr*>(&at), &len) != 0 ||
        readable == WSA_INVALID_EVENT || !stop || WSAEventSelect(s, readable, FD_READ) != 0) {
        closesocket(s);
        if (readable != WSA_INVALID_EVENT) WSACloseEvent(readable);
        if (stop) CloseHandle(stop);
        WSACleanup();
        return nullptr;
    }
    return std::make_unique<Win32UdpListener>(s, readable, stop, ntohs(at.sin_port));
}

}  // namespace quillon::app
