// The chip families the updater can program: one row per chip code the bootloader reports.
// Everything the selection, the preparation, the session, the listing and the virtual
// device need to know about a chip is in its row; adding a chip is adding a row (see
// docs/adding-a-chip-family.md). The static_asserts at the end keep the rows consistent
// with each other, and the generated catalog tables check the catalog builder's own family
// table against these rows.
#pragma once

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <span>
#include <string_view>

namespace quillon::catalog {

// Chip codes reported by the bootloader.
enum ChipCode : std::uint8_t {
    kChip18F258 = 0x42,
    kChip18F2580 = 0x43,
    kChip18F2480 = 0x44,
    kChip18F248 = 0x45,
    kChip18F2320 = 0x46,
    kChip18F25K80 = 0x47,
    kChip18F26K80 = 0x48,
    kChip18F24J10 = 0xC7,
    kChip33FJ64 = 0xFC,
    kChip33FJ128 = 0xFD,  // also PIC24HJ128
    kChip24HJ64 = 0xFE,
};

// Catalog columns of the chip families (the column of a record in the firmware catalog).
enum FamilyIndex : std::int8_t {
    kFamily258 = 0,
    kFamily2580 = 1,
    kFamily2480 = 2,
    kFamily248 = 3,
    kFamily2320 = 4,
    kFamily24J10 = 5,
    kFamily64 = 6,   // dsPIC33FJ64 / PIC24HJ64
    kFamily128 = 7,  // dsPIC33FJ128 / PIC24HJ128
    kFamily25K80 = 8,
    kFamily26K80 = 9,
};

// Bootloaders from this version on sit lower in flash: the reserve and the reset jump of
// a row have one entry for the versions below and one for the versions from it on.
inline constexpr std::uint8_t kFirstNewBios = 5;
inline constexpr std::size_t kBiosRanges = 2;
constexpr std::size_t BiosRange(std::uint8_t bios_version) {
    return bios_version >= kFirstNewBios ? 1 : 0;
}

inline constexpr std::int32_t kResetJumpMax = 8;  // bytes
// The jump to the bootloader's entry written over the start of the payload.
struct ResetJump {
    std::array<std::uint8_t, kResetJumpMax> bytes{};
    std::int32_t count = 0;
};

// What a sequence run does with a device whose family it has already programmed.
inline constexpr std::uint8_t kRepeatActionProgramAgain = 0;
inline constexpr std::uint8_t kRepeatActionPause = 1;   // wait, then report it passed on
inline constexpr std::uint8_t kRepeatActionPassOn = 2;  // send the pass-on frames

inline constexpr std::int32_t kAllFixBytesKept = -1;
inline constexpr std::string_view kNotListed = "";

struct ChipFamily {
    std::uint8_t chip;       // chip code
    std::int8_t column;      // catalog column; chips of one column share its records
    std::string_view found;  // the detail-panel text that names the chip
    std::string_view name;   // the chip's full name, for logs and the command line
    std::int32_t unit;       // bytes per device address
    std::int32_t block;      // programming block, bytes
    std::int32_t top;        // device addresses: flash end (PIC18) or the bootloader (16-bit)
    // Device addresses kept below `top` for the bootloader, by BIOS range: the fix block
    // goes at top - reserve.
    std::array<std::int32_t, kBiosRanges> reserve;
    std::array<ResetJump, kBiosRanges> jump;  // by BIOS range
    bool refuse_oversize;         // an image past the fix block is refused; else it is cut there
    bool pad_last_block;          // the bootloader wants whole blocks: the last is padded
    bool protected_window;        // the bootloader may name addresses not to write
    std::int32_t descriptor;      // payload offset of the print code; the preparation follows
    std::int32_t fix_bytes_kept;  // of row 0's record, for good; kAllFixBytesKept: all
    std::uint8_t repeat_action;   // in a sequence run, for an already programmed family
    std::chrono::milliseconds repeat_pause;  // with kRepeatActionPause (no window events)
    std::chrono::milliseconds settle_after;  // sequence run: given to the device after success
    // The "Version .." listing: the name (six characters, the columns line up; kNotListed
    // for none), the place among the listed families and, when row 0 holds no image, the
    // print rows listed instead, in order.
    std::string_view listing_name;
    int listing_place;
    std::span<const std::uint8_t> listing_rows;
};

namespace rows {
using std::chrono::milliseconds;
// Two-word PIC18 GOTO to the bootloader entry, one 64-byte block above the fix block.
constexpr ResetJump Goto18(std::uint8_t low, std::uint8_t high) {
    return {{low, 0xEF, high, 0xF0, 0, 0, 0, 0}, 4};
}
// A 16-bit GOTO in the bootloader's four-bytes-per-instruction layout.
constexpr ResetJump Goto16(std::uint8_t b1, std::uint8_t b4) {
    return {{0x00, b1, 0x04, 0x00, b4, 0x00, 0x00, 0x00}, 8};
}
inline constexpr std::array<std::uint8_t, 7> kListed64 = {5, 6, 7, 8, 11, 16, 19};
inline constexpr std::array<std::uint8_t, 4> kListed258 = {2, 4, 5, 6};
inline constexpr std::int32_t kPic18Block = 64;
inline constexpr std::int32_t k16BitBlock = 256;  // 128 addresses of two bytes
inline constexpr std::array<std::int32_t, kBiosRanges> kPic18Reserve = {320, 448};
inline constexpr std::array<std::int32_t, kBiosRanges> kJ10Reserve = {1088, 1088};
// The 16-bit bootloaders keep one block (128 addresses) below their own address.
inline constexpr std::array<std::int32_t, kBiosRanges> k16BitReserve = {128, 128};
inline constexpr std::int32_t kPic18Descriptor = 14;
inline constexpr std::int32_t k16BitDescriptor = 1024;  // device address 0x200
inline constexpr std::int32_t kK80FixBytesKept = 4;
inline constexpr milliseconds kNoPause{0};
inline constexpr milliseconds k26K80RepeatPause{1000};
inline constexpr milliseconds k26K80Settle{2000};
}  // namespace rows

// clang-format off
inline constexpr ChipFamily kChipFamilies[] = {
    {.chip = kChip18F258, .column = kFamily258, .found = "Found 258",
     .name = "PIC18F258",
     .unit = 1, .block = rows::kPic18Block, .top = 0x8000, .reserve = rows::kPic18Reserve,
     .jump = {rows::Goto18(0x80, 0x3F), rows::Goto18(0x40, 0x3F)},
     .refuse_oversize = false, .pad_last_block = false, .protected_window = false,
     .descriptor = rows::kPic18Descriptor, .fix_bytes_kept = kAllFixBytesKept,
     .repeat_action = kRepeatActionProgramAgain, .repeat_pause = rows::kNoPause,
     .settle_after = rows::kNoPause,
     .listing_name = "258   ", .listing_place = 3, .listing_rows = rows::kListed258},
    {.chip = kChip18F2580, .column = kFamily2580, .found = "Found 2580",
     .name = "PIC18F2580",
     .unit = 1, .block = rows::kPic18Block, .top = 0x8000, .reserve = rows::kPic18Reserve,
     .jump = {rows::Goto18(0x80, 0x3F), rows::Goto18(0x40, 0x3F)},
     .refuse_oversize = false, .pad_last_block = false, .protected_window = false,
     .descriptor = rows::kPic18Descriptor, .fix_bytes_kept = kAllFixBytesKept,
     .repeat_action = kRepeatActionProgramAgain, .repeat_pause = rows::kNoPause,
     .settle_after = rows::kNoPause,
     .listing_name = "2580  ", .listing_place = 2, .listing_rows = rows::kListed258},
    {.chip = kChip18F2480, .column = kFamily2480, .found = "Found 2480",
     .name = "PIC18F2480",
     .unit = 1, .block = rows::kPic18Block, .top = 0x4000, .reserve = rows::kPic18Reserve,
     .jump = {rows::Goto18(0x80, 0x1F), rows::Goto18(0x40, 0x1F)},
     .refuse_oversize = false, .pad_last_block = false, .protected_window = false,
     .descriptor = rows::kPic18Descriptor, .fix_bytes_kept = kAllFixBytesKept,
     .repeat_action = kRepeatActionProgramAgain, .repeat_pause = rows::kNoPause,
     .settle_after = rows::kNoPause,
     .listing_name = "2480  ", .listing_place = 4, .listing_rows = {}},
    {.chip = kChip18F248, .column = kFamily248, .found = "Found 248",
     .name = "PIC18F248",
     .unit = 1, .block = rows::kPic18Block, .top = 0x4000, .reserve = rows::kPic18Reserve,
     .jump = {rows::Goto18(0x80, 0x1F), rows::Goto18(0x40, 0x1F)},
     .refuse_oversize = false, .pad_last_block = false, .protected_window = false,
     .descriptor = rows::kPic18Descriptor, .fix_bytes_kept = kAllFixBytesKept,
     .repeat_action = kRepeatActionProgramAgain, .repeat_pause = rows::kNoPause,
     .settle_after = rows::kNoPause,
     .listing_name = "248   ", .listing_place = 5, .listing_rows = {}},
    // The entry stays at 0x1F00 for every BIOS.
    {.chip = kChip18F2320, .column = kFamily2320, .found = "Found 2320",
     .name = "PIC18F2320",
     .unit = 1, .block = rows::kPic18Block, .top = 0x2000, .reserve = rows::kPic18Reserve,
     .jump = {rows::Goto18(0x80, 0x0F), rows::Goto18(0x80, 0x0F)},
     .refuse_oversize = false, .pad_last_block = false, .protected_window = false,
     .descriptor = rows::kPic18Descriptor, .fix_bytes_kept = kAllFixBytesKept,
     .repeat_action = kRepeatActionProgramAgain, .repeat_pause = rows::kNoPause,
     .settle_after = rows::kNoPause,
     .listing_name = "2320  ", .listing_place = 6, .listing_rows = {}},
    {.chip = kChip18F24J10, .column = kFamily24J10, .found = "Found 24j10",
     .name = "PIC18F24J10",
     .unit = 1, .block = rows::kPic18Block, .top = 0x4000, .reserve = rows::kJ10Reserve,
     .jump = {rows::Goto18(0x00, 0x1E), rows::Goto18(0x00, 0x1E)},
     .refuse_oversize = false, .pad_last_block = false, .protected_window = false,
     .descriptor = rows::kPic18Descriptor, .fix_bytes_kept = kAllFixBytesKept,
     .repeat_action = kRepeatActionProgramAgain, .repeat_pause = rows::kNoPause,
     .settle_after = rows::kNoPause,
     .listing_name = "24J10 ", .listing_place = 7, .listing_rows = {}},
    // The K80 bootloaders want whole blocks and keep the first four fix bytes only.
    {.chip = kChip18F25K80, .column = kFamily25K80, .found = "Found 18F25k80",
     .name = "PIC18F25K80",
     .unit = 1, .block = rows::kPic18Block, .top = 0x8000, .reserve = rows::kPic18Reserve,
     .jump = {rows::Goto18(0x80, 0x3F), rows::Goto18(0x40, 0x3F)},
     .refuse_oversize = false, .pad_last_block = true, .protected_window = false,
     .descriptor = rows::kPic18Descriptor, .fix_bytes_kept = rows::kK80FixBytesKept,
     .repeat_action = kRepeatActionProgramAgain, .repeat_pause = rows::kNoPause,
     .settle_after = rows::kNoPause,
     .listing_name = kNotListed, .listing_place = 0, .listing_rows = {}},
    {.chip = kChip18F26K80, .column = kFamily26K80, .found = "Found 18F26k80",
     .name = "PIC18F26K80",
     .unit = 1, .block = rows::kPic18Block, .top = 0x10000, .reserve = rows::kPic18Reserve,
     .jump = {rows::Goto18(0x80, 0x7F), rows::Goto18(0x40, 0x7F)},
     .refuse_oversize = false, .pad_last_block = true, .protected_window = false,
     .descriptor = rows::kPic18Descriptor, .fix_bytes_kept = rows::kK80FixBytesKept,
     .repeat_action = kRepeatActionPause, .repeat_pause = rows::k26K80RepeatPause,
     .settle_after = rows::k26K80Settle,
     .listing_name = kNotListed, .listing_place = 0, .listing_rows = {}},
    // GOTO 0xA800. The column is listed once, under the PIC24HJ64 row.
    {.chip = kChip33FJ64, .column = kFamily64, .found = "Found 33FJ64",
     .name = "dsPIC33FJ64",
     .unit = 2, .block = rows::k16BitBlock, .top = 0xA800, .reserve = rows::k16BitReserve,
     .jump = {rows::Goto16(0xA8, 0x00), rows::Goto16(0xA8, 0x00)},
     .refuse_oversize = true, .pad_last_block = false, .protected_window = true,
     .descriptor = rows::k16BitDescriptor, .fix_bytes_kept = kAllFixBytesKept,
     .repeat_action = kRepeatActionPassOn, .repeat_pause = rows::kNoPause,
     .settle_after = rows::kNoPause,
     .listing_name = kNotListed, .listing_place = 0, .listing_rows = {}},
    {.chip = kChip24HJ64, .column = kFamily64, .found = "Found 24HJ64",
     .name = "PIC24HJ64",
     .unit = 2, .block = rows::k16BitBlock, .top = 0xA800, .reserve = rows::k16BitReserve,
     .jump = {rows::Goto16(0xA8, 0x00), rows::Goto16(0xA8, 0x00)},
     .refuse_oversize = true, .pad_last_block = false, .protected_window = true,
     .descriptor = rows::k16BitDescriptor, .fix_bytes_kept = kAllFixBytesKept,
     .repeat_action = kRepeatActionPassOn, .repeat_pause = rows::kNoPause,
     .settle_after = rows::kNoPause,
     .listing_name = "24HJ64", .listing_place = 1, .listing_rows = rows::kListed64},
    // GOTO 0x15400.
    {.chip = kChip33FJ128, .column = kFamily128, .found = "Found 33FJ128 - 24HJ128",
     .name = "dsPIC33FJ128/PIC24HJ128",
     .unit = 2, .block = rows::k16BitBlock, .top = 0x15400, .reserve = rows::k16BitReserve,
     .jump = {rows::Goto16(0x54, 0x01), rows::Goto16(0x54, 0x01)},
     .refuse_oversize = true, .pad_last_block = false, .protected_window = true,
     .descriptor = rows::k16BitDescriptor, .fix_bytes_kept = kAllFixBytesKept,
     .repeat_action = kRepeatActionPassOn, .repeat_pause = rows::kNoPause,
     .settle_after = rows::kNoPause,
     .listing_name = kNotListed, .listing_place = 0, .listing_rows = {}},
};
// clang-format on

// The row of a chip code; nullptr for a chip no row names.
constexpr const ChipFamily* FamilyOf(std::uint8_t chip) {
    for (const ChipFamily& f : kChipFamilies)
        if (f.chip == chip) return &f;
    return nullptr;
}

// The first row of a catalog column; nullptr for a column no chip uses.
constexpr const ChipFamily* FamilyOfColumn(int column) {
    for (const ChipFamily& f : kChipFamilies)
        if (f.column == column) return &f;
    return nullptr;
}

// Catalog columns in use: 0 .. kFamiliesInUse - 1.
inline constexpr int kFamiliesInUse = [] {
    int count = 0;
    for (const ChipFamily& f : kChipFamilies) count = std::max(count, f.column + 1);
    return count;
}();

// Rows of one column share the column's records, so they agree on what the records hold
// and how the run treats them.
constexpr bool SameColumnFacts(const ChipFamily& a, const ChipFamily& b) {
    return a.unit == b.unit && a.block == b.block && a.descriptor == b.descriptor &&
           a.fix_bytes_kept == b.fix_bytes_kept && a.repeat_action == b.repeat_action &&
           a.repeat_pause == b.repeat_pause && a.settle_after == b.settle_after;
}

// Whether a family as the catalog builder describes it (flash top, the largest bootloader
// reserve, address unit, descriptor offset, block size) agrees with every row of its
// column. The generated tables assert it for each of the builder's families.
constexpr bool BuilderFamilyAgrees(int column, std::int32_t top, std::int32_t largest_reserve,
                                   std::int32_t unit, std::int32_t descriptor, std::int32_t block) {
    bool found = false;
    for (const ChipFamily& f : kChipFamilies) {
        if (f.column != column) continue;
        found = true;
        const std::int32_t reserve = std::max(f.reserve[0], f.reserve[1]);
        if (f.top != top || reserve != largest_reserve || f.unit != unit ||
            f.descriptor != descriptor || f.block != block)
            return false;
    }
    return found;
}

namespace rows {
constexpr bool RowsAreSound() {
    for (std::size_t i = 0; i < std::size(kChipFamilies); ++i) {
        const ChipFamily& f = kChipFamilies[i];
        if (f.column < 0 || f.unit < 1 || f.block < 1 || f.block % f.unit != 0) return false;
        if (f.found.empty() || f.descriptor < 0) return false;
        for (std::size_t range = 0; range < kBiosRanges; ++range) {
            if (f.reserve[range] < f.block / f.unit || f.reserve[range] >= f.top) return false;
            if (f.jump[range].count < 1 || f.jump[range].count > kResetJumpMax) return false;
        }
        for (std::size_t j = 0; j < std::size(kChipFamilies); ++j) {
            const ChipFamily& g = kChipFamilies[j];
            if (i == j) continue;
            if (f.chip == g.chip) return false;  // one row per chip code
            if (f.column == g.column && !SameColumnFacts(f, g)) return false;
            if (f.column == g.column && f.listing_place != 0 && g.listing_place != 0) return false;
            if (f.listing_place != 0 && f.listing_place == g.listing_place) return false;
        }
        if ((f.listing_place != 0) == f.listing_name.empty()) return false;
    }
    return true;
}
}  // namespace rows
static_assert(rows::RowsAreSound(),
              "a chip row is inconsistent: duplicate chip code, column facts that differ "
              "between rows of one column, a listing place taken twice, or bad bounds");

}  // namespace quillon::catalog
