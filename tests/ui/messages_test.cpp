#include "ui/messages.h"

#include <gtest/gtest.h>

#include "ui/commands.h"
#include "ui/creation.h"

namespace quillon::ui {
namespace {

Shell Make(Edition e, const std::string& label = "label") {
    Shell s;
    CreateWindows(s, e);
    RunCreationWork(s, {label, "Dec  9 2026", "12:00:00"});
    return s;
}

TEST(LoaderMessages, StyleFollowsColourAndOperation) {
    Shell s = Make(Edition::Loader);
    Label& line = s.form6->Label1;

    ShowSessionRunning(s);
    EXPECT_FALSE(s.form6->Button1.enabled);
    EXPECT_TRUE(s.form6->Button2.enabled);

    // Button face becomes black, and black text is regular 25.
    ShowActivity(s, " Programming... ", colour::kButtonFace);
    EXPECT_EQ(line.text, " Programming... ");
    EXPECT_EQ(line.text_colour, colour::kBlack);
    EXPECT_FALSE(line.font.bold);
    EXPECT_FALSE(line.font.italic);  // the prompt's italic does not survive
    EXPECT_EQ(line.font.height, 25);
    EXPECT_EQ(line.font.kind, HeightKind::Cell);
    EXPECT_EQ(line.align, Align::Left);
    EXPECT_FALSE(s.form6->Button1.enabled);  // activity leaves the running state alone

    ShowActivity(s, "Successfully updated", colour::kGreen);
    EXPECT_EQ(line.text_colour, colour::kGreen);
    EXPECT_TRUE(line.font.bold);
    EXPECT_EQ(line.font.height, 32);
    EXPECT_EQ(line.align, Align::Left);

    const int repaints = line.repaints;
    ShowOutcome(s, " CHK Error !! ", colour::kRed, 0);
    EXPECT_EQ(line.text, " CHK Error !! ");
    EXPECT_EQ(line.text_colour, colour::kRed);
    EXPECT_TRUE(line.font.bold);
    EXPECT_EQ(line.font.height, 32);
    EXPECT_EQ(line.align, Align::Centre);
    EXPECT_GT(line.repaints, repaints);
    EXPECT_TRUE(s.form6->Button1.enabled);
    EXPECT_FALSE(s.form6->Button2.enabled);

    // The main window (hidden in this edition) is never touched.
    EXPECT_FALSE(s.form1->Label2.visible);
    EXPECT_TRUE(s.form1->Button1.visible);
}

TEST(UpgradeMessages, EveryTextLandsInPanelOneWithoutColour) {
    Shell s = Make(Edition::Upgrade);
    TForm5& f = *s.form5;
    f.StatusBar1.panels[3].text = "Found 258";

    ShowSessionRunning(s);
    EXPECT_EQ(f.StatusBar1.panels[3].text, " ");  // detail panel blanked before the chip
    EXPECT_TRUE(f.Button2.visible);
    EXPECT_FALSE(f.Button1.visible);

    ShowActivity(s, " Programming... ", colour::kButtonFace);
    EXPECT_EQ(f.StatusBar1.panels[1].text, " Programming... ");
    EXPECT_TRUE(f.Button2.visible);

    f.Button1.focused = false;
    ShowOutcome(s, " not Response ", colour::kRed, 0);
    EXPECT_EQ(f.StatusBar1.panels[1].text, " not Response ");
    EXPECT_TRUE(f.Button1.visible);
    EXPECT_TRUE(f.Button1.focused);
    EXPECT_FALSE(f.Button2.visible);
    EXPECT_EQ(f.Panel1.background, colour::kButtonFace);  // no colour applied anywhere
}

TEST(UpdaterMessages, OutcomeIsWhiteOnColourActivityBlackOnColour) {
    Shell s = Make(Edition::Updater);
    TForm1& f = *s.form1;
    EXPECT_FALSE(f.Label2.visible);  // hidden until the first message

    ShowSessionRunning(s);
    EXPECT_TRUE(f.Button2.visible);
    EXPECT_FALSE(f.Button1.visible);

    ShowActivity(s, " Programming... ", colour::kButtonFace);
    EXPECT_TRUE(f.Label2.visible);
    EXPECT_EQ(f.Label2.background, colour::kButtonFace);  // the window's own face colour
    EXPECT_EQ(f.Label2.text_colour, colour::kBlack);

    f.window.menu.enabled = false;
    ShowOutcome(s, " User Abort !! ", colour::kRed, 0);
    EXPECT_EQ(f.Label2.text, " User Abort !! ");
    EXPECT_TRUE(f.Label2.opaque);
    EXPECT_EQ(f.Label2.background, colour::kRed);
    EXPECT_EQ(f.Label2.text_colour, colour::kWhite);
    EXPECT_TRUE(f.window.menu.enabled);
    EXPECT_TRUE(f.Button1.visible && f.Button1.focused);
    EXPECT_FALSE(f.Button2.visible);
}

TEST(Messages, OutcomeNotifiesTheListenerWithTheSuccessFlag) {
    Shell s = Make(Edition::Updater);
    std::vector<int> seen;
    s.notify_outcome = [&](std::uint8_t ok) { seen.push_back(ok); };
    ShowOutcome(s, " Program Ok ", colour::kGreen, 1);
    ShowOutcome(s, " Error !! ", colour::kRed, 0);
    ShowActivity(s, "Search Device", colour::kBlack);
    EXPECT_EQ(seen, (std::vector<int>{1, 0}));
}

// The keyboard follows the run: the stop button has the focus while it runs, the update
// button again once it has ended, by either way a run ends.
TEST(Messages, TheFocusGoesToStopWhileRunningAndBackToUpdate) {
    for (Edition e : {Edition::Updater, Edition::Upgrade, Edition::Loader}) {
        for (bool by_outcome : {false, true}) {
            SCOPED_TRACE(testing::Message() << "edition " << int(e) << ", outcome " << by_outcome);
            Shell s = Make(e);
            Button& update = e == Edition::Updater   ? s.form1->Button1
                             : e == Edition::Upgrade ? s.form5->Button1
                                                     : s.form6->Button1;
            Button& stop = e == Edition::Updater   ? s.form1->Button2
                           : e == Edition::Upgrade ? s.form5->Button2
                                                   : s.form6->Button2;
            ShowSessionRunning(s);
            EXPECT_TRUE(stop.focused && stop.visible && stop.enabled);
            EXPECT_FALSE(update.focused);
            if (by_outcome)
                ShowOutcome(s, " Program Ok ", colour::kGreen, 1);
            else
                ShowSessionIdle(s);
            EXPECT_TRUE(update.focused && update.visible && update.enabled);
            EXPECT_FALSE(stop.focused);
            // The stop button is out of reach again: hidden, or disabled in the Loader.
            EXPECT_FALSE(stop.visible && stop.enabled);
        }
    }
}

TEST(SetPanelText, DetailPanelIndexDependsOnEdition) {
    struct Case {
        Edition edition;
        std::size_t detail_index;
    };
    for (Case c :
         {Case{Edition::Updater, 2}, Case{Edition::Upgrade, 3}, Case{Edition::Loader, 2}}) {
        Shell s = Make(c.edition);
        StatusBar& bar = c.edition == Edition::Upgrade  ? s.form5->StatusBar1
                         : c.edition == Edition::Loader ? s.form6->StatusBar1
                                                        : s.form1->StatusBar1;
        SetPanelText(s, bar, PanelSlot::DetailPanel, "Found 258");
        SetPanelText(s, bar, PanelSlot::PortPanel, "COM3");
        EXPECT_EQ(bar.panels[c.detail_index].text, "Found 258");
        EXPECT_EQ(bar.panels[0].text, "COM3");
        // Detail and notice share the fourth panel in the Upgrade edition.
        SetPanelText(s, bar, PanelSlot::NoticePanel, "not suitable apparatus");
        EXPECT_EQ(bar.panels[3].text, "not suitable apparatus");
    }
}

TEST(SetPanelText, IndexOutsideTheBarWritesNothing) {
    Shell s = Make(Edition::Updater);
    s.panel_map.index[static_cast<int>(PanelSlot::NoticePanel)] = 7;
    s.panel_map.index[static_cast<int>(PanelSlot::DetailPanel)] = -1;
    SetPanelText(s, s.form1->StatusBar1, PanelSlot::NoticePanel, "x");
    SetPanelText(s, s.form1->StatusBar1, PanelSlot::DetailPanel, "y");
    for (const auto& p : s.form1->StatusBar1.panels) EXPECT_EQ(p.text, "");
}

TEST(StopCommands, RaiseTheFlagAndNobodyButTheWaitClearsIt) {
    Shell up = Make(Edition::Updater);
    ShowSessionRunning(up);
    MainStopClick(up);
    EXPECT_EQ(up.stop_requested, 1);
    EXPECT_FALSE(up.form1->Button2.visible);
    ShowSessionRunning(up);  // a new search does not reset a stale stop
    EXPECT_EQ(up.stop_requested, 1);

    Shell upg = Make(Edition::Upgrade);
    ShowSessionRunning(upg);
    UpgradeStopClick(upg);
    EXPECT_EQ(upg.stop_requested, 1);
    EXPECT_TRUE(upg.form5->Button1.visible && upg.form5->Button1.focused);

    Shell ld = Make(Edition::Loader);
    ShowSessionRunning(ld);
    LoaderAbortClick(ld);
    EXPECT_EQ(ld.stop_requested, 1);
    EXPECT_TRUE(ld.form6->Button1.enabled);  // available again before the engine notices
    EXPECT_EQ(ld.form6->ProgressBar1.state, ProgressState::Error);
}

}  // namespace
}  // namespace quillon::ui
