// Starts the real executable (offscreen, with start-up tracing) and checks what a user
// would see: the Upgrade window first, a second instance refused, a killed one forgotten.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <string>
#include <vector>

#include "app/build_stamp.h"
#include "tests/app/traced_program.h"

namespace quillon::app {
namespace {

class Startup : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/quillon-start-XXXXXX";
        runtime_ = ::mkdtemp(tmpl);
    }
    void TearDown() override { std::filesystem::remove_all(runtime_); }

    std::string runtime_;
};

TEST_F(Startup, OneInstanceAtATimeAndACrashedOneIsForgotten) {
    TracedProgram first(runtime_);
    const auto trace = first.TraceUntil("running");
    const std::vector<std::string> expected = {
        "guard taken",
        "created TForm5",
        "created TForm1",
        "created TForm3",
        "created TForm4",
        "running TForm5 \"Upgrade 1.1 -   TQX 1C 01.02.02.04   - " + BuildDate() + "\""};
    EXPECT_EQ(trace, expected);

    // A second start shows the message with the updater title, creates nothing, ends with 0.
    TracedProgram second(runtime_);
    const auto refused = second.TraceToEnd();
    EXPECT_EQ(second.Exit(), 0);
    ASSERT_EQ(refused.size(), 1u);
    EXPECT_EQ(refused[0], "message box: Updater 2.7 - TQX 1C 01.02.02.04   [ " + BuildDate() +
                              " ]|Already in progress");

    // The first instance is still there; killed without clean-up it blocks nobody.
    EXPECT_TRUE(first.Running());
    first.Kill();
    first.Exit();

    TracedProgram third(runtime_);
    const auto again = third.TraceUntil("running");
    ASSERT_FALSE(again.empty());
    EXPECT_EQ(again.front(), "guard taken");
    EXPECT_EQ(again.back().rfind("running TForm5", 0), 0u);
    third.Kill();
    third.Exit();
}

}  // namespace
}  // namespace quillon::app
