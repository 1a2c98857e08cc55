// Filling the catalog, run state, image selection and preparation.
#include <gtest/gtest.h>

#include <list>
#include <vector>

#include "catalog/preparation.h"

namespace quillon::catalog {
namespace {

using Bytes = std::vector<std::uint8_t>;

// A fresh catalog state plus images of the test's own, kept alive beside it.
class Catalog : public ::testing::Test {
protected:
    CatalogState state;
    std::list<Bytes> buffers;

    // Puts an image of `length` bytes (all 0xFF) with eight fix bytes 1..8 at a record.
    FirmwareImage& Put(int group, int family, std::int32_t length) {
        Bytes& payload = buffers.emplace_back(static_cast<std::size_t>(std::max(length, 1)), 0xFF);
        Bytes& fix = buffers.emplace_back(Bytes{1, 2, 3, 4, 5, 6, 7, 8});
        FirmwareImage& r = state.at(group, family);
        r.Payload = payload.data();
        r.PayloadLength = length;
        r.FixBytes = fix.data();
        r.FixCount = static_cast<std::int32_t>(fix.size());
        return r;
    }
};

TEST_F(Catalog, BuildCatalogHoldsTheDeclaredRecords) {
    EXPECT_EQ(InitCatalog(state), 2);  // the two default images of families 6 and 9
    EXPECT_EQ(state.PendingCount, 2);
    const FirmwareImage& hj64 = state.at(0, kFamily64);
    EXPECT_EQ(hj64.PayloadLength, 34500);
    EXPECT_EQ(hj64.FixCount, 8);
    EXPECT_EQ(hj64.EepromCount, 0);
    const FirmwareImage& k80 = state.at(0, kFamily26K80);
    EXPECT_EQ(k80.PayloadLength, 7402);
    EXPECT_EQ(k80.FixCount, 8);
    EXPECT_EQ(k80.EepromCount, 1024);
    EXPECT_EQ(k80.PlainFlag, 0);

    for (int f : {0, 1, 2, 3, 4, 5, 7, 8}) EXPECT_EQ(state.at(0, f).PayloadLength, 1) << f;
    for (int g : {2, 4, 5, 6})
        for (int f : {0, 1}) EXPECT_EQ(state.at(g, f).PayloadLength, 1) << g << "," << f;
    for (int g : {5, 6, 7, 8, 11, 16, 19, 32}) EXPECT_EQ(state.at(g, 6).PayloadLength, 1) << g;
    EXPECT_EQ(state.at(32, 6).Payload, state.at(16, 6).Payload);  // row 32 repeats row 16
    EXPECT_EQ(state.at(32, 6).Payload[0], 0);                     // a single zero byte
    for (auto [g, f] : {std::pair{1, 6}, {0, 10}, {3, 0}, {254, 46}, {32, 1}})
        EXPECT_EQ(state.at(g, f).PayloadLength, 0) << g << "," << f;

    for (int f = 0; f < kFamiliesInUse; ++f) {
        EXPECT_EQ(PendingStateOf(state, static_cast<std::int8_t>(f)), f == 6 || f == 9 ? 1 : -1);
        EXPECT_EQ(RepeatActionOf(state, static_cast<std::int8_t>(f)), f == 6 || f == 7 ? 2
                                                                      : f == 9         ? 1
                                                                                       : 0);
    }
}

TEST_F(Catalog, InitCatalogAgainKeepsInPlaceChangesAndStatesAreIndependent) {
    InitCatalog(state);
    const std::uint8_t original = state.at(0, kFamily26K80).Payload[0];
    SelectImage(state, kChip18F26K80, 0);
    ASSERT_EQ(PrepareBounds(state, kChip18F26K80, 5), Preparation::Ready);
    WriteResetJump(state);
    const std::uint8_t patched = state.at(0, kFamily26K80).Payload[0];
    ASSERT_NE(patched, original);
    InitCatalog(state);
    EXPECT_EQ(state.at(0, kFamily26K80).Payload[0], patched);
    EXPECT_EQ(state.at(0, kFamily26K80).FixBytes[7], 0);

    CatalogState fresh;  // the generated tables themselves were never touched
    InitCatalog(fresh);
    EXPECT_EQ(fresh.at(0, kFamily26K80).Payload[0], original);
    EXPECT_EQ(fresh.at(0, kFamily26K80).FixBytes[7], 0xEA);
}

TEST_F(Catalog, SharedRecordsShareTheirCopiesAfterInit) {
    static const std::uint8_t payload[20] = {1, 2, 3};
    static const std::uint8_t fix[8] = {9};
    const ImageArray arrays[] = {{payload, 20}, {fix, 8}};
    const RecordDefinition records[] = {
        {16, 6, 0, 20, 1, 8, -1, 0, 0, false, 0, 0},
        {32, 6, 0, 20, 1, 8, -1, 0, 1, true, 0x20, 0x04},
        {3, 2, 0, 21, 1, 8, -1, 0, 0, false, 0, 0},    // longer than its array: not filled
        {255, 2, 0, 20, 1, 8, -1, 0, 0, false, 0, 0},  // no such row: ignored
    };
    InitCatalog(state, CatalogDefinition{arrays, records});
    EXPECT_NE(state.at(16, 6).Payload, payload);  // a copy, not the table
    EXPECT_EQ(state.at(16, 6).Payload, state.at(32, 6).Payload);
    EXPECT_EQ(state.at(32, 6).PlainFlag, 1);
    EXPECT_EQ(state.at(32, 6).PrintCode, 0x20);
    EXPECT_EQ(state.at(3, 2).PayloadLength, 0);

    EXPECT_EQ(SelectImage(state, kChip24HJ64, 32), kFamily64);
    EXPECT_EQ(state.prepared.Payload, state.at(16, 6).Payload);
    EXPECT_EQ(state.prepared.PlainFlag, 1);
}

TEST_F(Catalog, SelectionFallsBackToRowZero) {
    FirmwareImage& def = Put(0, kFamily64, 3000);
    FirmwareImage& print11 = Put(11, kFamily64, 2000);
    Put(16, kFamily64, 2);  // exactly two bytes count as an image
    state.at(32, kFamily64) = state.at(16, kFamily64);
    state.at(2, kFamily258).PayloadLength = 1;  // declared, empty

    EXPECT_EQ(SelectImage(state, kChip33FJ64, 11), 6);
    EXPECT_EQ(state.prepared.Payload, print11.Payload);
    EXPECT_EQ(SelectImage(state, kChip24HJ64, 32), 6);
    EXPECT_EQ(state.prepared.PayloadLength, 2);
    EXPECT_EQ(state.prepared.Payload, state.at(16, kFamily64).Payload);
    for (std::uint8_t group : {0, 12, 254, 255}) {
        SelectImage(state, kChip33FJ64, group);
        EXPECT_EQ(state.prepared.Payload, def.Payload) << int(group);
    }
    print11.PayloadLength = 1;
    SelectImage(state, kChip33FJ64, 11);
    EXPECT_EQ(state.prepared.Payload, def.Payload);

    // A bare identification looks up row 2; the build has no images there nor in row 0.
    CatalogState build;
    InitCatalog(build);
    EXPECT_EQ(SelectImage(build, kChip18F258, 2), 0);
    EXPECT_EQ(build.prepared.PayloadLength, 1);
    EXPECT_EQ(PrepareBounds(build, kChip18F258, 4), Preparation::NoImage);
    SelectImage(build, kChip18F26K80, 2);
    EXPECT_EQ(build.prepared.PayloadLength, 7402);
    SelectImage(build, kChip18F26K80, 255);
    EXPECT_EQ(build.prepared.PayloadLength, 7402);

    EXPECT_EQ(SelectImage(build, 0x99, 0), kNoFamily);  // unknown chip: nothing selected
    EXPECT_EQ(build.prepared.Payload, nullptr);
    EXPECT_EQ(PrepareBounds(build, 0x99, 5), Preparation::UnknownChip);
}

// The worked-out columns: where the fix block lands and the jump written over the payload's
// start; the unit, reserve and block are the family row's own.
struct BoundsCase {
    std::uint8_t chip;
    std::uint8_t bios;
    std::int32_t fix_address;
    Bytes jump;
};

TEST_F(Catalog, ChipBoundsForEveryChipInBothBiosRanges) {
    const BoundsCase cases[] = {
        {0x42, 4, 0x7EC0, {0x80, 0xEF, 0x3F, 0xF0}},
        {0x42, 5, 0x7E40, {0x40, 0xEF, 0x3F, 0xF0}},
        {0x43, 0, 0x7EC0, {0x80, 0xEF, 0x3F, 0xF0}},
        {0x43, 255, 0x7E40, {0x40, 0xEF, 0x3F, 0xF0}},
        {0x44, 4, 0x3EC0, {0x80, 0xEF, 0x1F, 0xF0}},
        {0x44, 5, 0x3E40, {0x40, 0xEF, 0x1F, 0xF0}},
        {0x45, 4, 0x3EC0, {0x80, 0xEF, 0x1F, 0xF0}},
        {0x45, 5, 0x3E40, {0x40, 0xEF, 0x1F, 0xF0}},
        {0x46, 4, 0x1EC0, {0x80, 0xEF, 0x0F, 0xF0}},
        {0x46, 5, 0x1E40, {0x80, 0xEF, 0x0F, 0xF0}},
        {0xC7, 4, 0x3BC0, {0x00, 0xEF, 0x1E, 0xF0}},
        {0xC7, 5, 0x3BC0, {0x00, 0xEF, 0x1E, 0xF0}},
        {0x47, 4, 0x7EC0, {0x80, 0xEF, 0x3F, 0xF0}},
        {0x47, 5, 0x7E40, {0x40, 0xEF, 0x3F, 0xF0}},
        {0x48, 4, 0xFEC0, {0x80, 0xEF, 0x7F, 0xF0}},
        {0x48, 5, 0xFE40, {0x40, 0xEF, 0x7F, 0xF0}},
        {0xFC, 4, 0xA780, {0x00, 0xA8, 0x04, 0x00, 0x00, 0x00, 0x00, 0x00}},
        {0xFE, 5, 0xA780, {0x00, 0xA8, 0x04, 0x00, 0x00, 0x00, 0x00, 0x00}},
        {0xFD, 4, 0x15380, {0x00, 0x54, 0x04, 0x00, 0x01, 0x00, 0x00, 0x00}},
        {0xFD, 5, 0x15380, {0x00, 0x54, 0x04, 0x00, 0x01, 0x00, 0x00, 0x00}},
    };
    for (const BoundsCase& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << int(c.chip) << " BIOS " << int(c.bios));
        // Start from another chip's jump so that a row that sets nothing would show.
        LoadChipBounds(state, c.chip == 0xFD ? 0xFC : 0xFD, 5);
        Put(0, FamilyOf(c.chip)->column, 600);
        SelectImage(state, c.chip, 0);
        ASSERT_EQ(PrepareBounds(state, c.chip, c.bios), Preparation::Ready);
        const PreparedImage& p = state.prepared;
        const ChipFamily& row = *FamilyOf(c.chip);
        EXPECT_EQ(p.Bounds.AddressUnit, row.unit);
        EXPECT_EQ(p.Bounds.BootReserve, row.reserve[BiosRange(c.bios)]);
        EXPECT_EQ(p.BlockSize, row.block);
        EXPECT_EQ(p.FixAddress, c.fix_address);
        EXPECT_EQ(p.ProgramLength, 600);
        ASSERT_EQ(p.Bounds.ResetJumpCount, static_cast<std::int32_t>(c.jump.size()));
        EXPECT_EQ(Bytes(p.Bounds.ResetJump.begin(), p.Bounds.ResetJump.begin() + c.jump.size()),
                  c.jump);
    }
}

TEST_F(Catalog, UnknownChipLoadsNoBoundsAndNoJump) {
    EXPECT_EQ(state.prepared.Bounds.ResetJumpCount, 0);  // nothing to write before a chip
    ASSERT_TRUE(LoadChipBounds(state, kChip33FJ128, 4));
    EXPECT_FALSE(LoadChipBounds(state, 0x99, 9));
    EXPECT_EQ(state.prepared.Bounds.ResetJump[1], 0x54);  // the bounds stay as they were
    EXPECT_EQ(state.prepared.Bounds.ResetJumpCount, 8);
    EXPECT_EQ(state.prepared.Bounds.AddressUnit, 2);
    EXPECT_EQ(state.prepared.Bounds.BootReserve, 128);
}

TEST_F(Catalog, RefusalsAtTheirExactBoundaries) {
    const struct {
        std::uint8_t chip;
        std::int32_t length;
        Preparation expected;
    } cases[] = {
        {kChip33FJ128, 2 * 0x15380, Preparation::Ready},
        {kChip33FJ128, 2 * 0x15380 + 1, Preparation::ImageTooBig},
        {kChip33FJ64, 2 * 0xA780, Preparation::Ready},
        {kChip24HJ64, 2 * 0xA780 + 1, Preparation::ImageTooBig},
        {kChip33FJ64, 2, Preparation::Ready},
        {kChip33FJ64, 1, Preparation::NoImage},
        {kChip33FJ64, 0, Preparation::NoImage},
        {kChip18F2580, 2, Preparation::Ready},
        {kChip18F2580, 1, Preparation::NoImage},
        {kChip18F2580, 100000, Preparation::Ready},  // PIC18: cut, not refused
    };
    for (const auto& c : cases) {
        Put(0, FamilyOf(c.chip)->column, c.length);
        SelectImage(state, c.chip, 0);
        EXPECT_EQ(PrepareBounds(state, c.chip, 5), c.expected)
            << std::hex << int(c.chip) << std::dec << " " << c.length;
    }
}

TEST_F(Catalog, OversizedPic18ImageIsCutAtTheFixBlock) {
    Put(0, kFamily2580, 40000);
    SelectImage(state, kChip18F2580, 0);
    ASSERT_EQ(PrepareBounds(state, kChip18F2580, 4), Preparation::Ready);
    EXPECT_EQ(state.prepared.ProgramLength, 32448);
    EXPECT_EQ(LoadedText(state.prepared), "Loaded 40000 bytes (0000 to 7EC0)");
}

TEST_F(Catalog, LoadedTextWithTheBuildImages) {
    InitCatalog(state);
    const struct {
        std::uint8_t chip;
        const char* text;
    } cases[] = {{kChip18F26K80, "Loaded 7402 bytes (0000 to 1CEA)"},
                 {kChip33FJ64, "Loaded 17250 bytes (0000 to 4362)"},
                 {kChip24HJ64, "Loaded 17250 bytes (0000 to 4362)"}};
    for (const auto& c : cases) {
        SelectImage(state, c.chip, 3);
        ASSERT_EQ(PrepareBounds(state, c.chip, 5), Preparation::Ready);
        EXPECT_EQ(LoadedText(state.prepared), c.text);
    }
}

TEST_F(Catalog, K80FixBytesOfTheDefaultRecordAreZeroedFromTheFifth) {
    FirmwareImage& k25 = Put(0, kFamily25K80, 5000);
    FirmwareImage& k26 = Put(0, kFamily26K80, 5000);
    FirmwareImage& other = Put(0, kFamily2580, 5000);
    SelectImage(state, kChip18F25K80, 0);
    PrepareBounds(state, kChip18F25K80, 4);
    EXPECT_EQ(Bytes(k25.FixBytes, k25.FixBytes + 8), (Bytes{1, 2, 3, 4, 0, 0, 0, 0}));
    EXPECT_EQ(Bytes(k26.FixBytes, k26.FixBytes + 8), (Bytes{1, 2, 3, 4, 5, 6, 7, 8}));
    EXPECT_EQ(state.prepared.FixBytes, k25.FixBytes);  // the prepared image sees the change
    SelectImage(state, kChip18F26K80, 0);
    PrepareBounds(state, kChip18F26K80, 9);
    EXPECT_EQ(Bytes(k26.FixBytes, k26.FixBytes + 8), (Bytes{1, 2, 3, 4, 0, 0, 0, 0}));
    SelectImage(state, kChip18F2580, 0);
    PrepareBounds(state, kChip18F2580, 9);
    EXPECT_EQ(Bytes(other.FixBytes, other.FixBytes + 8), (Bytes{1, 2, 3, 4, 5, 6, 7, 8}));

    // Zeroing comes before the refusals: an empty K80 record with fix bytes loses them too.
    CatalogState empty;
    Bytes fix{1, 2, 3, 4, 5, 6};
    empty.at(0, kFamily25K80).FixBytes = fix.data();
    empty.at(0, kFamily25K80).FixCount = 6;
    SelectImage(empty, kChip18F25K80, 0);
    EXPECT_EQ(PrepareBounds(empty, kChip18F25K80, 5), Preparation::NoImage);
    EXPECT_EQ(fix, (Bytes{1, 2, 3, 4, 0, 0}));
}

TEST_F(Catalog, ImageCodesFromThePayloadUnlessPlain) {
    InitCatalog(state);
    SelectImage(state, kChip33FJ64, 0);
    LoadImageCodes(state, kChip33FJ64);
    EXPECT_EQ(state.prepared.PrintCode, 0x03);
    EXPECT_EQ(state.prepared.PreparationCode, 0x84);
    SelectImage(state, kChip18F26K80, 0);
    LoadImageCodes(state, kChip18F26K80);
    EXPECT_EQ(state.prepared.PrintCode, 0x00);
    EXPECT_EQ(state.prepared.PreparationCode, 0x01);

    FirmwareImage& plain = Put(0, kFamily2480, 64);
    plain.PlainFlag = -1;  // any nonzero flag; sign-extended into the prepared image
    plain.PrintCode = 7;
    plain.PreparationCode = 0x44;
    SelectImage(state, kChip18F2480, 0);
    LoadImageCodes(state, kChip18F2480);
    EXPECT_EQ(state.prepared.PlainFlag, -1);
    EXPECT_EQ(state.prepared.PrintCode, 7);
    EXPECT_EQ(state.prepared.PreparationCode, 0x44);

    Put(0, kFamily128, 1000);  // too short for the descriptor at 1024: no codes
    SelectImage(state, kChip33FJ128, 0);
    LoadImageCodes(state, kChip33FJ128);
    EXPECT_EQ(state.prepared.PrintCode, 0);
    EXPECT_EQ(state.prepared.PreparationCode, 0);
}

TEST_F(Catalog, ResetJumpWrittenOverThePayloadStart) {
    const std::uint8_t key = ScrambleKey(0, CatalogScrambled);
    FirmwareImage& dspic = Put(0, kFamily64, 600);
    SelectImage(state, kChip33FJ64, 0);
    PrepareBounds(state, kChip33FJ64, 5);
    WriteResetJump(state);
    const Bytes jump{0x00, 0xA8, 0x04, 0x00, 0x00, 0x00, 0x00, 0x00};
    for (std::size_t i = 0; i < jump.size(); ++i) EXPECT_EQ(dspic.Payload[i], jump[i] ^ key) << i;
    EXPECT_EQ(dspic.Payload[8], 0xFF);

    FirmwareImage& plain = Put(0, kFamily2580, 600);
    plain.PlainFlag = 1;
    SelectImage(state, kChip18F2580, 0);
    PrepareBounds(state, kChip18F2580, 4);
    WriteResetJump(state);
    EXPECT_EQ(Bytes(plain.Payload, plain.Payload + 5), (Bytes{0x80, 0xEF, 0x3F, 0xF0, 0xFF}));

    // A two-byte image takes only two jump bytes: nothing is written past its end.
    FirmwareImage& tiny = Put(0, kFamily248, 2);
    Bytes& guard = buffers.emplace_back(Bytes(8, 0xFF));
    tiny.Payload = guard.data();
    SelectImage(state, kChip18F248, 0);
    ASSERT_EQ(PrepareBounds(state, kChip18F248, 5), Preparation::Ready);
    WriteResetJump(state);
    EXPECT_EQ(guard,
              (Bytes{static_cast<std::uint8_t>(0x40 ^ key), static_cast<std::uint8_t>(0xEF ^ key),
                     0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}));
}

TEST_F(Catalog, PendingStateArithmetic) {
    Put(0, kFamily258, 11);  // counted
    for (int length = 2; length <= 10; ++length) {
        Put(0, kFamily2580, length);  // selected and programmed, never counted
        EXPECT_EQ(ResetPending(state), 1) << length;
        EXPECT_EQ(PendingStateOf(state, kFamily2580), -1);
        MarkDone(state, kFamily2580);
        EXPECT_EQ(state.PendingCount, 1);
        EXPECT_EQ(PendingStateOf(state, kFamily2580), 0);
    }
    MarkDone(state, kFamily258);
    MarkDone(state, kFamily258);  // twice: counted once
    EXPECT_EQ(state.PendingCount, 0);
    EXPECT_EQ(PendingStateOf(state, kFamily258), 0);
    EXPECT_EQ(ResetPending(state), 1);  // a new run
    EXPECT_EQ(PendingStateOf(state, kFamily258), 1);

    // An empty default whose print-specific image was programmed reads as done.
    Put(7, kFamily64, 3000);
    EXPECT_EQ(PendingStateOf(state, kFamily64), -1);
    MarkDone(state, kFamily64);
    EXPECT_EQ(PendingStateOf(state, kFamily64), 0);
    EXPECT_EQ(RepeatActionOf(state, kFamily64), 2);

    for (std::int8_t bad : {-1, 47, 127, -128}) {
        EXPECT_EQ(PendingStateOf(state, bad), -1);
        EXPECT_EQ(RepeatActionOf(state, bad), 0);
        MarkDone(state, bad);
    }
    EXPECT_EQ(state.PendingCount, 1);
}

}  // namespace
}  // namespace quillon::catalog
