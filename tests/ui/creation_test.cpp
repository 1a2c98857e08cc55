#include "ui/creation.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <utility>

namespace quillon::ui {
namespace {

const BuildInfo kBuild{"TQX 1C 01.02.02.04", "Dec  9 2026", "08:07:06"};

BuildInfo WithLabel(const std::string& label) {
    return {label, kBuild.date, kBuild.time};
}

TEST(Creation, WindowsExistPerEditionAndTheFirstIsMain) {
    Shell up;
    CreateWindows(up, Edition::Upgrade);
    EXPECT_TRUE(up.form5 && up.form1 && up.form3 && up.form4);
    EXPECT_FALSE(up.form6);
    EXPECT_EQ(&up.main_window(), &up.form5->window);
    EXPECT_EQ(up.edition(), Edition::Upgrade);

    Shell ld;
    CreateWindows(ld, Edition::Loader);
    EXPECT_EQ(&ld.main_window(), &ld.form6->window);
    EXPECT_EQ(ld.edition(), Edition::Loader);

    Shell def;
    CreateWindows(def, Edition::Updater);
    EXPECT_FALSE(def.form5 || def.form6);
    EXPECT_EQ(&def.main_window(), &def.form1->window);

    for (Shell* s : {&up, &ld, &def}) {
        EXPECT_FALSE(s->main_window().visible);  // shown when the message loop starts
        EXPECT_FALSE(s->form3->window.visible);
        EXPECT_FALSE(s->form4->window.visible);
    }
}

// Each window lists every control once by name, a control placed on another after that
// one (a binding finds the parent among the controls it made before), each entry's two
// views of the control the same control, and a font for each.
TEST(Creation, EachWindowListsItsControlsOnce) {
    Shell up, ld;
    CreateWindows(up, Edition::Upgrade);
    CreateWindows(ld, Edition::Loader);
    const std::pair<const char*, ControlList> lists[] = {{"TForm5", up.form5->controls()},
                                                         {"TForm6", ld.form6->controls()},
                                                         {"TForm1", up.form1->controls()},
                                                         {"TForm3", up.form3->controls()},
                                                         {"TForm4", up.form4->controls()}};
    for (const auto& [window, list] : lists) {
        std::set<std::string> names;
        for (const ListedControl& c : list) {
            EXPECT_TRUE(c.control->parent.empty() || names.count(c.control->parent))
                << window << "." << c.name() << " listed before its parent";
            EXPECT_TRUE(names.insert(c.name()).second) << window << "." << c.name() << " twice";
            EXPECT_EQ(std::visit([](auto* m) -> Control* { return m; }, c.model), c.control)
                << window << "." << c.name();
            EXPECT_NE(c.font, nullptr) << window << "." << c.name();
        }
        EXPECT_FALSE(list.empty()) << window;
    }
}

TEST(Creation, UpgradeEditionWithThisBuildsLabel) {
    Shell s;
    CreateWindows(s, Edition::Upgrade);
    RunCreationWork(s, kBuild);
    EXPECT_EQ(s.form5->window.caption, "Upgrade 1.1 -   TQX 1C 01.02.02.04   - Dec  9 2026");
    EXPECT_EQ(s.app_title, "TQX 1C 01.02.02.04");
    EXPECT_EQ(s.panel_map[PanelSlot::DetailPanel], 3);
    EXPECT_EQ(s.sequence_mode, 0);
    EXPECT_FALSE(s.form5->ProgressBar2.visible);
    EXPECT_EQ(s.form5->ProgressBar1.rect.w, 617);
    // The main window keeps its design-time state.
    EXPECT_EQ(s.form1->window.caption, "RELEASE");
    EXPECT_EQ(s.form1->Label1.text, "");
    EXPECT_TRUE(s.form1->Image1.visible);
    EXPECT_FALSE(s.form1->Image2.visible);
}

TEST(Creation, SequenceModePutsTheTwoBarsSideBySide) {
    Shell s;
    CreateWindows(s, Edition::Upgrade);
    RunCreationWork(s, WithLabel("TQX WUT 2"));
    EXPECT_EQ(s.sequence_mode, 1);
    EXPECT_TRUE(s.form5->ProgressBar2.visible);
    EXPECT_EQ(s.form5->ProgressBar1.rect.w, 454);
    const Rect& a = s.form5->ProgressBar1.rect;
    const Rect& b = s.form5->ProgressBar2.rect;
    EXPECT_EQ(a.x + a.w + 5, b.x);  // no overlap, a 5-pixel gap
}

TEST(Creation, LoaderFamilyMarksAndPictures) {
    struct Case {
        const char* label;
        std::uint8_t family;
        bool picture;
        bool mark;
    };
    for (Case c : {Case{"KP310c 01.1x", 0, true, false}, Case{"FANTO 1", 2, true, false},
                   Case{"FANTO DWELMAR", 1, false, true}, Case{"LUV 3", 1, false, true},
                   Case{"GDF", 1, false, true}}) {
        Shell s;
        CreateWindows(s, Edition::Loader);
        RunCreationWork(s, WithLabel(c.label));
        SCOPED_TRACE(c.label);
        EXPECT_EQ(s.loader_family, c.family);
        EXPECT_EQ(s.form6->Image1.visible, c.picture);
        const std::string plain = std::string("Loader 1.0 -   ") + c.label + "   - Dec  9 2026";
        EXPECT_EQ(s.form6->window.caption, c.mark ? plain + "   -(N)-" : plain);
        EXPECT_EQ(s.form6->Label5.text, c.label);
        EXPECT_EQ(s.form6->Label1.text, "Push 'Update FW' button and connect a device");
        EXPECT_TRUE(s.form6->Label1.font.italic);
        EXPECT_EQ(s.form6->Label6.text, "");
    }
}

TEST(Creation, UpdaterEditionPicturesAndTitle) {
    struct Case {
        const char* label;
        bool image1, image2;
    };
    for (Case c : {Case{"Quillon RC", false, true}, Case{"KP740 1.0", false, false},
                   Case{"QEH 2", false, false}}) {
        Shell s;
        CreateWindows(s, Edition::Updater);
        RunCreationWork(s, WithLabel(c.label));
        SCOPED_TRACE(c.label);
        EXPECT_EQ(s.form1->Image1.visible, c.image1);
        EXPECT_EQ(s.form1->Image2.visible, c.image2);
        EXPECT_EQ(s.form1->window.caption,
                  std::string("Updater 2.7 - ") + c.label + "   [ Dec  9 2026 ]");
        EXPECT_EQ(s.form1->Label1.text, c.label);
    }
}

TEST(Creation, ClearLabelResetsTheLoaderRowsAndBar) {
    Shell s;
    CreateWindows(s, Edition::Loader);
    TForm6& f = *s.form6;
    f.ProgressBar1.position = 40;
    f.Label1.text = " CHK Error !! ";
    f.Label1.text_colour = colour::kRed;
    f.Label6.text = "board";
    f.Label7.text = "BIOS 12";
    ClearLabel(f);
    EXPECT_EQ(f.ProgressBar1.position, 0);
    EXPECT_EQ(f.Label1.text_colour, colour::kBlack);
    EXPECT_EQ(f.Label1.align, Align::Left);
    EXPECT_EQ(f.Label6.text, "");
    EXPECT_EQ(f.Label7.text, "");
}

}  // namespace
}  // namespace quillon::ui
