#include "engine/link.h"

namespace quillon::engine {
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

Reply WaitReply(Engine& e, int ms) {
    const int slices = ms / static_cast<int>(kSlice.count());
    return WaitSlices(e.pump, slices, /*wake_on_input=*/true, [&e] {
        const bool read = PollReply(e) > 0;
        if (e.events.TakeStopRequested()) return SliceStep<Reply>{Reply::Stop, read};
        if (const Reply r = e.parser.TakeReply(); r != Reply::None)
            return SliceStep<Reply>{r, read};
        if (e.channels.LineGone(LinkPort(e))) return SliceStep<Reply>{Reply::LineGone, read};
        return SliceStep<Reply>{Reply::None, read};
    });
}

void WriteBytes(Engine& e, std::span<const std::uint8_t> bytes) {
    e.channels.WriteChannel(LinkPort(e), bytes);
    e.pump.written();
}

LinkResult SendPacket(Engine& e, std::span<std::uint8_t> packet, int n) {
    if (n < 0 || static_cast<std::size_t>(n) >= packet.size()) return LinkNoResponse;
    const auto count = static_cast<std::size_t>(n);
    packet[count] = Checksum(packet.first(count));
    for (int resends = 0;; ++resends) {
        e.parser.ExpectReply();
        WriteBytes(e, packet.first(count + 1));
        switch (WaitReply(e, kPacketWaitMs)) {
            case Reply::Ack:
                return LinkOk;
            case Reply::Stop:
                return LinkUserAbort;
            case Reply::None:
            case Reply::LineGone:
                return LinkNoResponse;
            case Reply::Nak:
                break;
        }
        e.events.Resend(resends);
        if (resends >= kMaxResends) return LinkChecksumError;
    }
}

}  // namespace quillon::engine
