#include "app/build_stamp.h"

#include <gtest/gtest.h>

namespace quillon::app {
namespace {

TEST(BuildStamps, HaveTheFixedLayout) {
    const std::string& date = BuildDate();
    ASSERT_EQ(date.size(), 11u);  // "Mmm dd yyyy"
    EXPECT_NE(std::string("JanFebMarAprMayJunJulAugSepOctNovDec").find(date.substr(0, 3)),
              std::string::npos);
    EXPECT_EQ(date[3], ' ');
    EXPECT_TRUE(date[4] == ' ' || (date[4] >= '1' && date[4] <= '3'));
    EXPECT_EQ(date[6], ' ');
    const std::string& time = BuildTime();
    ASSERT_EQ(time.size(), 8u);
    EXPECT_EQ(time[2], ':');
    EXPECT_EQ(time[5], ':');
    EXPECT_FALSE(ProductLabel().empty());
}

}  // namespace
}  // namespace quillon::app
