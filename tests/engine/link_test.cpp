#include "engine/link.h"

#include <gtest/gtest.h>

#include "tests/engine/engine_rig.h"

namespace quillon::engine {
namespace {

using namespace std::chrono_literals;
using testing::Rig;

Clock::duration Elapsed(Rig& r, Clock::time_point since) {
    return r.pump.now() - since;
}

// An EEPROM packet in the boot packet, ready for SendPacket (5 bytes + checksum).
int BuildEeprom(Engine& e, std::uint8_t index, std::uint8_t value) {
    e.packet.Reset();
    const std::uint8_t p[] = {0x40, index, value, 0x01, 0x00};
    std::copy(std::begin(p), std::end(p), e.packet.bytes.begin());
    return 5;
}

TEST(WaitReply, SliceArithmetic) {
    struct Row {
        int ms;
        Clock::duration waited;
    };
    for (const Row& row : {Row{0, 0ms}, Row{3, 0ms}, Row{4, 0ms}, Row{5, 5ms}, Row{7, 5ms},
                           Row{100, 100ms}, Row{2000, 2000ms}}) {
        Rig r;
        r.Open();
        const auto t0 = r.pump.now();
        EXPECT_EQ(WaitReply(r.engine, row.ms), kReplyTimeout) << row.ms;
        EXPECT_EQ(Elapsed(r, t0), row.waited) << row.ms;
    }
}

// The device answers `delay` after the packet; the wait ends on the answer, and a
// time-out is never shorter than the whole wait.
TEST(WaitReply, ReplyEndsTheWaitAtOnceAndTheDeadlineHolds) {
    struct Row {
        Clock::duration delay;
        int expected;
        Clock::duration returned_after;
    };
    const Row rows[] = {
        {0ms, kReplyAck, 0ms},
        {12300us, kReplyAck, 12300us},  // not rounded up to the next slice
        {95ms, kReplyAck, 95ms},        // deadline minus one slice
        {100ms, kReplyAck, 100ms},      // at the deadline
        {100ms + 1us, kReplyTimeout, 100ms},
    };
    for (const Row& row : rows) {
        devsim::Options o;
        o.answer_delay = std::chrono::duration_cast<devsim::Nanos>(row.delay);
        Rig r(o);
        r.Open();
        const int n = BuildEeprom(r.engine, 1, 2);
        r.engine.packet.bytes[n] = Checksum(std::span(r.engine.packet.bytes).first(n));
        const auto t0 = r.pump.now();
        WriteBytes(r.engine, std::span(r.engine.packet.bytes).first(n + 1));
        EXPECT_EQ(WaitReply(r.engine, 100), row.expected);
        EXPECT_EQ(Elapsed(r, t0), row.returned_after);
    }
}

TEST(WaitReply, StopIsObservedAtTheFirstCheckAndCleared) {
    Rig r;
    r.Open();
    r.ui.stop = true;
    const auto t0 = r.pump.now();
    EXPECT_EQ(WaitReply(r.engine, 2000), kReplyStop);
    EXPECT_EQ(Elapsed(r, t0), 5ms);
    EXPECT_FALSE(r.ui.stop);
}

TEST(WaitReply, StopWinsOverAckAndAckOverNak) {
    Rig r;
    r.Open();
    r.engine.parser.AckSeen = 1;
    r.engine.parser.NakSeen = 1;
    r.ui.stop = true;
    EXPECT_EQ(WaitReply(r.engine, 100), kReplyStop);
    EXPECT_EQ(WaitReply(r.engine, 100), kReplyAck);
    EXPECT_EQ(r.engine.parser.NakSeen, 1);  // left for the next writer to clear
    EXPECT_EQ(WaitReply(r.engine, 100), kReplyNak);
}

TEST(WaitReply, StopPressedDuringTheWait) {
    Rig r;
    r.Open();
    r.pump.set_ui_hook([&r](Clock::time_point t) {
        if (t >= Clock::time_point(37ms)) r.ui.stop = true;
    });
    EXPECT_EQ(WaitReply(r.engine, 2000), kReplyStop);
    EXPECT_EQ(r.pump.now(), Clock::time_point(40ms));  // the end of the slice it fell in
}

TEST(WaitReply, ClosedPortRunsToTheTimeout) {
    Rig r;  // never opened
    EXPECT_EQ(PollReply(r.engine), 0);
    const auto t0 = r.pump.now();
    EXPECT_EQ(WaitReply(r.engine, 100), kReplyTimeout);
    EXPECT_EQ(Elapsed(r, t0), 100ms);
}

struct ResendCase {
    const char* name;
    int reject_first;
    LinkResult expected;
    int transmissions;
    std::vector<std::string> resends;
};
void PrintTo(const ResendCase& c, std::ostream* os) {
    *os << c.name;
}

class SendPacketResends : public ::testing::TestWithParam<ResendCase> {};

TEST_P(SendPacketResends, CountsAndShowsResends) {
    const ResendCase& c = GetParam();
    devsim::Options o;
    o.reject.first_k = c.reject_first;
    Rig r(o);
    r.Open();
    const int n = BuildEeprom(r.engine, 5, 0xAA);
    EXPECT_EQ(SendPacket(r.engine, r.engine.packet.bytes, n), c.expected);
    EXPECT_EQ(r.engine.packet.bytes[5], 0x10);  // the checksum went in after the packet
    EXPECT_EQ(r.device->stats().packets, c.transmissions);
    EXPECT_EQ(r.ui.Panels(PanelSlot::ActivityPanel), c.resends);
    for (const auto& e : r.ui.log) {
        if (e.what == "panel" || e.what == "repaint") {
            EXPECT_EQ(e.target, &r.ui.main_bar);  // always the main window's bar
        }
    }
    EXPECT_EQ(r.ui.Of("repaint").size(), c.resends.size());
}

INSTANTIATE_TEST_SUITE_P(
    Table, SendPacketResends,
    ::testing::Values(
        ResendCase{"Accepted", 0, LinkOk, 1, {}},
        ResendCase{"RejectedOnce", 1, LinkOk, 2, {"Resend 0"}},
        ResendCase{
            "RejectedFourTimes", 4, LinkOk, 5, {"Resend 0", "Resend 1", "Resend 2", "Resend 3"}},
        ResendCase{"RejectedFiveTimes",
                   5,
                   LinkChecksumError,
                   5,
                   {"Resend 0", "Resend 1", "Resend 2", "Resend 3", "Resend 4"}},
        ResendCase{"RejectedAlways",
                   1000,
                   LinkChecksumError,
                   5,
                   {"Resend 0", "Resend 1", "Resend 2", "Resend 3", "Resend 4"}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(SendPacket, NoAnswerStopAndHangUp) {
    {
        devsim::Options o;
        o.ignore.first_k = 1;
        Rig r(o);
        r.Open();
        const auto t0 = r.pump.now();
        EXPECT_EQ(SendPacket(r.engine, r.engine.packet.bytes, BuildEeprom(r.engine, 0, 0)),
                  LinkNoResponse);
        EXPECT_EQ(Elapsed(r, t0), 2000ms);
        // The next packet is answered again.
        EXPECT_EQ(SendPacket(r.engine, r.engine.packet.bytes, BuildEeprom(r.engine, 1, 0)), LinkOk);
    }
    {
        Rig r;
        r.Open();
        r.ui.stop = true;
        EXPECT_EQ(SendPacket(r.engine, r.engine.packet.bytes, BuildEeprom(r.engine, 0, 0)),
                  LinkUserAbort);
    }
    {
        devsim::Options o;
        o.hang_up_after = 1;
        Rig r(o);
        r.Open();
        EXPECT_EQ(SendPacket(r.engine, r.engine.packet.bytes, BuildEeprom(r.engine, 0, 0)), LinkOk);
        // The line is gone: the wait ends in its first slice, not after 2000 ms.
        const auto t0 = r.pump.now();
        EXPECT_EQ(SendPacket(r.engine, r.engine.packet.bytes, BuildEeprom(r.engine, 1, 0)),
                  LinkNoResponse);
        EXPECT_LE(Elapsed(r, t0), kSlice);
        EXPECT_EQ(WaitReply(r.engine, 100), kReplyLineGone);
    }
}

TEST(SendPacket, RefusesAPacketWithoutRoomForTheChecksum) {
    Rig r;
    r.Open();
    std::uint8_t small[5] = {0x40, 0, 0, 1, 0};
    EXPECT_EQ(SendPacket(r.engine, small, 5), LinkNoResponse);
    EXPECT_EQ(r.device->stats().packets, 0);
    EXPECT_EQ(SendPacket(r.engine, small, -1), LinkNoResponse);
}

TEST(SendPacket, CorruptedPacketIsRejectedByTheDevice) {
    Rig r;
    r.Open();
    const std::uint8_t bad[] = {0x40, 0x05, 0xAA, 0x01, 0x00, 0x11};
    r.engine.parser.NakSeen = 0;
    WriteBytes(r.engine, bad);
    EXPECT_EQ(WaitReply(r.engine, 100), kReplyNak);
}

TEST(Input, DrainAndDiscardThrowBytesAwayUnparsed) {
    Rig r;
    r.Open();
    const std::uint8_t identify[] = {0xC2};
    WriteBytes(r.engine, identify);
    DrainInput(r.engine);
    EXPECT_EQ(r.engine.parser.AckSeen, 0);
    EXPECT_EQ(r.engine.identity().ChipCode, 0);
    EXPECT_FALSE(r.device->NextOutputTime().has_value());
    WriteBytes(r.engine, identify);
    DiscardInput(r.engine);
    EXPECT_EQ(PollReply(r.engine), 0);
}

TEST(PumpDelay, SlicesAndInputDoesNotShortenIt) {
    for (auto [ms, waited] : {std::pair{0, 0ms}, {3, 5ms}, {5, 5ms}, {300, 300ms}}) {
        Rig r;
        r.Open();
        const std::uint8_t identify[] = {0xC2};
        WriteBytes(r.engine, identify);  // input arrives at once
        int ui_runs = 0;
        r.pump.set_ui_hook([&ui_runs](Clock::time_point) { ++ui_runs; });
        const auto t0 = r.pump.now();
        PumpDelay(r.pump, ms);
        EXPECT_EQ(Elapsed(r, t0), waited) << ms;
        EXPECT_EQ(ui_runs, DelaySlices(ms)) << ms;
    }
}

}  // namespace
}  // namespace quillon::engine
