// The programming session on the fake clock against the in-process virtual device: packet
// layouts, the protected window, failures per packet, the entry command, the sequence mode
// and this build's images programmed end to end.
#include "engine/session.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "catalog/scramble.h"
#include "tests/engine/session_rig.h"

namespace quillon::engine {
namespace {

using namespace std::chrono_literals;
using testing::Bytes;
using testing::SessionRig;

// A synthetic image installed as row 0's record of a family. Its descriptor bytes state
// print 0 (an image for every print) where the payload is long enough to hold them.
struct TestImage {
    Bytes payload, fix, eeprom;
    TestImage(std::size_t length, std::int32_t descriptor_at, std::size_t eeprom_count = 0)
        : payload(length), fix{0xA1, 0xA2, 0xA3, 0xA4, 0xA5, 0xA6}, eeprom(eeprom_count) {
        for (std::size_t i = 0; i < length; ++i) payload[i] = static_cast<std::uint8_t>(i * 7 + 3);
        const std::uint8_t key0 = catalog::ScrambleKey(0, catalog::CatalogScrambled);
        for (std::size_t i : {std::size_t(descriptor_at), std::size_t(descriptor_at) + 1})
            if (i < length) payload[i] = key0;  // code 0 once unscrambled
        for (std::size_t i = 0; i < eeprom_count; ++i)
            eeprom[i] = static_cast<std::uint8_t>(0x30 + i);
    }
    void Install(catalog::CatalogState& c, std::uint8_t chip, std::int8_t plain = 0) {
        catalog::FirmwareImage& r = c.at(0, catalog::FamilyOf(chip)->column);
        r.Payload = payload.data();
        r.PayloadLength = static_cast<std::int32_t>(payload.size());
        r.FixBytes = fix.data();
        r.FixCount = static_cast<std::int32_t>(fix.size());
        r.EepromBytes = eeprom.data();
        r.EepromCount = static_cast<std::int32_t>(eeprom.size());
        r.PlainFlag = plain;
        catalog::ResetPending(c);
    }
};

TestImage ImageFor(std::uint8_t chip, std::size_t length, std::size_t eeprom = 0) {
    return TestImage(length, static_cast<std::size_t>(catalog::FamilyOf(chip)->descriptor), eeprom);
}

devsim::Options Device(std::uint8_t chip, std::uint8_t bios = 7) {
    devsim::Options o;
    o.chip = chip;
    o.bios = bios;
    return o;
}

std::uint32_t AddressOf(const Bytes& p) {
    return (std::uint32_t{p[0]} << 16) | (std::uint32_t{p[1]} << 8) | p[2];
}

// ---------------------------------------------------------------------------------------
// Packet layouts

struct BlockRow {
    std::uint32_t address;
    Bytes length_field;
    std::size_t data;  // payload bytes carried
    std::size_t pad;   // fill bytes after them
};
struct LayoutCase {
    const char* name;
    std::uint8_t chip;
    std::size_t length;
    std::int8_t plain;
    std::vector<BlockRow> blocks;
    std::uint32_t fix_address;
    Bytes fix_length_field;
};
void PrintTo(const LayoutCase& c, std::ostream* os) {
    *os << c.name;
}

class PacketLayout : public ::testing::TestWithParam<LayoutCase> {};

TEST_P(PacketLayout, BlocksAndFixBlockOnTheWire) {
    const LayoutCase& c = GetParam();
    SessionRig rig(Device(c.chip));
    TestImage image = ImageFor(c.chip, c.length, 2);
    image.Install(rig.catalog, c.chip, c.plain);
    ASSERT_EQ(rig.Run().remaining, 0);
    EXPECT_EQ(rig.ui.Of("outcome"), std::vector<std::string>{" Program Ok "});

    const auto& packets = rig.packets();
    ASSERT_EQ(packets.size(), c.blocks.size() + 1 + 2);  // blocks, fix block, 2 EEPROM bytes
    const auto unit = static_cast<std::uint32_t>(catalog::FamilyOf(c.chip)->unit);
    for (std::size_t k = 0; k < c.blocks.size(); ++k) {
        const BlockRow& row = c.blocks[k];
        const Bytes& p = packets[k];
        const std::size_t header = 3 + row.length_field.size();
        ASSERT_EQ(p.size(), header + row.data + row.pad + 1) << "block " << k;
        EXPECT_EQ(AddressOf(p), row.address) << "block " << k;
        EXPECT_EQ(Bytes(p.begin() + 3, p.begin() + header), row.length_field) << "block " << k;
        // Payload bytes as stored (the reset jump already written over the first ones).
        const std::size_t offset = row.address * unit;
        EXPECT_TRUE(std::equal(p.begin() + header, p.begin() + header + row.data,
                               image.payload.begin() + offset))
            << "block " << k;
        const std::uint8_t fill = 0xFF ^ catalog::BlockKey(row.address, catalog::CatalogScrambled);
        for (std::size_t i = 0; i < row.pad; ++i)
            EXPECT_EQ(p[header + row.data + i], fill) << "block " << k << " pad " << i;
    }

    const Bytes& fix = packets[c.blocks.size()];
    EXPECT_EQ(AddressOf(fix), c.fix_address);
    const std::size_t header = 3 + c.fix_length_field.size();
    EXPECT_EQ(Bytes(fix.begin() + 3, fix.begin() + header), c.fix_length_field);
    const std::size_t block = fix.size() - header - 1;
    const std::uint8_t key =
        c.plain ? 0 : catalog::BlockKey(c.fix_address, catalog::CatalogScrambled);
    for (std::size_t i = 0; i < block; ++i) {
        const std::size_t from_end = block - i;
        const std::uint8_t plain =
            from_end <= image.fix.size() ? image.fix[image.fix.size() - from_end] : 0xFF;
        EXPECT_EQ(fix[header + i], plain ^ key) << "fix byte " << i;
    }
    EXPECT_EQ(packets[c.blocks.size() + 1], (Bytes{0x40, 0x00, 0x30, 0x01, 0x00, 0x8F}));
    EXPECT_EQ(packets[c.blocks.size() + 2], (Bytes{0x40, 0x01, 0x31, 0x01, 0x00, 0x8D}));
}

INSTANTIATE_TEST_SUITE_P(
    Session, PacketLayout,
    ::testing::Values(
        LayoutCase{"Pic18Of130",
                   0x42,
                   130,
                   0,
                   {{0, {0x40}, 64, 0}, {64, {0x40}, 64, 0}, {128, {0x02}, 2, 0}},
                   0x7E40,
                   {0x40}},
        LayoutCase{
            "Pic18Of128", 0x42, 128, 0, {{0, {0x40}, 64, 0}, {64, {0x40}, 64, 0}}, 0x7E40, {0x40}},
        LayoutCase{"K80Of130PadsTheLastBlock",
                   0x48,
                   130,
                   0,
                   {{0, {0x40}, 64, 0}, {64, {0x40}, 64, 0}, {128, {0x40}, 2, 62}},
                   0xFE40,
                   {0x40}},
        LayoutCase{"K80PlainFixBlockButKeyedPadding",
                   0x48,
                   130,
                   1,
                   {{0, {0x40}, 64, 0}, {64, {0x40}, 64, 0}, {128, {0x40}, 2, 62}},
                   0xFE40,
                   {0x40}},
        LayoutCase{
            "J10Of65", 0xC7, 65, 0, {{0, {0x40}, 64, 0}, {64, {0x01}, 1, 0}}, 0x3BC0, {0x40}},
        LayoutCase{
            "WideOf600",
            0xFC,
            600,
            0,
            {{0, {0x01, 0x00}, 256, 0}, {128, {0x01, 0x00}, 256, 0}, {256, {0x00, 0x58}, 88, 0}},
            0xA780,
            {0x01, 0x00}},
        LayoutCase{"Wide128Of512",
                   0xFD,
                   512,
                   0,
                   {{0, {0x01, 0x00}, 256, 0}, {128, {0x01, 0x00}, 256, 0}},
                   0x15380,
                   {0x01, 0x00}}),
    [](const auto& info) { return std::string(info.param.name); });

// What each edition shows while the blocks go out, and the progress bar's course.
TEST(Session, ActivityAndProgressByEdition) {
    struct Row {
        Edition edition;
        std::vector<std::string> activity;
    };
    const Row rows[] = {
        {Edition::Updater,
         {"Entry in PrgMode", "Program 00000 (00000)", "Program 00064 (00040)",
          "Program 00128 (00080)", "Fix Program", "Program EEP 0", "Program EEP 1"}},
        {Edition::Upgrade,
         {"Entry in PrgMode", "Fix Program", "Program EEP 0", "Program EEP 1", "Program OK"}},
        {Edition::Loader, {"Entry in PrgMode"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(static_cast<int>(row.edition));
        SessionRig rig(Device(0x42));
        rig.ui.edition_value = row.edition;
        TestImage image = ImageFor(0x42, 130, 2);
        image.Install(rig.catalog, 0x42);
        ASSERT_EQ(rig.Run().remaining, 0);
        EXPECT_EQ(rig.ui.Panels(PanelSlot::ActivityPanel), row.activity);
        EXPECT_EQ(rig.ui.Values("progress.max"), (std::vector<long>{130, 2}));
        EXPECT_EQ(rig.ui.Values("progress.pos"), (std::vector<long>{0, 0, 64, 128, 0, 0, 1, 0}));
        EXPECT_FALSE(rig.ui.running);
    }
}

// ---------------------------------------------------------------------------------------
// Protected window

struct WindowCase {
    const char* name;
    std::uint8_t chip;
    std::uint16_t start, extent;
    std::vector<std::uint32_t> skipped;
};
void PrintTo(const WindowCase& c, std::ostream* os) {
    *os << c.name;
}
class ProtectedWindowSkip : public ::testing::TestWithParam<WindowCase> {};

TEST_P(ProtectedWindowSkip, BlocksEndingInTheWindowAreNotSent) {
    const WindowCase& c = GetParam();
    devsim::Options o = Device(c.chip, 9);
    o.extended = true;
    o.window_start = c.start;
    o.window_extent = c.extent;
    SessionRig rig(o);
    const bool wide = catalog::FamilyOf(c.chip)->unit == 2;
    // Blocks at addresses 0 .. 0x1900; the last holds 200 bytes (16-bit) or 36 (PIC18).
    const std::size_t length = wide ? 13000 : 6436;
    TestImage image = ImageFor(c.chip, length);
    image.Install(rig.catalog, c.chip);
    ASSERT_EQ(rig.Run().remaining, 0);
    EXPECT_EQ(rig.ui.Of("outcome"), std::vector<std::string>{" Program Ok "});

    const std::uint32_t step = wide ? 128 : 64;
    std::vector<std::uint32_t> expected;
    for (std::uint32_t a = 0; a <= 0x1900; a += step)
        if (std::find(c.skipped.begin(), c.skipped.end(), a) == c.skipped.end())
            expected.push_back(a);
    std::vector<std::uint32_t> sent;
    const auto& packets = rig.packets();
    for (std::size_t k = 0; k + 1 < packets.size(); ++k) sent.push_back(AddressOf(packets[k]));
    EXPECT_EQ(sent, expected);
    EXPECT_EQ(rig.engine.protected_window.start, wide ? c.start : 0);
}

std::vector<std::uint32_t> Range(std::uint32_t from, std::uint32_t to, std::uint32_t step) {
    std::vector<std::uint32_t> v;
    for (std::uint32_t a = from; a <= to; a += step) v.push_back(a);
    return v;
}

INSTANTIATE_TEST_SUITE_P(
    Session, ProtectedWindowSkip,
    ::testing::Values(WindowCase{"Window1000Extent800", 0xFC, 0x1000, 0x800,
                                 Range(0x0F80, 0x1780, 128)},
                      WindowCase{"StartZeroIsNoWindow", 0xFC, 0, 0x800, {}},
                      WindowCase{"EmptyWindowStillEndsABlock", 0xFE, 0x1000, 0, {0x0F80}},
                      WindowCase{"OneAddressAtABlockEnd", 0xFC, 0x0FFF, 1, {0x0F80}},
                      WindowCase{"OneAddressAtABlockStart", 0xFC, 0x1000, 1, {0x0F80}},
                      WindowCase{"StraddlesTwoBlocks", 0xFD, 0x1080, 0x81, {0x1000, 0x1080}},
                      WindowCase{"TheLastBlockIsAlwaysSent", 0xFC, 0x1900, 0x100, {0x1880}},
                      WindowCase{"Pic18IgnoresTheWindow", 0x48, 0x40, 0x40, {}}),
    [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------------------
// Failures per packet: 1 block 0, 2 block 64, 3 last block, 4 fix block, 5-6 EEPROM.

TEST(Session, NoAnswerAndRejectionsByPacket) {
    struct Row {
        const char* name;
        devsim::PacketRule ignore, reject;
        int result_packets;  // packets received by the device
        std::string outcome;
        bool block0_written;
    };
    const Row rows[] = {
        // A block without an answer ends the session: never a hole in the program.
        {"first block unanswered", {0, 1, 0}, {}, 1, " not Response ", false},
        {"middle block unanswered", {0, 0, 2}, {}, 2, " not Response ", true},
        {"last block unanswered", {0, 0, 3}, {}, 3, " not Response ", true},
        {"fix block unanswered", {0, 0, 4}, {}, 4, " not Response ", true},
        {"EEPROM byte unanswered", {0, 0, 6}, {}, 6, " not Response ", true},
        {"middle block rejected five times", {}, {0, 0, 2}, 1 + 5, " CHK Error !! ", true},
        {"last block rejected five times", {}, {0, 0, 3}, 2 + 5, " CHK Error !! ", true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        devsim::Options o = Device(0x42);
        o.ignore = row.ignore;
        o.reject = row.reject;
        SessionRig rig(o);
        TestImage image = ImageFor(0x42, 130, 2);
        image.Install(rig.catalog, 0x42);
        EXPECT_EQ(rig.Run().remaining, 0);
        EXPECT_EQ(rig.ui.Of("outcome"), std::vector<std::string>{row.outcome});
        EXPECT_EQ(static_cast<int>(rig.packets().size()), row.result_packets);
        EXPECT_EQ(rig.device->flash().count(0) == 1, row.block0_written);
        EXPECT_FALSE(rig.ui.running);
        // An unanswered packet costs its full wait.
        if (row.ignore.first_k || row.ignore.from_m) {
            EXPECT_EQ(rig.ui.Of("outcome").back(), " not Response ");
            EXPECT_GE(rig.elapsed(), 2000ms);
        }
        // Only success marks the family done.
        EXPECT_EQ(catalog::PendingStateOf(rig.catalog, catalog::kFamily258),
                  row.outcome == " Program Ok " ? 0 : 1);
    }
}

TEST(Session, AHungUpLineEndsTheSessionAtOnce) {
    devsim::Options o = Device(0x42);
    o.hang_up_after = 3;  // the cable is pulled after the third block
    SessionRig rig(o);
    TestImage image = ImageFor(0x42, 64 * 10, 2);
    image.Install(rig.catalog, 0x42);
    EXPECT_EQ(rig.Run().end, SessionEnd::Ended);
    EXPECT_EQ(rig.ui.Of("outcome"), std::vector<std::string>{" not Response "});
    EXPECT_EQ(rig.packets().size(), 3u);
    EXPECT_FALSE(rig.ui.running);
    EXPECT_LT(rig.elapsed(), std::chrono::milliseconds(kPacketWaitMs));
    EXPECT_EQ(catalog::PendingStateOf(rig.catalog, catalog::kFamily258), 1);
}

TEST(Session, StopWhileABlockWaits) {
    devsim::Options o = Device(0x42);
    o.answer_delay = 1ms;
    SessionRig rig(o);
    TestImage image = ImageFor(0x42, 130, 2);
    image.Install(rig.catalog, 0x42);
    rig.pump.set_ui_hook([&rig](Clock::time_point) {
        if (rig.device->stats().packets == 2) rig.ui.stop = true;
    });
    EXPECT_EQ(rig.Run().remaining, 0);
    EXPECT_EQ(rig.ui.Of("outcome"), std::vector<std::string>{" User Abort !! "});
    EXPECT_EQ(rig.packets().size(), 2u);  // nothing after the stopped block
    EXPECT_EQ(rig.device->flash().size(), 128u);
}

// ---------------------------------------------------------------------------------------
// Identification: versions, entry command, refusals

TEST(Session, EntryCommandAndVersionLimits) {
    struct Row {
        const char* name;
        bool version_form;
        std::uint8_t bios;
        int entries;
        std::string outcome;
        std::size_t packets;
    };
    const Row rows[] = {
        {"bare chip code", false, 0, 0, " Program Ok ", 5},
        {"version 4", true, 4, 0, " Program Ok ", 5},
        {"version 5", true, 5, 1, " Program Ok ", 5},
        {"version 32", true, 32, 1, " Program Ok ", 5},
        {"version 33", true, 33, 0, " Incompatible Bootloader !! ", 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        devsim::Options o = Device(0x42, row.bios);
        o.version_form = row.version_form;
        SessionRig rig(o);
        TestImage image = ImageFor(0x42, 130, 1);
        image.Install(rig.catalog, 0x42);
        EXPECT_EQ(rig.Run().remaining, 0);
        EXPECT_EQ(rig.device->stats().entries, row.entries);
        const auto activity = rig.ui.Panels(PanelSlot::ActivityPanel);
        EXPECT_EQ(std::count(activity.begin(), activity.end(), "Entry in PrgMode"), row.entries);
        EXPECT_EQ(rig.ui.Of("outcome"), std::vector<std::string>{row.outcome});
        EXPECT_EQ(rig.packets().size(), row.packets);
        // The device report comes before the refusal of a version above 32.
        EXPECT_EQ(rig.ui.Of("label3").size(), 1u);
    }
}

TEST(Session, StopDuringTheEntryCommandEndsTheSessionBeforeAnyBlock) {
    devsim::Options o = Device(0x42);
    o.answer_delay = 1ms;
    SessionRig rig(o);
    TestImage image = ImageFor(0x42, 130);
    image.Install(rig.catalog, 0x42);
    rig.pump.set_ui_hook([&rig](Clock::time_point) {
        if (rig.device->stats().entries == 1) rig.ui.stop = true;
    });
    EXPECT_EQ(rig.Run().remaining, 0);
    EXPECT_EQ(rig.ui.Of("outcome"), std::vector<std::string>{" User Abort !! "});
    EXPECT_TRUE(rig.packets().empty());
    EXPECT_EQ(image.payload[0], 0 * 7 + 3);  // nothing patched either
}

TEST(Session, RefusalsBeforeAnythingIsSent) {
    struct Row {
        const char* name;
        std::uint8_t chip;
        std::size_t length;  // 0: no image installed
        std::uint8_t print, preparation;
        std::vector<std::string> outcome;
        std::vector<std::string> detail;
        std::vector<std::string> notice;
    };
    const Row rows[] = {
        {"unknown chip", 0x50, 130, 16, 3, {" Error !! "}, {"Unknow Device"}, {}},
        {"no image", 0x43, 0, 16, 3, {" No Hex inside !! "}, {"Warning"}, {}},
        {"16-bit image too big",
         0xFC,
         2 * 0xA780 + 1,
         16,
         3,
         {" Hex too Big !! "},
         {"Warning"},
         {}},
        {"16-bit image at the limit",
         0xFC,
         2 * 0xA780,
         16,
         3,
         {" Program Ok "},
         {"Found 33FJ64"},
         {"Loaded 42880 bytes (0000 to A780)"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        devsim::Options o = Device(row.chip);
        o.print = row.print;
        o.preparation = row.preparation;
        SessionRig rig(o);
        TestImage image = ImageFor(row.chip == 0x50 ? 0x42 : row.chip, row.length);
        if (row.length > 0) image.Install(rig.catalog, row.chip == 0x50 ? 0x42 : row.chip);
        EXPECT_EQ(rig.Run().remaining, 0);
        EXPECT_EQ(rig.ui.Of("outcome"), row.outcome);
        const bool refused = row.outcome[0] != " Program Ok ";
        EXPECT_EQ(rig.packets().empty(), refused);
        EXPECT_EQ(rig.device->stats().entries, refused ? 0 : 1);
        std::vector<std::string> detail;
        for (const auto& e : rig.ui.log)
            if (e.what == "panel" && e.value == static_cast<long>(PanelSlot::DetailPanel))
                detail.push_back(e.text);
        EXPECT_EQ(detail, row.detail);
        EXPECT_EQ(rig.ui.Panels(PanelSlot::NoticePanel), row.notice);
    }
}

TEST(Session, ARecordWithALengthButNoBytesIsNoImage) {
    SessionRig rig(Device(0x42));
    TestImage image = ImageFor(0x42, 130);
    image.Install(rig.catalog, 0x42);
    rig.catalog.at(0, catalog::kFamily258).Payload = nullptr;
    EXPECT_EQ(rig.Run().remaining, 0);
    EXPECT_EQ(rig.ui.Of("outcome"), std::vector<std::string>{" No Hex inside !! "});
    EXPECT_TRUE(rig.packets().empty());
}

TEST(Session, NotSuitableImage) {
    // This build's dsPIC33FJ64 image is for print 3 (ZRA_R03), preparation 0x84.
    devsim::Options o = Device(0xFC);
    o.print = 5;
    o.preparation = 3;
    SessionRig rig(o);
    catalog::InitCatalog(rig.catalog);
    EXPECT_EQ(rig.Run().remaining, 0);
    EXPECT_EQ(rig.ui.Of("outcome"), std::vector<std::string>{"ZRA_R03 - Preparation 84"});
    EXPECT_EQ(rig.ui.Panels(PanelSlot::DetailPanel),
              (std::vector<std::string>{"Found 33FJ64", "Warning!!"}));
    EXPECT_EQ(rig.ui.Panels(PanelSlot::NoticePanel),
              std::vector<std::string>{"not suitable apparatus"});
    EXPECT_TRUE(rig.packets().empty());
    EXPECT_EQ(rig.device->stats().entries, 0);
}

TEST(CheckSuitability, Table) {
    struct Row {
        bool reported;
        std::uint8_t dp, dq, ip, iq;
        bool suits;
    };
    const Row rows[] = {
        {true, 16, 3, 32, 3, true},        // print 32 takes print 16's devices
        {true, 32, 3, 16, 3, false},       // but not the other way round
        {true, 5, 3, 6, 3, false},         // print mismatch
        {true, 7, 0x55, 0, 0x01, true},    // image for every print
        {true, 7, 0x55, 255, 0x01, true},  // image without print
        {false, 2, 0x55, 7, 0x01, true},   // bare chip code: no test
        {true, 1, 0x01, 1, 0x04, true},    // d 1: i 1 or 4
        {true, 1, 0x01, 1, 0x02, false},   //
        {true, 1, 0x02, 1, 0x01, true},    // d 2: i 1, 2 or 4
        {true, 1, 0x02, 1, 0x84, true},    // d 2, i 4 (the image's RES bit masked)
        {true, 1, 0x02, 1, 0x24, false},   // i 0x24: bit 5 is part of the image's kind
        {true, 1, 0x05, 1, 0x04, true},    // d 5: i 4 or 5
        {true, 1, 0x05, 1, 0x01, false},   //
        {true, 1, 0x11, 1, 0x01, false},   // device bit 4 needs the image's
        {true, 1, 0x11, 1, 0x11, true},    // equal codes
        {true, 1, 0x11, 1, 0x14, true},    // d 1 with i 4 (bit 4 masked off the device)
        {true, 1, 0x03, 1, 0x83, true},    // device 3 takes every RES image
        {true, 1, 0x03, 1, 0x84, true},    //
        {true, 1, 0x83, 1, 0x85, true},    // RES with RES
        {true, 1, 0x02, 1, 0x22, false},   // i = 0x22 is neither 1, 2 nor 4
        {true, 1, 0x06, 1, 0x46, false},   // i = 0x46 differs from d 6
        {true, 1, 0x06, 1, 0x06, true},    //
        {true, 1, 0x07, 1, 0x87, true},    // other d: i = d, the image's RES bit masked
        {true, 1, 0x01, 1, 0x81, true},    // d 1, i 1 (RES bit masked)
    };
    for (const Row& r : rows) {
        DeviceIdentity d;
        d.VersionReported = r.reported ? 1 : 0;
        d.PrintCode = r.dp;
        d.PreparationCode = r.dq;
        EXPECT_EQ(CheckSuitability(d, r.ip, r.iq), r.suits)
            << "dp " << int(r.dp) << " dq " << int(r.dq) << " ip " << int(r.ip) << " iq "
            << int(r.iq);
    }
}

// ---------------------------------------------------------------------------------------
// Sequence mode, with this build's catalog: PIC18F26K80 and dsPIC33FJ64 images pending.

TEST(Session, SequenceModeProgramsEachFamilyOnceThenPassesItOn) {
    SessionRig rig(Device(0x48));
    rig.ui.edition_value = Edition::Upgrade;
    rig.ui.sequence_mode = 1;
    ASSERT_EQ(catalog::InitCatalog(rig.catalog), 2);
    int ui_events = 0;  // window events let in during a session
    rig.pump.set_ui_hook([&](Clock::time_point t) {
        if (t > rig.session_start) ++ui_events;
    });

    // 1. The K80: programmed, one image left; 2 s for the device after the last packet.
    EXPECT_EQ(rig.Run(), (SessionResult{SessionEnd::Programmed, 1}));
    EXPECT_EQ(rig.ui.Panels(PanelSlot::ActivityPanel).back(), "Program OK");
    EXPECT_EQ(rig.packets().size(), 116u + 1 + 1024);
    EXPECT_EQ(catalog::PendingStateOf(rig.catalog, catalog::kFamily26K80), 0);

    // 2. The same family again: a second's pause without window events, nothing sent.
    std::size_t before = rig.packets().size();
    ui_events = 0;
    rig.session_start = Clock::time_point::max();  // the search's own events do not count
    EXPECT_EQ(rig.Run(), (SessionResult{SessionEnd::PassedOn, 0}));
    EXPECT_EQ(rig.elapsed(), 1000ms);
    EXPECT_EQ(ui_events, 0);
    EXPECT_EQ(rig.packets().size(), before);
    EXPECT_TRUE(rig.ui.Of("outcome").empty());
    EXPECT_EQ(rig.device->stats().entries, 1);

    // 3. A dsPIC33FJ64 board: the last image; the loop ends.
    devsim::Options fj = Device(0xFC);
    fj.print = 3;
    fj.log_packets = true;
    *rig.device = devsim::Device(fj);
    EXPECT_EQ(rig.Run(), (SessionResult{SessionEnd::Programmed, 0}));
    EXPECT_EQ(rig.packets().size(), 135u + 1);
    EXPECT_EQ(rig.catalog.PendingCount, 0);

    // 4. The same family again: passed on with the two summed frames, 300 ms after each.
    *rig.device = devsim::Device(fj);
    EXPECT_EQ(rig.Run(), (SessionResult{SessionEnd::PassedOn, 0}));
    ASSERT_EQ(rig.packets().size(), 2u);
    EXPECT_EQ(rig.packets()[0], Bytes(kPassOnFrame1.begin(), kPassOnFrame1.end()));
    EXPECT_EQ(rig.packets()[1], Bytes(kPassOnFrame2.begin(), kPassOnFrame2.end()));
    EXPECT_GE(rig.elapsed(), 600ms);
    EXPECT_TRUE(rig.ui.Of("outcome").empty());
}

TEST(Session, SequenceModeGivesTheK80TwoSecondsAfterSuccess) {
    for (std::uint8_t chip : {std::uint8_t{0x48}, std::uint8_t{0xFC}}) {
        Clock::duration elapsed[2]{};
        for (std::uint8_t sequence : {0, 1}) {
            devsim::Options o = Device(chip);
            o.print = 3;
            SessionRig rig(o);
            rig.ui.edition_value = Edition::Upgrade;
            rig.ui.sequence_mode = sequence;
            catalog::InitCatalog(rig.catalog);
            // One image left after either; only the sequence mode says so.
            EXPECT_EQ(rig.Run(), (SessionResult{SessionEnd::Programmed, sequence}));
            elapsed[sequence] = rig.elapsed();
        }
        EXPECT_EQ(elapsed[1] - elapsed[0],
                  chip == 0x48 ? Clock::duration(2000ms) : Clock::duration::zero())
            << int(chip);
    }
}

// ---------------------------------------------------------------------------------------
// This build's images, end to end: what the device holds afterwards against the HEX files.

TEST(Session, ProgramsThisBuildsImagesByteForByte) {
    struct Row {
        std::uint8_t chip;
        std::uint8_t print;
        testing::ExpectedDevice expected;
        std::string loaded;
    };
    const Row rows[] = {
        {0x48, 16, testing::ExpectedK80(), "Loaded 7402 bytes (0000 to 1CEA)"},
        {0xFC, 3, testing::ExpectedHj64(), "Loaded 17250 bytes (0000 to 4362)"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(int(row.chip));
        devsim::Options o = Device(row.chip);
        o.print = row.print;
        SessionRig rig(o);
        catalog::InitCatalog(rig.catalog);
        EXPECT_EQ(rig.Run().remaining, 0);
        EXPECT_EQ(rig.ui.Of("outcome"), std::vector<std::string>{" Program Ok "});
        EXPECT_EQ(rig.ui.Panels(PanelSlot::NoticePanel), std::vector<std::string>{row.loaded});
        ASSERT_FALSE(row.expected.flash.empty());
        EXPECT_EQ(rig.device->flash(), row.expected.flash);
        EXPECT_EQ(rig.device->eeprom(), row.expected.eeprom);
        // A second update of the same device programs the same bytes.
        ASSERT_EQ(rig.Run().remaining, 0);
        EXPECT_EQ(rig.device->flash(), row.expected.flash);
    }
}

}  // namespace
}  // namespace quillon::engine
