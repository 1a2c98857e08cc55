// End to end: device search over a real pseudo-terminal against the devsim program, with
// the POSIX serial backend, the channel table and the poll pump.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "engine/search.h"
#include "serial/posix_backend.h"
#include "tests/engine/pty_rig.h"
#include "tests/support/devsim_process.h"
#include "tools/devsim/device.h"
#include "wait/poll_pump.h"

namespace quillon::engine {

using devsim::DevsimProcess;
namespace {

using testing::PtyRig;
constexpr int kPort = testing::kPtyPort;

struct EndToEndCase {
    const char* name;
    Edition edition;
    std::uint8_t family;
    std::vector<std::string> args;
    SearchResult result;
    DeviceIdentity identity;
    std::string text;
};
void PrintTo(const EndToEndCase& c, std::ostream* os) {
    *os << c.name;
}

class PtySearch : public ::testing::TestWithParam<EndToEndCase> {};

TEST_P(PtySearch, FindsTheVirtualDevice) {
    const EndToEndCase& c = GetParam();
    DevsimProcess devsim(c.args);
    ASSERT_FALSE(devsim.path().empty());
    PtyRig rig(devsim.path());
    rig.ui.edition_value = c.edition;
    rig.ui.loader_family = c.family;
    EXPECT_EQ(rig.Search(), c.result);
    if (c.result == SearchResult::Found) {
        AwaitExtendedInfo(rig.engine);
        const DeviceIdentity& id = rig.engine.identity();
        EXPECT_EQ(id.ChipCode, c.identity.ChipCode);
        EXPECT_EQ(id.BiosVersion, c.identity.BiosVersion);
        EXPECT_EQ(id.PrintCode, c.identity.PrintCode);
        EXPECT_EQ(id.PreparationCode, c.identity.PreparationCode);
        EXPECT_EQ(id.VersionReported, c.identity.VersionReported);
        EXPECT_EQ(rig.engine.parser.device_text(), c.text);
        // And a packet goes through the real line too.
        rig.engine.packet.Reset();
        const std::uint8_t eeprom[] = {0x40, 0x01, 0x22, 0x01, 0x00};
        std::copy(std::begin(eeprom), std::end(eeprom), rig.engine.packet.bytes.begin());
        EXPECT_EQ(SendPacket(rig.engine, rig.engine.packet.bytes, 5), LinkOk);
    } else {
        EXPECT_EQ(rig.ui.Panels(PanelSlot::ActivityPanel).back(), "Device not Found");
    }
    rig.channels.CloseChannel(kPort);
    EXPECT_EQ(devsim.Stop(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Editions, PtySearch,
    ::testing::Values(
        EndToEndCase{
            "UpdaterVersion",
            Edition::Updater,
            0,
            {"--accept", "C2", "--chip", "48", "--bios", "7", "--print", "16", "--prep", "3"},
            SearchResult::Found,
            {0x48, 7, 16, 3, 1},
            ""},
        EndToEndCase{"UpdaterBare",
                     Edition::Updater,
                     0,
                     {"--accept", "C2", "--chip", "42", "--bare"},
                     SearchResult::Found,
                     {0x42, 0, 0, 0, 0},
                     ""},
        EndToEndCase{"UpgradeVersion",
                     Edition::Upgrade,
                     0,
                     {"--accept", "C5", "--chip", "FD", "--bios", "9", "--ext-text", "line 4",
                      "--window", "4096,2048"},
                     SearchResult::Found,
                     {0xFD, 9, 16, 3, 1},
                     "line 4"},
        EndToEndCase{"UpgradeBare",
                     Edition::Upgrade,
                     0,
                     {"--accept", "C5", "--chip", "47", "--bare"},
                     SearchResult::Found,
                     {0x47, 0, 0, 0, 0},
                     ""},
        EndToEndCase{
            "LoaderFamily1Version",
            Edition::Loader,
            1,
            {"--accept", "C6", "--chip", "C7", "--bios", "5", "--print", "2", "--prep", "1"},
            SearchResult::Found,
            {0xC7, 5, 2, 1, 1},
            ""},
        EndToEndCase{"LoaderFamily2Bare",
                     Edition::Loader,
                     2,
                     {"--accept", "C5", "--chip", "FE", "--bare"},
                     SearchResult::Found,
                     {0xFE, 0, 0, 0, 0},
                     ""},
        EndToEndCase{
            "OnlyRejections", Edition::Updater, 0, {"--nak-only"}, SearchResult::NotFound, {}, ""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(PtySearch, AHungUpDeviceIsNoResponse) {
    DevsimProcess devsim({"--hang-up-after", "1"});
    ASSERT_FALSE(devsim.path().empty());
    PtyRig rig(devsim.path());
    ASSERT_EQ(rig.Search(), SearchResult::Found);
    const std::uint8_t eeprom[] = {0x40, 0x00, 0x11, 0x01, 0x00};
    for (LinkResult expected : {LinkOk, LinkNoResponse}) {
        rig.engine.packet.Reset();
        std::copy(std::begin(eeprom), std::end(eeprom), rig.engine.packet.bytes.begin());
        EXPECT_EQ(SendPacket(rig.engine, rig.engine.packet.bytes, 5), expected);
    }
    EXPECT_EQ(devsim.Stop(), 0);
}

TEST(PtySearch, DevsimWritesTheFlashItReceivedAsIntelHex) {
    char dir[] = "/tmp/quillon-pty-XXXXXX";
    ASSERT_NE(::mkdtemp(dir), nullptr);
    const std::string hex = std::string(dir) + "/flash.hex";
    const std::string both = std::string(dir) + "/both.hex";
    {
        DevsimProcess devsim({"--plain", "--flash-hex", hex, "--hex", both});
        ASSERT_FALSE(devsim.path().empty());
        PtyRig rig(devsim.path());
        ASSERT_EQ(rig.Search(), SearchResult::Found);
        rig.engine.packet.Reset();
        const std::uint8_t block[] = {0x00, 0x01, 0x00, 0x03, 0xDE, 0xAD, 0xBE};
        std::copy(std::begin(block), std::end(block), rig.engine.packet.bytes.begin());
        EXPECT_EQ(SendPacket(rig.engine, rig.engine.packet.bytes, 7), LinkOk);
        rig.engine.packet.Reset();
        const std::uint8_t eeprom[] = {0x40, 0x02, 0x33, 0x01, 0x00};
        std::copy(std::begin(eeprom), std::end(eeprom), rig.engine.packet.bytes.begin());
        EXPECT_EQ(SendPacket(rig.engine, rig.engine.packet.bytes, 5), LinkOk);
        rig.channels.CloseChannel(kPort);
        EXPECT_EQ(devsim.Stop(), 0);
    }
    std::ifstream in(hex);
    auto image = devsim::ReadIntelHex(in);
    ASSERT_TRUE(image.has_value());
    EXPECT_EQ(*image,
              (std::map<std::uint32_t, std::uint8_t>{{0x100, 0xDE}, {0x101, 0xAD}, {0x102, 0xBE}}));
    std::ifstream in_both(both);
    auto combined = devsim::ReadIntelHex(in_both);
    ASSERT_TRUE(combined.has_value());
    EXPECT_EQ(*combined, (std::map<std::uint32_t, std::uint8_t>{
                             {0x100, 0xDE}, {0x101, 0xAD}, {0x102, 0xBE}, {0xF00002, 0x33}}));
    std::remove(hex.c_str());
    std::remove(both.c_str());
    ::rmdir(dir);
}

// devsim refuses what it cannot do instead of losing or destroying files: a regular file
// where the link goes survives, unknown arguments and malformed values end it with 2 before
// it serves anything, and a HEX file it cannot write ends it with 1 (refused at the start
// when the file cannot even be created).
TEST(DevsimProgram, RefusesBadArgumentsAndReportsLostFiles) {
    char tmpl[] = "/tmp/quillon-devsim-args-XXXXXX";
    const std::string dir = ::mkdtemp(tmpl);
    const std::string keep = dir + "/keep.txt";
    { std::ofstream(keep) << "precious\n"; }
    struct Row {
        std::vector<std::string> args;
        bool serves;  // starts and prints its device
        int exit;
    };
    const Row rows[] = {
        {{"--link", keep}, false, 2},
        {{"--frobnicate"}, false, 2},
        {{"stray"}, false, 2},
        {{"--bios", "7x"}, false, 2},
        {{"--bios", "256"}, false, 2},
        {{"--reject-every", "-3"}, false, 2},
        {{"--window", "4096,2048junk"}, false, 2},
        {{"--noise", "00,zz"}, false, 2},
        {{"--flash-hex", dir + "/missing/flash.hex"}, false, 2},
        {{"--flash-hex", "/dev/full"}, true, 1},
        {{"--link", dir + "/COM9", "--window", "0x1000,0x800", "--noise", "00,ff"}, true, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.args[0] + " " + (row.args.size() > 1 ? row.args[1] : ""));
        DevsimProcess devsim(row.args);
        EXPECT_EQ(!devsim.path().empty(), row.serves);
        EXPECT_EQ(devsim.Stop(), row.exit);
    }
    std::ifstream in(keep);
    std::string text;
    std::getline(in, text);
    EXPECT_EQ(text, "precious");
    EXPECT_FALSE(std::filesystem::exists(dir + "/COM9"));  // its own link is removed
    std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace quillon::engine
