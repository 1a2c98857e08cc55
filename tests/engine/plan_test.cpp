// The packets of a session as data: what each family's image turns into, without a device.
#include "engine/plan.h"

#include <gtest/gtest.h>

#include <numeric>
#include <vector>

#include "catalog/scramble.h"

namespace quillon::engine {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Kind = PlannedPacket::Kind;

struct PlanRow {
    const char* name;
    std::int32_t unit, block, length;  // address unit, block bytes, program bytes
    bool pad_last, plain;
    ProtectedWindow window;
    int eeprom;
    // Expected: the blocks, the left-out addresses, the last block's bytes on the wire.
    int blocks;
    std::vector<std::int32_t> left_out;
    std::size_t last_size;
};

TEST(PlanSession, PacketsOfEachKindOfImage) {
    const PlanRow rows[] = {
        // PIC18, 150 bytes: two whole blocks and a short last one, sent as it is.
        {"pic18", 1, 64, 150, false, false, {}, 0, 3, {}, 4 + 22},
        // K80: the last block filled up to a whole block.
        {"k80-padded", 1, 64, 150, true, false, {}, 3, 3, {}, 4 + 64},
        // 16-bit: two-byte length field, blocks of 256 bytes at 128-address steps; the
        // block whose next address (256) is the window's start is left out.
        {"16-bit-window", 2, 256, 1024, true, false, {256, 16}, 0, 4, {128}, 5 + 256},
        // A plain image: the fix block is not keyed.
        {"plain", 1, 64, 64, false, true, {}, 1, 1, {}, 4 + 64},
    };
    for (const PlanRow& row : rows) {
        SCOPED_TRACE(row.name);
        Bytes payload(static_cast<std::size_t>(row.length));
        std::iota(payload.begin(), payload.end(), std::uint8_t{0});
        Bytes fix = {0xA1, 0xA2};
        const Bytes eeprom(static_cast<std::size_t>(row.eeprom), 0x5C);
        catalog::PreparedImage image;
        image.Payload = payload.data();
        image.ProgramLength = row.length;
        image.BlockSize = row.block;
        image.Bounds.AddressUnit = row.unit;
        image.FixAddress = 0x7FC0;
        image.FixBytes = fix.data();
        image.FixCount = 2;
        image.EepromBytes = eeprom.data();
        image.EepromCount = row.eeprom;
        image.PlainFlag = row.plain ? 1 : 0;

        const std::vector<PlannedPacket> plan = PlanSession(image, row.pad_last, row.window);
        ASSERT_EQ(plan.size(), static_cast<std::size_t>(row.blocks + 1 + row.eeprom));
        std::vector<std::int32_t> left_out;
        for (int i = 0; i < row.blocks; ++i) {
            const PlannedPacket& p = plan[static_cast<std::size_t>(i)];
            EXPECT_EQ(p.kind, Kind::Block);
            EXPECT_EQ(p.address, i * row.block / row.unit);
            EXPECT_EQ(p.last, i == row.blocks - 1);
            EXPECT_EQ(p.done_units, p.last ? 0 : (i + 1) * row.block / row.unit);
            // Address most significant first, then the payload at its offset.
            EXPECT_EQ(p.bytes[2], static_cast<std::uint8_t>(p.address & 0xFF));
            const std::size_t header = row.block > 255 ? 5 : 4;
            EXPECT_EQ(p.bytes[header], payload[static_cast<std::size_t>(i * row.block)]);
            if (p.left_out) left_out.push_back(p.address);
        }
        EXPECT_EQ(left_out, row.left_out);
        const PlannedPacket& last = plan[static_cast<std::size_t>(row.blocks - 1)];
        EXPECT_EQ(last.bytes.size(), row.last_size);
        if (row.block <= 255) {
            EXPECT_EQ(last.bytes[3], row.last_size - 4);  // its length field
        }

        const PlannedPacket& fixp = plan[static_cast<std::size_t>(row.blocks)];
        EXPECT_EQ(fixp.kind, Kind::Fix);
        const std::uint8_t key =
            row.plain ? 0 : catalog::BlockKey(0x7FC0, catalog::CatalogScrambled);
        EXPECT_EQ(fixp.bytes.back(), 0xA2 ^ key);
        EXPECT_EQ(fixp.bytes[fixp.bytes.size() - 3], 0xFF ^ key);  // erased, keyed
        for (int i = 0; i < row.eeprom; ++i) {
            const PlannedPacket& p = plan[static_cast<std::size_t>(row.blocks + 1 + i)];
            EXPECT_EQ(p.kind, Kind::Eeprom);
            EXPECT_EQ(p.bytes, (Bytes{0x40, static_cast<std::uint8_t>(i), 0x5C, 0x01, 0x00}));
        }
    }
}

TEST(PlanSession, NoBlockSizeNoPlan) {
    catalog::PreparedImage image;
    image.ProgramLength = 64;
    for (std::int32_t block : {0, -64, kMaxBlock + 1}) {
        image.BlockSize = block;
        EXPECT_TRUE(PlanSession(image, false, {}).empty()) << block;
    }
}

}  // namespace
}  // namespace quillon::engine
