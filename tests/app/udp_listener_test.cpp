// The "\P" listener on real sockets: the switch rule, the editions that have it, a burst
// of datagrams (the largest ones included) read and dropped by its own thread, a port
// already taken.
#include "app/udp_listener.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <vector>

namespace quillon::app {
namespace {

using namespace std::chrono_literals;

// Bound on the wait for the receive thread: far above its work, so only a hang trips it.
constexpr auto kHangCheck = 10s;
constexpr std::size_t kLargestDatagramBytes = 65507;  // the most an IPv4 datagram carries
constexpr int kBurst = 500;

TEST(UdpListener, TheSwitchIsTheFirstArgumentInAnyCase) {
    struct Row {
        std::vector<std::string> args;
        bool wanted;
    } const rows[] = {
        {{"\\P"}, true},       {{"\\p"}, true}, {{"\\P", "more"}, true}, {{}, false},
        {{"x", "\\P"}, false}, {{"/P"}, false}, {{"\\PP"}, false},       {{"P"}, false},
    };
    for (const Row& row : rows)
        EXPECT_EQ(WantsUdpListener(row.args), row.wanted) << testing::PrintToString(row.args);
}

TEST(UdpListener, OnlyTheUpdaterAndUpgradeEditionsListen) {
    for (ui::Edition e : {ui::Edition::Updater, ui::Edition::Upgrade, ui::Edition::Loader}) {
        ui::Shell shell;
        ui::CreateWindows(shell, e);
        auto listener = OpenUdpListener({"\\p"}, shell, 0);
        EXPECT_EQ(listener != nullptr, e != ui::Edition::Loader);
        EXPECT_EQ(bool(shell.notify_outcome), e != ui::Edition::Loader);
        ui::Shell without;
        ui::CreateWindows(without, e);
        EXPECT_EQ(OpenUdpListener({}, without, 0), nullptr);
    }
}

TEST(UdpListener, ABurstIsReadAndDroppedAndAPortTakenIsRefused) {
    const auto listener = UdpListener::Open(0);
    ASSERT_NE(listener, nullptr);
    ASSERT_NE(listener->port(), 0);
    EXPECT_EQ(UdpListener::Open(listener->port()), nullptr);  // the port is held

    const int s = ::socket(AF_INET, SOCK_DGRAM, 0);
    ASSERT_GE(s, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    to.sin_port = htons(listener->port());
    const std::vector<char> big(kLargestDatagramBytes, '\xff');
    int sent = 0;
    // Waits until the thread has read all but `behind` of the datagrams sent.
    auto drained = [&](int behind) {
        const auto start = std::chrono::steady_clock::now();
        while (listener->datagrams() + std::uint64_t(behind) < std::uint64_t(sent) &&
               std::chrono::steady_clock::now() - start < kHangCheck)
            std::this_thread::yield();
    };
    for (int i = 0; i < kBurst; ++i) {
        const bool largest = i % 50 == 0;
        // The kernel drops what the socket's buffer cannot hold, so the burst is kept
        // within it: a few small datagrams, or one of the largest, queued at a time.
        drained(largest ? 0 : 16);
        const std::size_t size = largest ? big.size() : std::size_t(i % 7);
        if (::sendto(s, big.data(), size, 0, reinterpret_cast<sockaddr*>(&to), sizeof to) >= 0)
            ++sent;
    }
    ::close(s);
    EXPECT_EQ(sent, kBurst);
    drained(0);
    EXPECT_EQ(listener->datagrams(), std::uint64_t(sent));
}

}  // namespace
}  // namespace quillon::app
