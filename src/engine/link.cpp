#include "engine/link.h"

namespace quillon::engine {
namespace {

// Waits in slices of 5 ms until `deadline` or until `done` says the awaited answer is
// there. Input wakes a slice early; a wake that brought no bytes (a device that hung up
// keeps its handle readable) makes the rest of that slice a plain wait, so the loop never
// spins. `done` runs after every read; a nonzero value ends the wait.
template <typename Done>
int SliceWait(Engine& e, int slices, Done done) {
    const Clock::time_point start = e.pump.now();
    for (int i = 1; i <= slices; ++i) {
        const Clock::time_point slice_end = start + i * kSlice;
        bool wake_on_input = true;
        for (;;) {
            const Clock::time_point t = e.pump.now();
            if (t < slice_end) e.pump.wait(slice_end - t, /*process_ui=*/true, wake_on_input);
            const int n = PollReply(e);
            if (const int r = done()) return r;
            if (e.pump.now() >= slice_end) break;
            if (n == 0) wake_on_input = false;
        }
    }
    return 0;
}

}  // namespace

std::int16_t LinkPort(const Engine& e) {
    return e.ports.run_port >= 0 ? e.ports.run_port : e.ports.selected_port;
}

int PollReply(Engine& e) {
    const int port = LinkPort(e);
    if (!e.channels.IsOpen(port)) return 0;
    const std::uint32_t n = e.channels.ReadChannel(port, std::span<std::uint8_t>(e.receive));
    const std::size_t used = n < e.receive.size() ? n : e.receive.size();
    e.parser.Feed(std::span<const std::uint8_t>(e.receive.data(), used));
    return static_cast<int>(used);
}

void DrainInput(Engine& e) {
    const int port = LinkPort(e);
    if (!e.channels.IsOpen(port)) return;
    for (int i = 0; i < kDrainMaxReads; ++i)
        if (e.channels.ReadChannel(port, std::span<std::uint8_t>(e.receive)) == 0) return;
}

void DiscardInput(Engine& e) {
    const int port = LinkPort(e);
    if (!e.channels.IsOpen(port)) return;
    e.channels.ReadChannel(port, std::span<std::uint8_t>(e.receive));
}

int WaitReply(Engine& e, int ms) {
    const int slices = ms / static_cast<int>(kSlice.count());
    return SliceWait(e, slices, [&e]() -> int {
        if (e.events.TakeStopRequested()) return kReplyStop;
        if (e.parser.AckSeen) {
            e.parser.AckSeen = 0;
            return kReplyAck;
        }
        if (e.parser.NakSeen) {
            e.parser.NakSeen = 0;
            return kReplyNak;
        }
        if (e.channels.LineGone(LinkPort(e))) return kReplyLineGone;
        return kReplyTimeout;
    });
}

void WriteBytes(Engine& e, std::span<const std::uint8_t> bytes) {
    e.channels.WriteChannel(LinkPort(e), bytes);
}

LinkResult SendPacket(Engine& e, std::span<std::uint8_t> packet, int n) {
    if (n < 0 || static_cast<std::size_t>(n) >= packet.size()) return LinkNoResponse;
    const auto count = static_cast<std::size_t>(n);
    packet[count] = Checksum(packet.first(count));
    for (int resends = 0;; ++resends) {
        e.parser.AckSeen = 0;
        e.parser.NakSeen = 0;
        WriteBytes(e, packet.first(count + 1));
        switch (WaitReply(e, kPacketWaitMs)) {
            case kReplyAck:
                return LinkOk;
            case kReplyStop:
                return LinkUserAbort;
            case kReplyTimeout:
            case kReplyLineGone:
                return LinkNoResponse;
            default:
                break;
        }
        e.events.Resend(resends);
        if (resends >= kMaxResends) return LinkChecksumError;
    }
}

}  // namespace quillon::engine
