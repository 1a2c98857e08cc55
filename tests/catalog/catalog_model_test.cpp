// Key rule, name tables, chip families and descriptor reading.
#include <gtest/gtest.h>

#include "catalog/catalog.h"

namespace quillon::catalog {
namespace {

TEST(ScrambleKey, FlagZeroGivesZeroWhateverTheVariant) {
    for (int v : {0x00, 0x01, 0x40, 0x80, 0xC0, 0xFF})
        EXPECT_EQ(ScrambleKey(static_cast<std::uint8_t>(v), 0), 0) << v;
}

TEST(ScrambleKey, IsBasePlusVariantModulo256) {
    for (int v = 0; v < 256; ++v) {
        const auto expected = static_cast<std::uint8_t>((kScrambleBase + v) % 256);
        EXPECT_EQ(ScrambleKey(static_cast<std::uint8_t>(v), 1), expected) << v;
        EXPECT_EQ(ScrambleKey(static_cast<std::uint8_t>(v), 0x80), expected) << v;
    }
    // The variant that brings the sum exactly to 256 wraps to 0.
    const auto wrap = static_cast<std::uint8_t>(256 - kScrambleBase);
    if (kScrambleBase != 0) {
        EXPECT_EQ(ScrambleKey(wrap, 1), 0);
    }
    EXPECT_EQ(BlockKey(0x1C0, 1), ScrambleKey(0xC0, 1));  // only the low byte counts
}

TEST(NameOfPrint, InsideOneTo32ElseTheOldDefault) {
    const struct {
        std::int32_t code;
        const char* name;
    } cases[] = {{0, "ZRA_R02"},        {1, "UNK"},       {2, "ZRA_R02"},
                 {21, "48372_R0x"},     {31, "32"},       {32, "ZRY_R04/583915"},
                 {33, "ZRA_R02"},       {255, "ZRA_R02"}, {-1, "ZRA_R02"},
                 {INT32_MIN, "ZRA_R02"}};
    for (const auto& c : cases) EXPECT_EQ(NameOfPrint(c.code), c.name) << c.code;
}

TEST(NameTables, ConnectorsAndPreparations) {
    for (int p = 0; p < kConnectorNameCount; ++p) {
        std::string expected = "16PIN";
        if (p <= 1) expected = "UNK";
        if (p == 2 || p == 25) expected = "14PIN";
        if (p == 14) expected = "DB9";
        if (p == 20) expected = "RJ45";
        if (p == 21) expected = "6PIN";
        EXPECT_EQ(ConnectorNames[static_cast<std::size_t>(p)], expected) << p;
    }
    ASSERT_NE(PreparationNames[2], nullptr);
    EXPECT_STREQ(PreparationNames[2], "");  // an empty text, not a missing entry
    EXPECT_STREQ(PreparationNames[10], "ETH0");
    EXPECT_STREQ(PrintNames[26], "27");
}

TEST(Families, EveryChipCodeHasItsRowAndNoOtherCodeHasOne) {
    const struct {
        std::uint8_t chip;
        std::int8_t column;
        bool sixteen_bit;
        const char* found;
        bool pad_last;
        std::uint8_t repeat_action;
    } cases[] = {{0x42, 0, false, "Found 258", false, 0},
                 {0x43, 1, false, "Found 2580", false, 0},
                 {0x44, 2, false, "Found 2480", false, 0},
                 {0x45, 3, false, "Found 248", false, 0},
                 {0x46, 4, false, "Found 2320", false, 0},
                 {0xC7, 5, false, "Found 24j10", false, 0},
                 {0xFC, 6, true, "Found 33FJ64", false, 2},
                 {0xFE, 6, true, "Found 24HJ64", false, 2},
                 {0xFD, 7, true, "Found 33FJ128 - 24HJ128", false, 2},
                 {0x47, 8, false, "Found 18F25k80", true, 0},
                 {0x48, 9, false, "Found 18F26k80", true, 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(int(c.chip));
        const ChipFamily* f = FamilyOf(c.chip);
        ASSERT_NE(f, nullptr);
        EXPECT_EQ(f->column, c.column);
        EXPECT_EQ(f->found, c.found);
        EXPECT_EQ(f->unit, c.sixteen_bit ? 2 : 1);
        EXPECT_EQ(f->block, c.sixteen_bit ? 256 : 64);
        EXPECT_EQ(f->descriptor, c.sixteen_bit ? 1024 : 14);
        EXPECT_EQ(f->refuse_oversize, c.sixteen_bit);
        EXPECT_EQ(f->protected_window, c.sixteen_bit);
        EXPECT_EQ(f->pad_last_block, c.pad_last);
        EXPECT_EQ(f->fix_bytes_kept, c.pad_last ? 4 : kAllFixBytesKept);
        EXPECT_EQ(f->repeat_action, c.repeat_action);
    }
    int rows = 0;
    for (int chip = 0; chip <= 0xFF; ++chip)
        rows += FamilyOf(static_cast<std::uint8_t>(chip)) ? 1 : 0;
    EXPECT_EQ(rows, static_cast<int>(std::size(cases)));
    EXPECT_EQ(kFamiliesInUse, 10);
    EXPECT_EQ(FamilyOfColumn(kFamiliesInUse), nullptr);
}

TEST(Families, BuilderFamilyCheckCatchesEachDifferingFact) {
    // Family 6 as the catalog builder states it: top, largest reserve, unit, descriptor, block.
    EXPECT_TRUE(BuilderFamilyAgrees(6, 0xA800, 128, 2, 1024, 256));
    EXPECT_TRUE(BuilderFamilyAgrees(9, 0x10000, 448, 1, 14, 64));
    const struct {
        int column;
        std::int32_t top, reserve, unit, descriptor, block;
    } differing[] = {{6, 0xA700, 128, 2, 1024, 256}, {6, 0xA800, 256, 2, 1024, 256},
                     {6, 0xA800, 128, 1, 1024, 256}, {6, 0xA800, 128, 2, 14, 256},
                     {6, 0xA800, 128, 2, 1024, 64},  {9, 0x10000, 320, 1, 14, 64},
                     {10, 0x8000, 448, 1, 14, 64}};
    for (const auto& d : differing)
        EXPECT_FALSE(BuilderFamilyAgrees(d.column, d.top, d.reserve, d.unit, d.descriptor, d.block))
            << d.column << " " << d.top << " " << d.reserve;
}

TEST(DescriptorCodes, UnscrambledWithVariantZeroAndNeverPastThePayload) {
    const std::uint8_t key = ScrambleKey(0, CatalogScrambled);
    std::uint8_t payload[16] = {};
    payload[14] = static_cast<std::uint8_t>(0x05 ^ key);
    payload[15] = static_cast<std::uint8_t>(0x91 ^ key);
    ImageCodes c = DescriptorCodes(payload, 16, 14);
    EXPECT_EQ(c.print, 0x05);
    EXPECT_EQ(c.preparation, 0x91);
    c = DescriptorCodes(payload, 15, 14);  // preparation byte missing
    EXPECT_EQ(c.print, 0x05);
    EXPECT_EQ(c.preparation, 0);
    c = DescriptorCodes(payload, 2, 1024);
    EXPECT_EQ(c.print, 0);
    EXPECT_EQ(c.preparation, 0);
    c = DescriptorCodes(nullptr, 2000, 1024);
    EXPECT_EQ(c.print, 0);
}

}  // namespace
}  // namespace quillon::catalog
