// The channel table's logic over a recording fake backend: what reaches the platform, in
// which order, and what each operation answers.
#include <gtest/gtest.h>

#include <climits>

#include "fake_backend.h"
#include "serial/channel.h"

namespace quillon::serial {
namespace {

using testing::FakeBackend;
using testing::FakeScript;
using Log = std::vector<std::string>;

struct Table {
    std::shared_ptr<FakeScript> script = std::make_shared<FakeScript>();
    ChannelTable table{std::make_shared<FakeBackend>(script)};
    std::vector<std::pair<std::string, std::string>> boxes;
    std::vector<std::chrono::milliseconds> sleeps;
    Table() {
        table.message_box = [this](std::string_view caption, std::string_view text) {
            boxes.emplace_back(caption, text);
        };
        table.sleep = [this](std::chrono::milliseconds ms) { sleeps.push_back(ms); };
    }
    SerialChannel* open(int port, std::uint8_t echo = 0) {
        return table.OpenChannel(port, 115200, 0, 2, 8, echo);
    }
    Log take() { return std::exchange(script->log, {}); }
};

const Log kOpenCalls(const std::string& name) {
    return {"open " + name, "drain", "set_line", "queues 32768 9216", "timeouts"};
}

TEST(ChannelTable, NumbersOutsideTheTableNeverReachThePlatform) {
    for (int port : {-1, 257, 4464, -32768, INT_MIN, INT_MAX}) {
        Table t;
        std::uint8_t buf[8] = {1};
        EXPECT_EQ(t.open(port), nullptr) << port;
        t.table.CloseChannel(port);
        EXPECT_EQ(t.table.WriteChannel(port, buf, 8), 0);
        EXPECT_EQ(t.table.ReadChannel(port, buf, 8), 0u);
        EXPECT_EQ(t.table.SetControlLines(port, true), 0);
        EXPECT_EQ(t.table.PollHandle(port), -1);
        EXPECT_FALSE(t.table.IsOpen(port));
        EXPECT_TRUE(t.script->log.empty()) << port;
    }
    Table t;
    EXPECT_EQ(t.table.FlushChannel(-1), -2);
    EXPECT_EQ(t.table.FlushChannel(257), -2);
    EXPECT_EQ(static_cast<std::uint16_t>(t.table.FlushChannel(-1)), 0xFFFE);
    EXPECT_TRUE(t.script->log.empty());
}

TEST(ChannelTable, OpensBothEndsOfTheTableWithTheFixedSettingsInOrder) {
    for (auto [port, name] : {std::pair{0, "COM1"}, {2, "COM3"}, {256, "COM257"}}) {
        Table t;
        SerialChannel* r = t.table.OpenChannel(port, 115200, 0, 2, 8, 0);
        ASSERT_NE(r, nullptr) << port;
        EXPECT_EQ(r, &t.table.record(port));
        EXPECT_EQ(r->port_number, port);
        EXPECT_EQ(r->open, 1);
        EXPECT_EQ(r->echo_mode, 0);
        EXPECT_EQ(t.take(), kOpenCalls(name));
        EXPECT_EQ(t.script->last_line, (LineSettings{115200, 0, 2, 8}));
        EXPECT_EQ(t.script->last_timeouts, (Timeouts{0xFFFFFFFF, 0, 0, 10, 1000}));
        EXPECT_EQ(t.table.PollHandle(port), 42);
        EXPECT_TRUE(t.boxes.empty());
    }
}

TEST(ChannelTable, ReopenReleasesTheOldDeviceFirst) {
    Table t;  // the fake refuses a second open of a device still open, as share mode 0 does
    ASSERT_NE(t.open(4), nullptr);
    t.take();
    ASSERT_NE(t.open(4), nullptr);
    Log want{"close COM5"};
    for (auto& s : kOpenCalls("COM5")) want.push_back(s);
    EXPECT_EQ(t.take(), want);
    EXPECT_EQ(t.script->open_names.size(), 1u);
}

TEST(ChannelTable, FailedOpensLeaveTheRecordClosedAndReleased) {
    struct Case {
        const char* what;
        void (*arrange)(FakeScript&);
        Log calls;
        const char* box;  // null: no message
    };
    const Case cases[] = {
        {"device missing", [](FakeScript& s) { s.open_fails = true; }, {"open COM2"}, nullptr},
        {"control block unreadable",
         [](FakeScript& s) { s.line_result = LineResult::ReadFailed; },
         {"open COM2", "drain", "set_line", "close COM2"},
         nullptr},
        {"control block refused",
         [](FakeScript& s) { s.line_result = LineResult::Refused; },
         {"open COM2", "drain", "set_line", "close COM2"},
         "Unable to configure the serial port"},
        {"queues refused",
         [](FakeScript& s) { s.queues_fail = true; },
         {"open COM2", "drain", "set_line", "queues 32768 9216", "close COM2"},
         nullptr},
        {"time-outs refused",
         [](FakeScript& s) { s.timeouts_fail = true; },
         {"open COM2", "drain", "set_line", "queues 32768 9216", "timeouts", "close COM2"},
         "Unable to set the time-out parameters"},
    };
    for (const Case& c : cases) {
        Table t;
        c.arrange(*t.script);
        // Each attempt reaches the platform afresh and shows its message again.
        for (int attempt = 1; attempt <= 2; ++attempt) {
            EXPECT_EQ(t.open(1), nullptr) << c.what;
            EXPECT_EQ(t.take(), c.calls) << c.what << " attempt " << attempt;
            EXPECT_EQ(t.boxes.size(), c.box ? std::size_t(attempt) : 0u) << c.what;
            if (c.box) {
                EXPECT_EQ(t.boxes.back(), (std::pair<std::string, std::string>{"Error", c.box}));
            }
            EXPECT_FALSE(t.table.IsOpen(1));
            EXPECT_EQ(t.table.record(1).open, 0);
            EXPECT_EQ(t.table.record(1).port_number, 1);
            EXPECT_TRUE(t.script->open_names.empty());
            EXPECT_EQ(t.table.FlushChannel(1), -2);
        }
    }
}

TEST(ChannelTable, FailedReopenOfAnOpenPortClosesIt) {
    Table t;
    ASSERT_NE(t.open(3), nullptr);
    t.script->line_result = LineResult::Refused;
    EXPECT_EQ(t.open(3), nullptr);
    EXPECT_FALSE(t.table.IsOpen(3));
    EXPECT_TRUE(t.script->open_names.empty());
}

TEST(ChannelTable, ClosedChannelOperationsMakeNoPlatformCall) {
    Table t;
    std::uint8_t b[4] = {};
    EXPECT_EQ(t.table.WriteChannel(0, b, 4), 0);
    EXPECT_EQ(t.table.ReadChannel(0, b, 4), 0u);
    EXPECT_EQ(t.table.FlushChannel(0), -2);
    EXPECT_EQ(t.table.SetControlLines(0, true), 0);
    t.table.CloseChannel(0);
    EXPECT_TRUE(t.script->log.empty());
    // Closing twice is harmless; the second close finds the record closed.
    ASSERT_NE(t.open(0), nullptr);
    t.take();
    t.table.CloseChannel(0);
    t.table.CloseChannel(0);
    EXPECT_EQ(t.take(), Log{"close COM1"});
    EXPECT_EQ(t.table.PollHandle(0), -1);
}

TEST(ChannelTable, WriteReadFlushAndControlLines) {
    Table t;
    ASSERT_NE(t.open(0), nullptr);
    t.take();
    const std::uint8_t bytes[3] = {0xC1, 0x00, 0xFF};
    EXPECT_EQ(t.table.WriteChannel(0, bytes, 3), 2);
    EXPECT_EQ(t.take(), (Log{"write 3", "drain"}));
    EXPECT_EQ(t.script->written, (std::vector<std::uint8_t>{0xC1, 0x00, 0xFF}));

    t.script->arriving.push_back({'K', 'N'});
    std::uint8_t in[16];
    EXPECT_EQ(t.table.ReadChannel(0, in, 16), 2u);
    EXPECT_EQ(in[0], 'K');
    EXPECT_EQ(t.table.ReadChannel(0, in, 16), 0u);  // nothing more: 0 at once
    EXPECT_EQ(t.take(), (Log{"read 16", "read 16"}));

    EXPECT_EQ(t.table.FlushChannel(0), 0);
    EXPECT_EQ(t.table.SetControlLines(0, true), 0);
    EXPECT_EQ(t.table.SetControlLines(0, false), 0);
    EXPECT_EQ(t.take(), (Log{"drain", "CLRDTR", "CLRRTS", "SETDTR", "SETRTS"}));

    t.script->write_fails = true;
    EXPECT_EQ(t.table.WriteChannel(0, bytes, 3), 0);
    EXPECT_EQ(t.take(), Log{"write 3"});  // no drain after a failed write
    EXPECT_TRUE(t.table.IsOpen(0));       // and the channel stays open
}

TEST(ChannelTable, EchoModeDrivesRtsAndDrainsTheEcho) {
    struct Case {
        const char* what;
        std::size_t length;
        std::vector<std::vector<std::uint8_t>> echo;  // what each read finds
        std::size_t reads;
        Log reads_asked;
    };
    const std::vector<std::uint8_t> ten(10, 0x55);
    const Case cases[] = {
        {"echo never comes", 10, {}, 100, {}},
        {"echo there at the first wait", 10, {ten}, 1, {"read 10"}},
        {"echo in two pieces",
         10,
         {{1, 2, 3, 4}, {}, {5, 6, 7, 8, 9, 10}},
         3,
         {"read 10", "read 6", "read 6"}},
        {"nothing written", 0, {}, 0, {}},
        {"more than the scratch buffer",
         5000,
         {std::vector<std::uint8_t>(5000, 1)},
         2,
         {"read 3000", "read 2000"}},
    };
    for (const Case& c : cases) {
        Table t;
        ASSERT_NE(t.open(7, 1), nullptr);
        t.take();
        // An empty chunk stands for a read that finds nothing yet.
        for (const auto& chunk : c.echo) t.script->arriving.push_back(chunk);
        const std::vector<std::uint8_t> out(c.length, 0xAA);
        EXPECT_EQ(t.table.WriteChannel(7, out), 2) << c.what;
        Log log = t.take();
        ASSERT_GE(log.size(), 4u) << c.what;
        EXPECT_EQ(log[0], "SETRTS") << c.what;
        EXPECT_EQ(log[1], "write " + std::to_string(c.length)) << c.what;
        EXPECT_EQ(log[2], "drain") << c.what;
        EXPECT_EQ(log[3], "CLRRTS") << c.what;
        const Log reads(log.begin() + 4, log.end());
        EXPECT_EQ(reads.size(), c.reads) << c.what;
        EXPECT_EQ(t.sleeps.size(), c.reads) << c.what;
        for (auto ms : t.sleeps) EXPECT_EQ(ms, std::chrono::milliseconds(5));
        for (std::size_t i = 0; i < c.reads_asked.size(); ++i)
            EXPECT_EQ(reads[i], c.reads_asked[i]) << c.what;
    }
}

TEST(ChannelTable, EchoModeFailedWriteLeavesTheDirectionRaised) {
    Table t;
    ASSERT_NE(t.open(7, 1), nullptr);
    t.take();
    t.script->write_fails = true;
    const std::uint8_t b[2] = {1, 2};
    EXPECT_EQ(t.table.WriteChannel(7, b, 2), 0);
    EXPECT_EQ(t.take(), (Log{"SETRTS", "write 2"}));
    EXPECT_TRUE(t.sleeps.empty());
}

TEST(ChannelTable, DirectionFollowsThePolarity) {
    auto script = std::make_shared<FakeScript>();
    testing::FakeDevice d(script, "x");
    SetTransmitDirection(true, d);
    SetTransmitDirection(false, d);
    EXPECT_EQ(script->log, (Log{"SETRTS", "CLRRTS"}));
}

TEST(ChannelTable, DestroyingTheTableReleasesOpenDevices) {
    auto script = std::make_shared<FakeScript>();
    {
        ChannelTable table(std::make_shared<FakeBackend>(script));
        ASSERT_NE(table.OpenChannel(0, 115200, 0, 2, 8, 0), nullptr);
        ASSERT_NE(table.OpenChannel(256, 115200, 0, 2, 8, 0), nullptr);
        EXPECT_EQ(script->open_names.size(), 2u);
    }
    EXPECT_TRUE(script->open_names.empty());
}

}  // namespace
}  // namespace quillon::serial
