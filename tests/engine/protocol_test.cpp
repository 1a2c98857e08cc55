#include "engine/protocol.h"

#include <gtest/gtest.h>

#include <random>
#include <span>
#include <string>
#include <vector>

namespace quillon::engine {
namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(Checksum, MakesThePacketSumToZero) {
    const Bytes eeprom = {0x40, 0x05, 0xAA, 0x01, 0x00};
    EXPECT_EQ(Checksum(eeprom), 0x10);
    EXPECT_EQ(Checksum(Bytes{}), 0x00);
    Bytes block(261, 0xFF);  // the longest packet's bytes before the checksum
    block[0] = 0x00;
    const std::uint8_t c = Checksum(block);
    std::uint8_t sum = c;
    for (std::uint8_t b : block) sum = static_cast<std::uint8_t>(sum + b);
    EXPECT_EQ(sum, 0);
}

TEST(BootPacket, IsFilledWithFFAndLargeEnoughForTheLongestPacket) {
    BootPacket p;
    p.bytes[7] = 0;
    p.Reset();
    for (std::uint8_t b : p.bytes) ASSERT_EQ(b, 0xFF);
    EXPECT_GE(p.bytes.size(), 5u + 256u + 1u);
}

struct IdentityCase {
    const char* name;
    Bytes before;  // fed first (with its own effects)
    Bytes bytes;
    DeviceIdentity expected;
    std::uint8_t ack, nak;
};
void PrintTo(const IdentityCase& c, std::ostream* os) {
    *os << c.name;
}

class ParserIdentity : public ::testing::TestWithParam<IdentityCase> {};

TEST_P(ParserIdentity, CommitsOnK) {
    const IdentityCase& c = GetParam();
    ReplyParser p;
    p.Feed(c.before);
    p.AckSeen = p.NakSeen = 0;
    p.Feed(c.bytes);
    EXPECT_EQ(p.identity.ChipCode, c.expected.ChipCode);
    EXPECT_EQ(p.identity.BiosVersion, c.expected.BiosVersion);
    EXPECT_EQ(p.identity.PrintCode, c.expected.PrintCode);
    EXPECT_EQ(p.identity.PreparationCode, c.expected.PreparationCode);
    EXPECT_EQ(p.identity.VersionReported, c.expected.VersionReported);
    EXPECT_EQ(p.AckSeen, c.ack);
    EXPECT_EQ(p.NakSeen, c.nak);
    EXPECT_EQ(p.state, ParserState::Idle);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ParserIdentity,
    ::testing::Values(
        IdentityCase{
            "VersionForm", {}, {'V', 0x07, 0x48, 0x10, 0x03, 'K'}, {0x48, 7, 0x10, 3, 1}, 1, 0},
        IdentityCase{"BareForm", {}, {0x42, 'K'}, {0x42, 0, 0, 0, 0}, 1, 0},
        IdentityCase{"LastBareByteWins", {}, {0x43, 0x42, 'K'}, {0x42, 0, 0, 0, 0}, 1, 0},
        // A bare code keeps print and preparation pending from an earlier version reply.
        IdentityCase{"BareAfterVersion",
                     {'V', 9, 0x47, 0x20, 0x05, 'K'},
                     {0x43, 'K'},
                     {0x43, 0, 0x20, 5, 0},
                     1,
                     0},
        // A lone K commits whatever is pending.
        IdentityCase{"LoneK", {'V', 3, 0x44, 1, 2, 'K'}, {'K'}, {0x44, 3, 1, 2, 1}, 1, 0},
        IdentityCase{"NakOnly", {}, {'N'}, {0, 0, 0, 0, 0}, 0, 1},
        IdentityCase{"KAndNInOneRead", {}, {0x45, 'K', 'N'}, {0x45, 0, 0, 0, 0}, 1, 1},
        // Without a closing K nothing is committed.
        IdentityCase{"Truncated", {}, {'V', 0x07, 0x48, 0x10}, {0, 0, 0, 0, 1}, 0, 0},
        // Inside a version reply a 'V' or 'K' is a code like any other.
        IdentityCase{"VInsideAReplyIsData",
                     {},
                     {'V', 0x05, 'V', 0x06, 0x46, 'K'},
                     {'V', 5, 6, 0x46, 1},
                     1,
                     0},
        IdentityCase{"KAfterTheMarkIsTheVersion", {}, {'V', 'K'}, {0, 0, 0, 0, 1}, 0, 0},
        // An 'R' while the committed version is outside 8..31 is a data byte.
        IdentityCase{"ROutsideExtendedVersions",
                     {'V', 5, 0x48, 1, 1, 'K'},
                     {'R', 'K'},
                     {0x52, 0, 1, 1, 0},
                     1,
                     0},
        IdentityCase{
            "RWithVersion32", {'V', 32, 0x48, 1, 1, 'K'}, {'R', 'K'}, {0x52, 0, 1, 1, 0}, 1, 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Parser, VersionReplySplitAcrossReads) {
    const Bytes whole = {'V', 0x0A, 0xFD, 0x11, 0x83, 'K'};
    for (std::size_t cut = 1; cut < whole.size(); ++cut) {
        ReplyParser p;
        p.Feed(std::span(whole).first(cut));
        EXPECT_EQ(p.AckSeen, 0) << cut;
        p.Feed(std::span(whole).subspan(cut));
        EXPECT_EQ(p.identity.ChipCode, 0xFD) << cut;
        EXPECT_EQ(p.identity.BiosVersion, 0x0A) << cut;
        EXPECT_EQ(p.identity.PreparationCode, 0x83) << cut;
        EXPECT_EQ(p.AckSeen, 1) << cut;
    }
}

ReplyParser WithVersion(std::uint8_t bios) {
    ReplyParser p;
    p.Feed(Bytes{'V', bios, 0xFC, 0x10, 0x03, 'K'});
    p.AckSeen = 0;
    return p;
}

Bytes ExtendedData(std::size_t n) {
    Bytes d(n);
    for (std::size_t i = 0; i < n; ++i) d[i] = static_cast<std::uint8_t>('a' + i % 26);
    return d;
}

TEST(Parser, FullExtendedBlock) {
    ReplyParser p = WithVersion(9);
    Bytes data = ExtendedData(28);
    data[24] = 0x00, data[25] = 0x10, data[26] = 0x00, data[27] = 0x08;
    Bytes block = {'R', 0x1C, 0x00};
    block.insert(block.end(), data.begin(), data.end());
    block.push_back('K');
    p.Feed(block);
    EXPECT_EQ(p.device_text(), "abcdefghijklmnopqrstuvwx");
    EXPECT_EQ(p.WindowStart, 0x1000);
    EXPECT_EQ(p.WindowExtent, 0x0800);
    EXPECT_EQ(p.ExtComplete, 1);
    EXPECT_EQ(p.AckSeen, 0);  // the closing K only completes the block
    EXPECT_EQ(p.identity.ChipCode, 0xFC);
    EXPECT_EQ(p.state, ParserState::Idle);
}

TEST(Parser, KAndNInsideAnExtendedBlockAreData) {
    ReplyParser p = WithVersion(31);
    p.Feed(Bytes{'R', 4, 'K', 'K', 'N', 'K', 'N'});
    EXPECT_EQ(p.device_text(), "KNKN");
    EXPECT_EQ(p.AckSeen, 0);
    EXPECT_EQ(p.NakSeen, 0);
    EXPECT_EQ(p.ExtComplete, 0);
    EXPECT_EQ(p.state, ParserState::ExtData);
    // Bytes after the data and before the closing K are ignored (an N too).
    p.Feed(Bytes{'x', 'N', 'K'});
    EXPECT_EQ(p.device_text(), "KNKN");
    EXPECT_EQ(p.ExtComplete, 1);
    EXPECT_EQ(p.NakSeen, 0);
    // Back in Idle, K acknowledges again.
    p.Feed(Bytes{'K'});
    EXPECT_EQ(p.AckSeen, 1);
}

TEST(Parser, ShortLongAndOverlongExtendedBlocks) {
    struct Row {
        std::uint8_t announced;
        std::size_t sent;
        std::string text;
        std::uint16_t start, extent;
        std::uint16_t complete;
    };
    const Row rows[] = {
        {2, 2, "ab", 0, 0, 1},
        {0, 0, "", 0, 0, 1},
        {25, 25, "abcdefghijklmnopqrstuvwx", 'y', 0, 1},
        // Longer than the layout: bytes from 28 on are dropped, nothing overruns.
        {255, 255, "abcdefghijklmnopqrstuvwx", 'y' | ('z' << 8), 'a' | ('b' << 8), 1},
        // Announced longer than sent: the closing K is taken as data, the block stays open.
        {40, 10, "abcdefghijK", 0, 0, 0},
    };
    for (const Row& r : rows) {
        ReplyParser p = WithVersion(8);
        Bytes block = {'R', r.announced, 0xEE};
        const Bytes data = ExtendedData(r.sent);
        block.insert(block.end(), data.begin(), data.end());
        block.push_back('K');
        p.Feed(block);
        EXPECT_EQ(p.device_text(), r.text) << int(r.announced);
        EXPECT_EQ(p.WindowStart, r.start) << int(r.announced);
        EXPECT_EQ(p.WindowExtent, r.extent) << int(r.announced);
        EXPECT_EQ(p.ExtComplete, r.complete) << int(r.announced);
        EXPECT_LE(p.ExtIndex, 255);
    }
}

TEST(Parser, BytesAfterTheExtendedBlockAreOrdinaryReplies) {
    ReplyParser p = WithVersion(9);
    p.Feed(Bytes{'R', 1, 0, 'z', 'K', 0x47, 'K'});
    EXPECT_EQ(p.ExtComplete, 1);
    EXPECT_EQ(p.device_text(), "z");
    EXPECT_EQ(p.identity.ChipCode, 0x47);  // a bare identification after the block
    EXPECT_EQ(p.identity.VersionReported, 0);
    EXPECT_EQ(p.AckSeen, 1);
}

TEST(Parser, NewVersionReplyClearsExtComplete) {
    ReplyParser p = WithVersion(9);
    p.Feed(Bytes{'R', 0, 0, 'K'});
    ASSERT_EQ(p.ExtComplete, 1);
    p.Feed(Bytes{'V'});
    EXPECT_EQ(p.ExtComplete, 0);
}

TEST(Parser, ResetForSearchKeepsPendingBytesAndVersionFlag) {
    ReplyParser p = WithVersion(9);
    p.Feed(Bytes{'R', 3, 0, 'a'});
    p.ResetForSearch();
    EXPECT_EQ(p.state, ParserState::Idle);
    EXPECT_EQ(p.device_text(), "");
    EXPECT_EQ(p.identity.ChipCode, 0);
    EXPECT_EQ(p.identity.BiosVersion, 0);
    EXPECT_EQ(p.identity.VersionReported, 1);
    p.Feed(Bytes{'K'});  // the pending identification is still there
    EXPECT_EQ(p.identity.ChipCode, 0xFC);
}

// Inside a version reply every byte is data: each of the 256 values in each of the four
// positions (BIOS, chip, print, preparation) lands where it belongs, and only the closing
// 'K' commits and acknowledges.
TEST(ParserVersionReply, EveryByteValueInEveryPosition) {
    const std::uint8_t base[4] = {0x07, 0x48, 0x10, 0x03};
    for (int position = 0; position < 4; ++position) {
        for (int value = 0; value < 256; ++value) {
            SCOPED_TRACE("position " + std::to_string(position) + " value " +
                         std::to_string(value));
            std::uint8_t codes[4] = {base[0], base[1], base[2], base[3]};
            codes[position] = static_cast<std::uint8_t>(value);
            ReplyParser p;
            p.Feed(Bytes{'V', codes[0], codes[1], codes[2], codes[3]});
            ASSERT_EQ(p.AckSeen, 0);
            ASSERT_EQ(p.NakSeen, 0);
            ASSERT_EQ(p.state, ParserState::Idle);
            ASSERT_EQ(p.identity.ChipCode, 0);  // nothing committed yet
            p.Feed(Bytes{'K'});
            EXPECT_EQ(p.identity.BiosVersion, codes[0]);
            EXPECT_EQ(p.identity.ChipCode, codes[1]);
            EXPECT_EQ(p.identity.PrintCode, codes[2]);
            EXPECT_EQ(p.identity.PreparationCode, codes[3]);
            EXPECT_EQ(p.identity.VersionReported, 1);
            EXPECT_EQ(p.AckSeen, 1);
            EXPECT_EQ(p.PendingIndex, kNotCollecting);
        }
    }
}

// A reply whose codes are the protocol's own bytes, arriving in two reads cut anywhere:
// the first part never commits or acknowledges, and the whole gives the same identity. The
// parser is left with the committed version 9, so an 'R' would start an extended block
// if it were taken for one.
TEST(ParserVersionReply, SplitAtEveryCut) {
    const Bytes reply = {'V', 'K', 'R', 'N', 'V', 'K'};
    for (std::size_t cut = 0; cut < reply.size(); ++cut) {
        SCOPED_TRACE("cut " + std::to_string(cut));
        ReplyParser p;
        p.Feed(Bytes{'V', 9, 0xFD, 16, 3, 'K'});
        p.AckSeen = 0;
        p.Feed(std::span<const std::uint8_t>(reply.data(), cut));
        EXPECT_EQ(p.AckSeen, 0);
        EXPECT_EQ(p.NakSeen, 0);
        EXPECT_EQ(p.identity.ChipCode, 0xFD);  // the earlier identity, untouched
        p.Feed(std::span<const std::uint8_t>(reply.data() + cut, reply.size() - cut));
        EXPECT_EQ(p.state, ParserState::Idle);
        EXPECT_EQ(p.identity.BiosVersion, 'K');
        EXPECT_EQ(p.identity.ChipCode, 'R');
        EXPECT_EQ(p.identity.PrintCode, 'N');
        EXPECT_EQ(p.identity.PreparationCode, 'V');
        EXPECT_EQ(p.AckSeen, 1);
        EXPECT_EQ(p.NakSeen, 0);
    }
}

// Any byte stream leaves the parser in a defined state: indices in range, the text
// terminated inside its array. A long seeded run, biased towards the protocol's own bytes
// so that every state is visited often; ASan in CI checks every access.
TEST(ParserFuzz, RandomStreamsKeepTheInvariants) {
    constexpr int kStreams = 30000;
    constexpr int kMaxStream = 600;
    const std::uint8_t interesting[] = {'K', 'N', 'V', 'R', 0, 8, 9, 31, 32, 0xFF, 28, 29};
    std::mt19937 rng(20261209);
    int visited[4] = {};
    for (int s = 0; s < kStreams; ++s) {
        ReplyParser p;
        const int n = static_cast<int>(rng() % kMaxStream);
        for (int i = 0; i < n; ++i) {
            const std::uint8_t b = (rng() % 3 == 0) ? interesting[rng() % sizeof interesting]
                                                    : static_cast<std::uint8_t>(rng());
            p.Feed(b);
            ++visited[static_cast<int>(p.state)];
            ASSERT_LE(static_cast<int>(p.state), 3);
            ASSERT_LE(p.ExtLength, 255);
            ASSERT_LE(p.ExtIndex, 255);
            ASSERT_TRUE(p.PendingIndex <= 3 || p.PendingIndex == kNotCollecting);
            ASSERT_LE(p.device_text().size(), kDeviceTextLength);
            ASSERT_LE(p.AckSeen, 1);
            ASSERT_LE(p.NakSeen, 1);
        }
    }
    for (int v : visited) EXPECT_GT(v, 0);
}

}  // namespace
}  // namespace quillon::engine
