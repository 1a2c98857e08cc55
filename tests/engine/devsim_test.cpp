#include <gtest/gtest.h>

#include <sstream>

#include "catalog/scramble.h"
#include "tools/devsim/device.h"
#include "tools/devsim/report.h"

namespace quillon::devsim {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Image = std::map<std::uint32_t, std::uint8_t>;

Bytes WithChecksum(Bytes p) {
    std::uint8_t sum = 0;
    for (std::uint8_t b : p) sum = static_cast<std::uint8_t>(sum + b);
    p.push_back(static_cast<std::uint8_t>(0u - sum));
    return p;
}

// A program block as the session builds it: header, then data scrambled with the key of
// the block's start address.
Bytes Block(std::uint32_t address, const Bytes& plain, bool wide) {
    Bytes p = {static_cast<std::uint8_t>(address >> 16), static_cast<std::uint8_t>(address >> 8),
               static_cast<std::uint8_t>(address)};
    if (wide) p.push_back(static_cast<std::uint8_t>(plain.size() >> 8));
    p.push_back(static_cast<std::uint8_t>(plain.size() & 0xFF));
    const std::uint8_t key = catalog::BlockKey(address, catalog::CatalogScrambled);
    for (std::uint8_t b : plain) p.push_back(static_cast<std::uint8_t>(b ^ key));
    return WithChecksum(p);
}

Bytes Answer(Device& d) {
    std::uint8_t out[512];
    const std::size_t n = d.TakeOutput(out, Nanos::max());
    return Bytes(out, out + n);
}

Bytes Pattern(std::size_t n, std::uint8_t seed) {
    Bytes b(n);
    for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<std::uint8_t>(seed + i * 7);
    return b;
}

TEST(Devsim, RebuildsPic18FlashAndEeprom) {
    Device d({});  // chip 0x48: 1-byte units, 4-byte header
    const Bytes first = Pattern(64, 1), last = Pattern(2, 9);
    d.Receive(Block(0, first, false), Nanos{0});
    d.Receive(Block(128, last, false), Nanos{0});
    d.Receive(WithChecksum({0x40, 0x05, 0xAA, 0x01, 0x00}), Nanos{0});
    EXPECT_EQ(Answer(d), (Bytes{'K', 'K', 'K'}));
    Image flash;
    for (std::uint32_t i = 0; i < 64; ++i) flash[i] = first[i];
    flash[128] = last[0];
    flash[129] = last[1];
    EXPECT_EQ(d.flash(), flash);
    EXPECT_EQ(d.eeprom(), (Image{{5, 0xAA}}));
}

TEST(Devsim, RebuildsWideFamilyFlashInTwoByteUnits) {
    Options o;
    o.chip = 0xFD;
    Device d(o);
    const Bytes data = Pattern(256, 3);
    d.Receive(Block(0x80, data, true), Nanos{0});
    EXPECT_EQ(Answer(d), Bytes{'K'});
    ASSERT_EQ(d.flash().size(), 256u);
    EXPECT_EQ(d.flash().begin()->first, 0x100u);  // unit address 0x80 = byte 0x100
    EXPECT_EQ(d.flash().at(0x1FF), data[255]);
}

TEST(Devsim, EepromKeyAndPlainImages) {
    Options o;
    o.eeprom_scrambled = true;
    o.scrambled = false;
    Device d(o);
    const std::uint8_t key = catalog::ScrambleKey(7, catalog::CatalogScrambled);
    d.Receive(WithChecksum({0x40, 7, static_cast<std::uint8_t>(0x33 ^ key), 1, 0}), Nanos{0});
    d.Receive(WithChecksum({0x00, 0x00, 0x40, 0x01, 0x77}), Nanos{0});
    EXPECT_EQ(d.eeprom().at(7), 0x33);
    EXPECT_EQ(d.flash().at(0x40), 0x77);  // --plain: stored as received
}

TEST(Devsim, EepromTablesLongerThan256LandInOrder) {
    Device d({});
    auto send = [&d](int index) {
        const auto i = static_cast<std::uint8_t>(index & 0xFF);
        d.Receive(WithChecksum({0x40, i, static_cast<std::uint8_t>(index / 3), 1, 0}), Nanos{0});
    };
    for (int i = 0; i < 600; ++i) send(i);
    ASSERT_EQ(d.eeprom().size(), 600u);
    for (int i : {0, 255, 256, 511, 512, 599})
        EXPECT_EQ(d.eeprom().at(static_cast<std::uint32_t>(i)), i / 3) << i;
    // A new identification starts over at address 0.
    d.Receive(Bytes{0xC2}, Nanos{0});
    send(1);
    EXPECT_EQ(d.eeprom().at(1), 0);
    EXPECT_EQ(d.eeprom().size(), 600u);
}

TEST(Devsim, ChecksumsRulesAndResync) {
    struct Row {
        const char* name;
        PacketRule reject, ignore;
        Bytes answers;  // to four good packets
    };
    const Row rows[] = {
        {"none", {}, {}, {'K', 'K', 'K', 'K'}},
        {"reject every 2nd", {2, 0, 0}, {}, {'K', 'N', 'K', 'N'}},
        {"reject first 3", {0, 3, 0}, {}, {'N', 'N', 'N', 'K'}},
        {"reject from 3", {0, 0, 3}, {}, {'K', 'K', 'N', 'N'}},
        {"ignore first 1", {}, {0, 1, 0}, {'K', 'K', 'K'}},
        {"ignore from 2", {}, {0, 0, 2}, {'K'}},
        {"ignore at 2", {}, {0, 0, 0, 2}, {'K', 'K', 'K'}},
    };
    for (const Row& row : rows) {
        Options o;
        o.reject = row.reject;
        o.ignore = row.ignore;
        Device d(o);
        for (std::uint8_t i = 0; i < 4; ++i) d.Receive(WithChecksum({0x40, i, i, 1, 0}), Nanos{0});
        EXPECT_EQ(Answer(d), row.answers) << row.name;
        EXPECT_EQ(d.stats().packets, 4) << row.name;
    }
    Device d({});
    Bytes bad = WithChecksum({0x40, 1, 2, 1, 0});
    bad.back() ^= 1;
    d.Receive(bad, Nanos{0});
    EXPECT_EQ(Answer(d), Bytes{'N'});
    EXPECT_TRUE(d.eeprom().empty());
    // A 16-bit length no block has: rejected, and the next packet is understood.
    Options wide;
    wide.chip = 0xFC;
    Device w(wide);
    w.Receive(Bytes{0x00, 0x01, 0x00, 0x02, 0x00}, Nanos{0});
    w.Receive(WithChecksum({0x40, 1, 2, 1, 0}), Nanos{0});
    EXPECT_EQ(Answer(w), (Bytes{'N', 'K'}));
}

TEST(Devsim, IdentificationsEntryPassOnAndHangUp) {
    Options o;
    o.bios = 9;
    o.extended = true;
    o.device_text = "unit";
    o.window_start = 0x1234;
    o.hang_up_after = 1;
    Device d(o);
    d.Receive(Bytes{0xC2}, Nanos{0});
    Bytes expected = {'V', 9, 0x48, 0x10, 0x03, 'K', 'R', 28, 0, 'u', 'n', 'i', 't'};
    expected.resize(13 + 20, 0);
    expected.insert(expected.end(), {0x34, 0x12, 0, 0, 'K'});
    EXPECT_EQ(Answer(d), expected);
    d.Receive(Bytes{0xCC}, Nanos{0});
    EXPECT_EQ(Answer(d), Bytes{'K'});
    Bytes frame1 = {0x00, 0x0F};
    for (char c : std::string("528174639GhJkLm")) frame1.push_back(static_cast<std::uint8_t>(c));
    unsigned sum = 0;
    for (std::uint8_t b : frame1) sum += b;
    frame1.push_back(static_cast<std::uint8_t>(sum >> 8));
    frame1.push_back(static_cast<std::uint8_t>(sum));
    d.Receive(frame1, Nanos{0});
    d.Receive(Bytes{0x04, 0x00, 0x00, 0x04}, Nanos{0});
    EXPECT_EQ(d.stats().pass_on_frames, 2);
    EXPECT_TRUE(Answer(d).empty());
    d.Receive(WithChecksum({0x40, 0, 0, 1, 0}), Nanos{0});
    EXPECT_TRUE(d.hung_up());
    d.Receive(Bytes{0xC2}, Nanos{0});
    EXPECT_EQ(Answer(d), Bytes{'K'});  // the last answer, then nothing
}

TEST(Devsim, PacingTakesTheWireTimeOfEveryByte) {
    Options o;
    o.pace = true;
    o.answer_delay = std::chrono::microseconds(100);
    Device d(o);
    d.Receive(Bytes{0xC2}, Nanos{1000});
    // One byte in, the delay, then six bytes out, each readable when it has arrived.
    const Nanos first = Nanos{1000} + kByteTime + o.answer_delay + kByteTime;
    EXPECT_EQ(d.NextOutputTime(), first);
    std::uint8_t out[8];
    EXPECT_EQ(d.TakeOutput(out, first - Nanos{1}), 0u);
    EXPECT_EQ(d.TakeOutput(out, first + 4 * kByteTime), 5u);
    EXPECT_EQ(d.TakeOutput(out, first + 5 * kByteTime), 1u);
    EXPECT_EQ(kByteTime, Nanos{95486});  // 11 bits at 115200 bit/s
}

TEST(Devsim, AnAdapterLatencyTimerHoldsAnswersUntilItRunsOutOrItsBufferFills) {
    Options o;
    o.adapter_latency = std::chrono::milliseconds(16);
    Device d(o);
    std::uint8_t out[512];
    // A one-byte answer waits out the whole timer.
    d.Receive(WithChecksum({0x40, 0x00, 0x12, 0x01, 0x00}), Nanos{1000});
    ASSERT_EQ(d.NextOutputTime(), Nanos{1000} + o.adapter_latency);
    EXPECT_EQ(d.TakeOutput(out, Nanos{1000} + o.adapter_latency - Nanos{1}), 0u);
    ASSERT_EQ(d.TakeOutput(out, Nanos{1000} + o.adapter_latency), 1u);
    EXPECT_EQ(out[0], 'K');
    // Paced and longer than the adapter's buffer: the first buffer goes when it is full,
    // not after the timer; the rest waits for the timer from its own first byte.
    Options p = o;
    p.pace = true;
    p.extended = true;
    p.bios = 9;
    p.ext_announced = 100;
    Device e(p);
    e.Receive(Bytes{0xC2}, Nanos{0});
    const Nanos full = e.NextOutputTime().value();
    EXPECT_LT(full, kByteTime * (kAdapterBuffer + 2) + p.adapter_latency);
    EXPECT_EQ(e.TakeOutput(out, full - Nanos{1}), 0u);
    EXPECT_EQ(e.TakeOutput(out, full), kAdapterBuffer);
    const Nanos next = e.NextOutputTime().value();
    EXPECT_GT(next, full);
}

TEST(Devsim, TurnaroundFiguresAreNearestRankPercentiles) {
    std::vector<Nanos> samples;
    for (int i = 100; i >= 1; --i) samples.push_back(Nanos{i * 1000});
    const Turnaround t = Summarize(samples);
    EXPECT_EQ(t.count, 100u);
    EXPECT_EQ(t.median, Nanos{50000});
    EXPECT_EQ(t.p90, Nanos{90000});
    EXPECT_EQ(t.p99, Nanos{99000});
    EXPECT_EQ(t.max, Nanos{100000});
    EXPECT_EQ(t.over_1ms, 0u);
    // The long ones are counted strictly above their bounds.
    const Turnaround late = Summarize({kLongTurnaround, kLongTurnaround + Nanos{1},
                                       kMissedWakeTurnaround, kMissedWakeTurnaround + Nanos{1}});
    EXPECT_EQ(late.over_1ms, 3u);
    EXPECT_EQ(late.over_4ms, 1u);
    const Turnaround one = Summarize({Nanos{7}});
    EXPECT_EQ(one.median, Nanos{7});
    EXPECT_EQ(one.p99, Nanos{7});
    EXPECT_EQ(Summarize({}).count, 0u);
    EXPECT_EQ(Summarize({}).max, Nanos{0});
}

// The record for the ideal host: one line per answer, answers sent in pieces (paced) count
// whole, and what the host sent after the last answer ends the record unanswered.
TEST(Devsim, TheRecordHoldsWhatTheHostSentBeforeEachAnswer) {
    Exchanges x;
    x.Received(Bytes{0xC5});
    for (int i = 0; i < 5; ++i) x.Sent(1, false);
    x.Sent(1, true);
    x.Received(Bytes{0x00, 0x01});
    x.Received(Bytes{0x40, 0xBF});  // one packet in two reads
    x.Sent(1, true);
    x.Received(Bytes{0xCC});
    EXPECT_EQ(x.Finish(), "C5 6\n000140BF 1\nCC 0\n");
}

TEST(IntelHex, RoundTripAcrossA64KBoundaryAndMalformedInput) {
    Image image;
    for (std::uint32_t a = 0xFFF0; a < 0x10020; ++a) image[a] = static_cast<std::uint8_t>(a);
    image[0x30000] = 0x5A;
    std::stringstream s;
    WriteIntelHex(s, image);
    const std::string text = s.str();
    EXPECT_NE(text.find(":020000040001F9"), std::string::npos);
    EXPECT_EQ(text.substr(text.size() - 12), ":00000001FF\n");
    auto back = ReadIntelHex(s);
    ASSERT_TRUE(back.has_value());
    EXPECT_EQ(*back, image);
    for (const char* bad : {":00000001FE\n", ":0100000041\n", "garbage\n", ":02000004\n",
                            ":0100000000FF\n" /* no end record */}) {
        std::stringstream in(bad);
        EXPECT_FALSE(ReadIntelHex(in).has_value()) << bad;
    }
}

}  // namespace
}  // namespace quillon::devsim
