// The device report, the two refusals and the plain-image cue, by edition, through the
// presenter on the recording windows.
#include "engine/report.h"

#include <gtest/gtest.h>

#include "tests/engine/engine_rig.h"

namespace quillon::engine {
namespace {

using testing::Event;
using testing::Rig;

struct ReportCase {
    const char* name;
    Edition edition;
    DeviceIdentity identity;
    std::string device_text;
    std::vector<Event> shown;
    std::string text_after;  // DeviceText once reported
};
void PrintTo(const ReportCase& c, std::ostream* os) {
    *os << c.name;
}
class DeviceReportShown : public ::testing::TestWithParam<ReportCase> {};

TEST_P(DeviceReportShown, ShowsWhatTheEditionShows) {
    const ReportCase& c = GetParam();
    Rig rig;
    rig.ui.edition_value = c.edition;
    rig.engine.parser.identity = c.identity;
    std::copy(c.device_text.begin(), c.device_text.end(), rig.engine.parser.DeviceText.begin());
    catalog::PreparedImage image;
    image.PrintCode = 3;  // ZRA_R03
    image.PreparationCode = 0x84;
    rig.presenter.DeviceReported(MakeDeviceReport(rig.engine, image));
    EXPECT_EQ(rig.ui.log, c.shown);
    EXPECT_EQ(rig.engine.parser.device_text(), c.text_after);
}

INSTANTIATE_TEST_SUITE_P(
    Report, DeviceReportShown,
    ::testing::Values(
        ReportCase{"UpdaterVersion7",
                   Edition::Updater,
                   {0x48, 0x07, 16, 3, 1},
                   "",
                   {{"label3", "BIOS:07 - ZRY_R0x - Preparation03", 1}, {"label4", "", 0}},
                   ""},
        ReportCase{"UpdaterBareShowsTheImagesCodes",
                   Edition::Updater,
                   {0x42, 0, 2, 0, 0},
                   "",
                   {{"label3", "BIOS:00 - ZRA_R03 - Preparation84", 1}, {"label4", "", 0}},
                   ""},
        ReportCase{"UpdaterVersion9WithText",
                   Edition::Updater,
                   {0xFC, 0x09, 3, 0x13, 1},
                   "line 4",
                   {{"label3", "BIOS:09 - ZRA_R03 - Preparation13", 1}, {"label4", "line 4", 1}},
                   "line 4"},
        ReportCase{"UpdaterTextNeverSetIsEmptied",
                   Edition::Updater,
                   {0xFC, 0x1F, 3, 0xAB, 1},
                   "\xFF\xFF\xFF",
                   {{"label3", "BIOS:1f - ZRA_R03 - Preparationab", 1}, {"label4", "", 1}},
                   ""},
        ReportCase{"UpdaterVersion32HidesTheText",
                   Edition::Updater,
                   {0xFC, 0x20, 3, 3, 1},
                   "kept",
                   {{"label3", "BIOS:20 - ZRA_R03 - Preparation03", 1}, {"label4", "", 0}},
                   "kept"},
        ReportCase{"LoaderVersion",
                   Edition::Loader,
                   {0xC7, 0x05, 2, 1, 1},
                   "",
                   {{"label6", "ZRA_R03 - 0x01", 0}, {"label7", "0x05", 0}},
                   ""},
        ReportCase{"LoaderBareShowsNothing", Edition::Loader, {0xC7, 0, 2, 1, 0}, "", {}, ""},
        ReportCase{"UpgradeShowsNothing", Edition::Upgrade, {0x48, 9, 16, 3, 1}, "\xFF", {}, ""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Report, RefusalsByEdition) {
    for (const bool too_big : {false, true}) {
        const std::string text = too_big ? " Hex too Big !! " : " No Hex inside !! ";
        for (Edition edition : {Edition::Updater, Edition::Upgrade, Edition::Loader}) {
            SCOPED_TRACE(text + std::to_string(static_cast<int>(edition)));
            Rig rig;
            rig.ui.edition_value = edition;
            rig.ui.running = true;
            rig.engine.parser.identity = {0x43, 0x07, 16, 3, 1};
            catalog::PreparedImage image;
            rig.presenter.Refused(too_big ? Refusal::ImageTooBig : Refusal::NoImage,
                                  MakeDeviceReport(rig.engine, image));
            const long red = static_cast<long>(colour::kRed) * 2;
            std::vector<Event> expected = {{"outcome", text, red}};
            if (edition == Edition::Updater) {
                expected.push_back({"panel", "Warning", static_cast<long>(PanelSlot::DetailPanel),
                                    &rig.ui.main_bar});
                expected.push_back({"label3", "BIOS:07 - ZRY_R0x - Preparation03", 1});
                expected.push_back({"label4", "", 0});
            }
            EXPECT_EQ(rig.ui.log, expected);
            // Every edition, the Upgrade window included, says so and returns to idle.
            EXPECT_FALSE(rig.ui.running);
        }
    }
}

TEST(Report, PlainCue) {
    for (Edition edition : {Edition::Updater, Edition::Upgrade, Edition::Loader}) {
        Rig rig;
        rig.ui.edition_value = edition;
        rig.presenter.ImagePrepared(0x48, true);
        rig.presenter.ImagePrepared(0x48, false);
        std::vector<long> expected;
        if (edition != Edition::Loader)
            expected = {static_cast<long>(colour::kSilver), static_cast<long>(colour::kButtonFace)};
        EXPECT_EQ(rig.ui.Values("cue"), expected) << static_cast<int>(edition);
    }
}

}  // namespace
}  // namespace quillon::engine
