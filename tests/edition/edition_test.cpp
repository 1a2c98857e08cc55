#include "edition/edition.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace quillon::editions {
namespace {

struct LabelCase {
    const char* label;
    Edition edition;
};

class LabelRule : public ::testing::TestWithParam<LabelCase> {};

TEST_P(LabelRule, SelectsTheFirstMatchingGroup) {
    EXPECT_EQ(FromLabel(GetParam().label), GetParam().edition) << GetParam().label;
}

INSTANTIATE_TEST_SUITE_P(
    Labels, LabelRule,
    ::testing::Values(
        // This build's label.
        LabelCase{"TQX 1C 01.02.02.04", Edition::Upgrade}, LabelCase{"a PXR b", Edition::Upgrade},
        LabelCase{"KP740 2.0", Edition::Updater}, LabelCase{"KP310c 01.1x", Edition::Loader},
        // Group order decides, not the position in the label.
        LabelCase{"KP NYB", Edition::Upgrade}, LabelCase{"LUV KP740", Edition::Updater},
        LabelCase{"KP740 TQX", Edition::Upgrade},
        // Case-sensitive: lower case matches nothing.
        LabelCase{"tqx 1c", Edition::Updater}, LabelCase{"kp310", Edition::Updater},
        LabelCase{"Jb.", Edition::Updater},
        // No keyword, empty and odd labels fall back to the Updater.
        LabelCase{"", Edition::Updater}, LabelCase{"Quillon RC", Edition::Updater},
        LabelCase{"K P", Edition::Updater}, LabelCase{"B", Edition::Updater},
        LabelCase{"\xff\x01 KP7", Edition::Loader}));

// The table read against its own rules, as the chip table is: a row that breaks one (a
// keyword that another group shadows, a stored-port place out of step with its key, a
// duplicate name) fails here rather than on a technician's machine.
TEST(EditionTable, RowsKeepTheirRules) {
    std::set<std::string_view> names, keywords, keys;
    for (std::size_t code = 0; code < All().size(); ++code) {
        const Facts& f = All()[code];
        SCOPED_TRACE(std::string(f.name));
        EXPECT_EQ(Code(f.edition), code);
        EXPECT_EQ(&ForCode(static_cast<std::uint8_t>(code)), &f);
        EXPECT_EQ(&Of(f.edition), &f);
        EXPECT_EQ(Named(f.name), f.edition);
        EXPECT_TRUE(names.insert(f.name).second);
        EXPECT_TRUE(keys.insert(f.settings_key).second);
        // Every keyword on its own selects its own edition: no earlier group shadows it.
        ASSERT_FALSE(f.keywords.empty());
        for (std::string_view word : f.keywords) {
            EXPECT_EQ(FromLabel(word), f.edition) << word;
            EXPECT_TRUE(keywords.insert(word).second) << word;
        }
        // The registry key and the file name the same place: Software\<folder>\<stem>\.
        const std::string file(f.settings_file);
        ASSERT_GT(file.size(), 5u);
        EXPECT_EQ(file.substr(file.size() - 5), ".conf");
        EXPECT_EQ(f.settings_key, "Software\\" + std::string(f.settings_folder) + "\\" +
                                      file.substr(0, file.size() - 5) + "\\");
        EXPECT_FALSE(f.update_caption.empty());
        EXPECT_FALSE(f.stop_caption.empty());
        EXPECT_FALSE(f.port_command.empty());
        EXPECT_FALSE(f.success_text.empty());
    }
    EXPECT_EQ(names.size(), kEditionCount);
}

TEST(EditionTable, StoredCodesAndNamesOutsideTheTable) {
    // Codes outside the table read as the Updater's, as the stored places always have.
    for (int code : {3, 7, 255})
        EXPECT_EQ(ForCode(static_cast<std::uint8_t>(code)).edition, Edition::Updater);
    for (const char* name : {"", "Updater", "UPGRADE", "loader ", "tform1"})
        EXPECT_FALSE(Named(name).has_value()) << name;
}

TEST(EditionTable, SelectorsFromTheLabel) {
    struct Row {
        const char* label;
        std::uint8_t sequence_mode;
        std::uint8_t loader_family;
    };
    const Row rows[] = {
        {"TQX 1C", 0, 0},
        {"TQX WUT 1C", 1, 0},
        {"wut", 0, 0},
        {"LUV 1C", 0, 1},
        {"DWELMAR", 0, 1},
        {"FANTO", 0, 2},
        {"FANTO VANTEL", 0, 1},  // family 1 is looked for
                                 // first
        {"KP310", 0, 0},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(SequenceModeFor(row.label), row.sequence_mode) << row.label;
        EXPECT_EQ(LoaderFamilyFor(row.label), row.loader_family) << row.label;
    }
}

}  // namespace
}  // namespace quillon::editions
