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

TEST(Families, ChipCodesMapToColumns) {
    const struct {
        std::uint8_t chip;
        std::int8_t family;
        bool sixteen_bit;
    } cases[] = {{0x42, 0, false}, {0x43, 1, false}, {0x44, 2, false}, {0x45, 3, false},
                 {0x46, 4, false}, {0xC7, 5, false}, {0xFC, 6, true},  {0xFE, 6, true},
                 {0xFD, 7, true},  {0x47, 8, false}, {0x48, 9, false}};
    for (const auto& c : cases) {
        EXPECT_EQ(FamilyOfChip(c.chip), c.family) << int(c.chip);
        EXPECT_EQ(Is16BitChip(c.chip), c.sixteen_bit) << int(c.chip);
        EXPECT_TRUE(IsKnownChip(c.chip)) << int(c.chip);
        EXPECT_EQ(DescriptorOffsetOfFamily(c.family), c.sixteen_bit ? 1024 : 14);
    }
    for (std::uint8_t unknown : {0x00, 0x41, 0x49, 0xC6, 0xFB, 0xFF}) {
        EXPECT_EQ(FamilyOfChip(unknown), 0) << int(unknown);
        EXPECT_FALSE(IsKnownChip(unknown)) << int(unknown);
    }
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
