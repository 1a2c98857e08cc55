// End to end over a real pseudo-terminal: this build's images programmed into the devsim
// program with the POSIX serial backend, the channel table and the poll pump; the Intel HEX
// that devsim writes when it ends is compared byte for byte with the image's own HEX file
// as the session patches it.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "engine/search.h"
#include "engine/session.h"
#include "serial/posix_backend.h"
#include "tests/engine/pty_rig.h"
#include "tests/engine/session_rig.h"
#include "tests/support/devsim_process.h"
#include "wait/poll_pump.h"

namespace quillon::engine {

using devsim::DevsimProcess;
namespace {

using testing::PtyRig;
constexpr int kPort = testing::kPtyPort;

struct PtyImageCase {
    const char* name;
    std::vector<std::string> args;
    testing::ExpectedDevice (*expected)();
};
void PrintTo(const PtyImageCase& c, std::ostream* os) {
    *os << c.name;
}
class PtySession : public ::testing::TestWithParam<PtyImageCase> {};

TEST_P(PtySession, DevsimHoldsTheImageAfterwards) {
    const PtyImageCase& c = GetParam();
    char tmpl[] = "/tmp/quillon-pty-session-XXXXXX";
    const std::filesystem::path dir = ::mkdtemp(tmpl);
    const std::string hex = (dir / "device.hex").string();
    std::vector<std::string> args = c.args;
    args.insert(args.end(), {"--hex", hex});
    DevsimProcess devsim(args);
    ASSERT_FALSE(devsim.path().empty());

    PtyRig rig(devsim.path());
    catalog::InitCatalog(rig.catalog);
    ASSERT_EQ(rig.Search(), SearchResult::Found);
    EXPECT_EQ(PrgMode(rig.engine, rig.catalog).end, SessionEnd::Programmed);
    EXPECT_EQ(rig.ui.Of("outcome"), std::vector<std::string>{" Program Ok "});
    rig.channels.CloseChannel(kPort);
    ASSERT_EQ(devsim.Stop(), 0);
    // What devsim saw of the host: one turnaround for every packet after the first answer,
    // and the session against the wire.
    std::size_t turnarounds = 0;
    const auto at = devsim.report().find("devsim: turnaround ");
    ASSERT_NE(at, std::string::npos) << devsim.report();
    EXPECT_EQ(std::sscanf(devsim.report().c_str() + at, "devsim: turnaround %zu:", &turnarounds),
              1);
    EXPECT_GT(turnarounds, 100u);
    EXPECT_NE(devsim.report().find("devsim: session "), std::string::npos) << devsim.report();

    std::ifstream in(hex);
    const auto written = devsim::ReadIntelHex(in);
    ASSERT_TRUE(written.has_value());
    EXPECT_EQ(*written, c.expected().Combined());
    std::filesystem::remove_all(dir);
}

INSTANTIATE_TEST_SUITE_P(
    Images, PtySession,
    ::testing::Values(PtyImageCase{"PIC18F26K80",
                                   {"--chip", "48", "--bios", "7", "--print", "16", "--prep", "3"},
                                   testing::ExpectedK80},
                      PtyImageCase{"dsPIC33FJ64",
                                   {"--chip", "FC", "--bios", "7", "--print", "3", "--prep", "3"},
                                   testing::ExpectedHj64}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace quillon::engine
