#include "app/edition.h"

#include <gtest/gtest.h>

namespace quillon::app {
namespace {

using ui::Edition;

struct Case {
    const char* label;
    Edition edition;
};

class EditionTable : public ::testing::TestWithParam<Case> {};

TEST_P(EditionTable, SelectsTheFirstMatchingGroup) {
    EXPECT_EQ(SelectEdition(GetParam().label), GetParam().edition) << GetParam().label;
}

INSTANTIATE_TEST_SUITE_P(Labels, EditionTable,
                         ::testing::Values(
                             // This build's label.
                             Case{"TQX 1C 01.02.02.04", Edition::Upgrade},
                             // Every keyword of each group on its own.
                             Case{"KVD", Edition::Upgrade}, Case{"a PXR b", Edition::Upgrade},
                             Case{"ZNB", Edition::Upgrade}, Case{"DRASK", Edition::Upgrade},
                             Case{"HWM", Edition::Upgrade}, Case{"JT4", Edition::Upgrade},
                             Case{"FVQ", Edition::Upgrade}, Case{"MZL", Edition::Upgrade},
                             Case{"NYB", Edition::Upgrade}, Case{"KP740 2.0", Edition::Updater},
                             Case{"KP310c 01.1x", Edition::Loader}, Case{"LUV", Edition::Loader},
                             Case{"WRD", Edition::Loader}, Case{"VANTEL", Edition::Loader},
                             Case{"GDF", Edition::Loader}, Case{"YCM", Edition::Loader},
                             Case{"PLOSK", Edition::Loader}, Case{"PLOSF", Edition::Loader},
                             Case{"B.", Edition::Loader}, Case{"J.", Edition::Loader},
                             Case{"FANTO", Edition::Loader}, Case{"DWELMAR", Edition::Loader},
                             Case{"JB.", Edition::Loader},
                             // Group order decides, not the position in the label.
                             Case{"KP NYB", Edition::Upgrade}, Case{"LUV KP740", Edition::Updater},
                             Case{"KP740 TQX", Edition::Upgrade},
                             // Case-sensitive: lower case matches nothing.
                             Case{"tqx 1c", Edition::Updater}, Case{"kp310", Edition::Updater},
                             Case{"Jb.", Edition::Updater},
                             // No keyword, empty and odd labels fall back to the default edition.
                             Case{"", Edition::Updater}, Case{"Quillon RC", Edition::Updater},
                             Case{"K P", Edition::Updater}, Case{"B", Edition::Updater},
                             Case{"\xff\x01 KP7", Edition::Loader}));

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
