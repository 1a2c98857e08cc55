// The catalog listing lines.
#include <gtest/gtest.h>

#include <list>
#include <vector>

#include "catalog/listing.h"

namespace quillon::catalog {
namespace {

using Lines = std::vector<std::string>;

TEST(FormatCatalogRow, PrintAndPreparationCases) {
    const struct {
        std::int8_t row;
        std::int8_t print;
        std::uint8_t preparation;
        const char* line;
    } cases[] = {
        {0, 3, 0x84, "24HJ64 - ZRA_R03[16PIN] - CAN  RES[Code:84]"},
        {0, 3, 0x02, "24HJ64 - ZRA_R03[16PIN] -    [Code:02]"},
        {0, 3, 0x00, "24HJ64 - ZRA_R03[16PIN] - UNKNOWN   [Code:00]"},
        {0, 3, 0x10, "24HJ64 - ZRA_R03[16PIN] - UNKNOWN   [Code:10]"},
        {0, 3, 0x0B, "24HJ64 - ZRA_R03[16PIN] - UNKNOWN   [Code:0b]"},
        {0, 3, 0x91, "24HJ64 - ZRA_R03[16PIN] - CAN+SPI  RES[Code:91]"},
        {0, 3, 0x1A, "24HJ64 - ZRA_R03[16PIN] - ETH0   [Code:1a]"},  // 0x1A & 0x6F = 10
        {0, 1, 0x05, "24HJ64 - UNK[UNK] - SRV   [Code:05]"},
        {0, 14, 0x07, "24HJ64 - GGV_R03[DB9] - CDC   [Code:07]"},
        {0, 32, 0x84, "24HJ64 - ZRY_R04/583915[16PIN] - CAN  RES[Code:84]"},
        // Print codes outside 1..32: row decides the print, preparation is always unknown.
        {0, 0, 0x84, "24HJ64 - ZRA_R02[14PIN] - UNKNOWN   [Code:84]"},
        {5, 33, 0x01, "24HJ64 - ZRA_R02[14PIN] - UNKNOWN   [Code:01]"},
        {6, 0, 0x01, "24HJ64 - UNK[16PIN] - UNKNOWN   [Code:01]"},
        {7, -1, 0xFF, "24HJ64 - UNK[16PIN] - UNKNOWN   [Code:ff]"},  // print 255
        {0, -128, 0x04, "24HJ64 - ZRA_R02[14PIN] - UNKNOWN   [Code:04]"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(FormatCatalogRow(c.row, "24HJ64", c.print, c.preparation), c.line)
            << int(c.row) << " " << int(c.print) << " " << int(c.preparation);
}

TEST(FormatCatalogRow, LongFamilyNameIsNotCut) {
    const std::string name(300, 'x');
    EXPECT_EQ(FormatCatalogRow(0, name, 2, 4), name + " - ZRA_R02[14PIN] - CAN   [Code:04]");
}

class Listing : public ::testing::Test {
protected:
    CatalogState state;
    std::list<std::vector<std::uint8_t>> buffers;

    // An image whose descriptor bytes (scrambled like the payload) state print and preparation.
    FirmwareImage& Put(int group, int family, std::uint8_t print, std::uint8_t preparation) {
        const std::int32_t offset = FamilyOfColumn(family)->descriptor;
        auto& payload = buffers.emplace_back(static_cast<std::size_t>(offset + 64), 0);
        const std::uint8_t key = ScrambleKey(0, CatalogScrambled);
        payload[static_cast<std::size_t>(offset)] = print ^ key;
        payload[static_cast<std::size_t>(offset) + 1] = preparation ^ key;
        FirmwareImage& r = state.at(group, family);
        r.Payload = payload.data();
        r.PayloadLength = static_cast<std::int32_t>(payload.size());
        return r;
    }
    Lines List() {
        Lines lines;
        ListCatalog(state, lines);
        return lines;
    }
};

TEST_F(Listing, BuildCatalogListsOnlyTheDsPicDefault) {
    InitCatalog(state);
    EXPECT_EQ(List(), (Lines{"Device - Print          - Preparation",
                             "-------------------------------------",
                             "24HJ64 - ZRA_R03[16PIN] - CAN  RES[Code:84]"}));
    EXPECT_EQ(std::string(kListingSeparator).size(), std::string(kListingHeader).size());
}

TEST_F(Listing, EmptyCatalogShowsHeaderAndSeparator) {
    EXPECT_EQ(List().size(), 2u);
    Put(0, kFamily128, 3, 4);  // families 7, 8 and 9 are never listed
    Put(0, kFamily25K80, 3, 4);
    Put(0, kFamily26K80, 3, 4);
    Put(3, kFamily64, 3, 4);  // a print row that is not in the family's list
    Put(32, kFamily64, 3, 4);
    EXPECT_EQ(List().size(), 2u);
}

TEST_F(Listing, PrintRowsInTheirOrderWhenTheDefaultIsMissing) {
    Put(16, kFamily64, 16, 0x07);
    Put(5, kFamily64, 5, 0x01);
    Put(2, kFamily258, 0, 0x04).PlainFlag = 1;   // the plain flag is not consulted
    Put(6, kFamily2580, 6, 0x04).PrintCode = 9;  // nor the record's own codes
    Put(0, kFamily24J10, 0, 0x00);
    state.at(0, kFamily2480).PayloadLength = 1;  // declared, empty
    EXPECT_EQ(List(), (Lines{kListingHeader, kListingSeparator,
                             "24HJ64 - ZRC_R01[16PIN] - CAN+SPI   [Code:01]",
                             "24HJ64 - ZRY_R0x[16PIN] - CDC   [Code:07]",
                             "2580   - ZRD_R01[16PIN] - CAN   [Code:04]",
                             "258    - ZRA_R02[14PIN] - UNKNOWN   [Code:04]",
                             "24J10  - ZRA_R02[14PIN] - UNKNOWN   [Code:00]"}));

    // The default image hides the print rows of its family.
    Put(0, kFamily64, 19, 0x05);
    const Lines lines = List();
    ASSERT_EQ(lines.size(), 6u);
    EXPECT_EQ(lines[2], "24HJ64 - ZRB_R0x[16PIN] - SRV   [Code:05]");
}

TEST_F(Listing, UnknownPrintAfterTheSixthRowAndTooShortImages) {
    const int groups[] = {5, 6, 7, 8, 11, 16, 19};
    for (int g : groups) Put(g, kFamily64, 0, 0x01);
    Put(0, kFamily248, 0, 0x01);
    const Lines lines = List();
    ASSERT_EQ(lines.size(), 10u);
    EXPECT_EQ(lines[7], "24HJ64 - ZRA_R02[14PIN] - UNKNOWN   [Code:01]");  // row 5
    EXPECT_EQ(lines[8], "24HJ64 - UNK[16PIN] - UNKNOWN   [Code:01]");      // row 6
    EXPECT_EQ(lines[9], "248    - UNK[16PIN] - UNKNOWN   [Code:01]");

    // An image too short for its descriptor lists with no codes instead of reading past it.
    CatalogState short_state;
    std::uint8_t two[2] = {1, 2};
    short_state.at(0, kFamily64).Payload = two;
    short_state.at(0, kFamily64).PayloadLength = 2;
    Lines short_lines;
    ListCatalog(short_state, short_lines);
    ASSERT_EQ(short_lines.size(), 3u);
    EXPECT_EQ(short_lines[2], "24HJ64 - ZRA_R02[14PIN] - UNKNOWN   [Code:00]");
}

}  // namespace
}  // namespace quillon::catalog
