#include <gtest/gtest.h>

#include <stdexcept>
#include <vector>

#include "app/startup.h"

namespace quillon::app {
namespace {

TEST(RunGuarded, ShowsWhatEscapesOnceAndEndsWithZero) {
    std::vector<std::string> shown;
    auto show = [&](const std::string& m) { shown.push_back(m); };

    EXPECT_EQ(RunGuarded([] {}, show), 0);
    EXPECT_TRUE(shown.empty());

    EXPECT_EQ(RunGuarded([] { throw std::runtime_error("window creation failed"); }, show), 0);
    EXPECT_EQ(RunGuarded([] { throw 42; }, show), 0);  // not ours: shown with no text
    EXPECT_EQ(shown, (std::vector<std::string>{"window creation failed", ""}));
}

}  // namespace
}  // namespace quillon::app
