// Every branch of the suitability table: each device kind (the device's preparation code
// AND 0x0F) with each image kind it takes and one it refuses, reached past the rules that
// come before the kind table (equal codes, device 3 with a RES image, RES with RES, the
// device's exclusive bit), with the RES and exclusive bits set and clear.
#include <gtest/gtest.h>

#include "engine/session.h"

namespace quillon::engine {
namespace {

struct PreparationRow {
    std::uint8_t device;  // DQ
    std::uint8_t image;   // IQ
    bool suits;
    const char* why;
};

void PrintTo(const PreparationRow& row, std::ostream* os) {
    *os << row.why;
}

class Preparation : public ::testing::TestWithParam<PreparationRow> {};

TEST_P(Preparation, DecidesByTheFirstRuleThatApplies) {
    const PreparationRow& row = GetParam();
    DeviceIdentity device;
    device.VersionReported = 1;
    device.PrintCode = 9;
    device.PreparationCode = row.device;
    // Same print on both sides: only the preparation decides.
    EXPECT_EQ(CheckSuitability(device, 9, row.image), row.suits) << row.why;
}

// Codes are chosen so that no earlier rule decides: the codes differ, the image has no
// RES bit unless the device has none either and is not 3, and so on.
constexpr PreparationRow kPreparationRows[] = {
    // Rules before the kind table.
    {0x46, 0x46, true, "equal codes, even a kind of its own"},
    {0x03, 0x80, true, "device 3 takes a RES image of any kind"},
    {0x03, 0x00, false, "device 3 without RES on the image: kind 0 is not 3"},
    {0x83, 0x8F, true, "RES device, RES image"},
    {0x81, 0x05, false, "RES device, image without RES: kind 1 does not take 5"},
    {0x81, 0x04, true, "RES device, image without RES: kind 1 takes 4"},
    {0x11, 0x01, false, "exclusive device, image without the bit"},
    {0x12, 0x82, false, "exclusive device, RES image without the bit"},
    {0x91, 0x01, false, "exclusive RES device, image without either bit"},
    {0x11, 0x14, true, "exclusive bit on both: kind 1 takes 4"},
    {0x12, 0x15, false, "exclusive bit on both: kind 2 does not take 5"},
    {0x01, 0x11, true, "the image's exclusive bit alone is no obstacle (kind 1 of 0x11)"},
    // Device kind 1: image kinds 1 and 4.
    {0x01, 0x81, true, "kind 1, image kind 1 with RES"},
    {0x01, 0x04, true, "kind 1, image kind 4"},
    {0x01, 0x84, true, "kind 1, image kind 4 with RES"},
    {0x01, 0x02, false, "kind 1 refuses 2"},
    {0x01, 0x05, false, "kind 1 refuses 5"},
    {0x01, 0x21, false, "kind 1 refuses 0x21: bit 5 belongs to the image kind"},
    // Device kind 2: image kinds 1, 2 and 4.
    {0x02, 0x01, true, "kind 2, image kind 1"},
    {0x02, 0x82, true, "kind 2, image kind 2 with RES"},
    {0x02, 0x12, true, "kind 2, image kind 2 with the exclusive bit"},
    {0x02, 0x92, true, "kind 2, image kind 2 with RES and exclusive bits"},
    {0x02, 0x04, true, "kind 2, image kind 4"},
    {0x02, 0x03, false, "kind 2 refuses 3"},
    {0x02, 0x05, false, "kind 2 refuses 5"},
    {0x02, 0x22, false, "kind 2 refuses 0x22"},
    // Device kind 5: image kinds 4 and 5.
    {0x05, 0x04, true, "kind 5, image kind 4"},
    {0x05, 0x85, true, "kind 5, image kind 5 with RES"},
    {0x05, 0x15, true, "kind 5, image kind 5 with the exclusive bit"},
    {0x05, 0x01, false, "kind 5 refuses 1"},
    {0x05, 0x02, false, "kind 5 refuses 2"},
    {0x05, 0x45, false, "kind 5 refuses 0x45"},
    // Any other device kind: the same kind only.
    {0x06, 0x86, true, "kind 6, image kind 6 with RES"},
    {0x06, 0x16, true, "kind 6, image kind 6 with the exclusive bit"},
    {0x06, 0x04, false, "kind 6 refuses 4"},
    {0x06, 0x46, false, "kind 6 refuses 0x46"},
    {0x00, 0x80, true, "kind 0, image kind 0 with RES"},
    {0x00, 0x01, false, "kind 0 refuses 1"},
    {0x04, 0x84, true, "kind 4, image kind 4 with RES"},
    {0x04, 0x01, false, "kind 4 refuses 1"},
    {0x0F, 0x8F, true, "kind 15, image kind 15 with RES"},
    {0x0F, 0x0E, false, "kind 15 refuses 14"},
    {0x43, 0x84, false, "device 0x43 is not device 3: a RES image must be of kind 3"},
    // The device's own RES and exclusive bits do not enter its kind.
    {0x82, 0x02, true, "RES device of kind 2, image kind 2"},
    {0x82, 0x05, false, "RES device of kind 2 refuses 5"},
    {0x85, 0x05, true, "RES device of kind 5, image kind 5"},
    {0x15, 0x14, true, "exclusive device of kind 5, exclusive image kind 4"},
    {0x15, 0x11, false, "exclusive device of kind 5 refuses exclusive kind 1"},
    {0x16, 0x96, true, "exclusive device of kind 6, RES exclusive image kind 6"},
};

INSTANTIATE_TEST_SUITE_P(Rows, Preparation, ::testing::ValuesIn(kPreparationRows));

}  // namespace
}  // namespace quillon::engine
