// The "Setup" dialog's model: its lists, the entry lookups and its OK/Cancel behaviour.
#include <gtest/gtest.h>

#include "../serial/fake_backend.h"
#include "ui/port_selection.h"
#include "ui/setup_dialog.h"

namespace quillon::ui {
namespace {

using serial::PortEntry;
using serial::testing::FakeBackend;
using serial::testing::FakeScript;

PortLister Lister(std::vector<PortEntry> entries) {
    return [entries] { return entries; };
}

const std::vector<PortEntry> kThree = {
    {"COM1", "Communications Port (COM1)"},
    {"COM3", "USB Serial Port (COM3)"},
    {"com10", ""},  // lower case, no friendly name
};

TEST(SetupDialog, DesignTimeLayout) {
    TForm3 f;
    EXPECT_EQ(f.window.caption, "Setup");
    EXPECT_EQ(f.window.client_width, 456);
    EXPECT_EQ(f.window.client_height, 94);
    EXPECT_FALSE(f.window.visible);
    EXPECT_EQ(f.Label1.text, "Port :");
    EXPECT_EQ(f.Label1.rect.x, 9);
    EXPECT_EQ(f.Label1.rect.y, 19);
    EXPECT_EQ(f.ComboBox1.rect, (Rect{41, 16, 408, 21}));
    EXPECT_EQ(f.ComboBox1.items.size(), 12u);
    EXPECT_EQ(f.ComboBox1.items.back(), "COM12");
    EXPECT_EQ(f.Button1.rect, (Rect{293, 56, 75, 25}));
    EXPECT_EQ(f.Button1.text, "&Ok");
    EXPECT_EQ(f.Button2.rect, (Rect{373, 56, 75, 25}));
    EXPECT_EQ(f.Button2.text, "&Cancel");
    EXPECT_EQ(f.ComboBox2.rect.x, 0);
    EXPECT_EQ(f.ComboBox2.rect.w, 41);
    EXPECT_FALSE(f.ComboBox2.visible);
}

TEST(SetupDialog, FillFindAndRead) {
    TForm3 f;
    FillPortLists(f, Lister(kThree));
    EXPECT_EQ(f.ComboBox1.items, (std::vector<std::string>{"Communications Port (COM1)",
                                                           "USB Serial Port (COM3)", ""}));
    EXPECT_EQ(f.ComboBox2.items, (std::vector<std::string>{"COM1", "COM3", "com10"}));
    EXPECT_EQ(f.ComboBox1.item_index, -1);

    EXPECT_EQ(FindPortEntry(f, 0), 0);
    EXPECT_EQ(FindPortEntry(f, 2), 1);
    EXPECT_EQ(FindPortEntry(f, 9), 2);   // case is ignored
    EXPECT_EQ(FindPortEntry(f, 4), 0);   // not listed: the first entry
    EXPECT_EQ(FindPortEntry(f, -1), 0);  // "COM0"

    EXPECT_EQ(PortFromEntry(f, 0), 0);
    EXPECT_EQ(PortFromEntry(f, 1), 2);
    EXPECT_EQ(PortFromEntry(f, 2), 9);  // the mended fault: com10 is port 9, not -1
    EXPECT_EQ(PortFromEntry(f, -1), 0);
    EXPECT_EQ(PortFromEntry(f, 3), 0);

    // Entries of odd shapes.
    const std::pair<const char*, std::int16_t> rows[] = {
        {"COM4", 3},  {"com4", 3}, {"CoM257", 256}, {"COM", 0},
        {"COMx", -1}, {"", 0},     {"COM 7", 6},    {"COM1O", 0},
    };
    for (auto [entry, want] : rows) {
        TForm3 g;
        g.ComboBox2.items = {entry};
        EXPECT_EQ(PortFromEntry(g, 0), want) << '"' << entry << '"';
    }

    FillPortLists(f, Lister({}));  // no port present: both lists empty
    EXPECT_TRUE(f.ComboBox1.items.empty());
    EXPECT_TRUE(f.ComboBox2.items.empty());
    EXPECT_EQ(FindPortEntry(f, 3), 0);
    EXPECT_EQ(PortFromEntry(f, 0), 0);
}

struct Dialog {
    Shell shell;
    serial::PortSelection ports;
    std::shared_ptr<FakeScript> script = std::make_shared<FakeScript>();
    serial::ChannelTable channels{std::make_shared<FakeBackend>(script)};
    int repaints = 0;
    Dialog() {
        CreateWindows(shell, Edition::Updater);
        shell.repaint = [this] { ++repaints; };
    }
    TForm3& form() { return *shell.form3; }
    void show(const std::vector<PortEntry>& entries) {
        ShowSetupDialog(shell, ports, Lister(entries));
    }
    std::size_t opens() const {
        std::size_t n = 0;
        for (auto& s : script->log) n += s.rfind("open ", 0) == 0;
        return n;
    }
};

TEST(SetupDialog, ShowingListsThePortsAndSelectsTheChosenOne) {
    Dialog d;
    d.ports.selected_port = 2;
    d.show(kThree);
    EXPECT_TRUE(d.form().window.visible);
    EXPECT_GT(d.repaints, 0);
    EXPECT_EQ(d.form().ComboBox1.item_index, 1);
    EXPECT_EQ(d.form().ComboBox1.text, "USB Serial Port (COM3)");

    d.ports.selected_port = 7;  // not listed: the first entry
    d.show(kThree);
    EXPECT_EQ(d.form().ComboBox1.item_index, 0);

    d.show({});  // nothing listed: nothing selected
    EXPECT_EQ(d.form().ComboBox1.item_index, -1);
    EXPECT_EQ(d.form().ComboBox1.text, "");
}

TEST(SetupDialog, OkOpensAnotherPortAndClosesTheDialog) {
    Dialog d;
    d.ports.selected_port = 0;
    d.ports.opened_port = 0;
    d.show(kThree);
    SelectEntry(d.form().ComboBox1, 2);  // the user picks com10
    SetupOkClick(d.shell, d.ports, d.channels);
    EXPECT_EQ(d.ports.selected_port, 9);
    EXPECT_EQ(d.ports.opened_port, 9);
    EXPECT_EQ(d.opens(), 1u);
    EXPECT_EQ(d.script->log.front(), "open COM10");
    EXPECT_FALSE(d.form().window.visible);
    // The port panel names the new port at once, not only from the next search on.
    EXPECT_EQ(d.shell.form1->StatusBar1.panels[0].text, "COM10");
}

TEST(SetupDialog, OkWithTheSamePortOnlyCloses) {
    Dialog d;
    d.script->open_fails = true;
    d.ports.selected_port = 2;
    d.ports.opened_port = 2;  // it failed to open before
    d.show(kThree);
    SetupOkClick(d.shell, d.ports, d.channels);
    EXPECT_EQ(d.opens(), 0u);  // no second attempt, no second message
    EXPECT_FALSE(d.shell.form1->Label2.visible);
    EXPECT_FALSE(d.form().window.visible);
}

TEST(SetupDialog, OkWithNothingSelectedTakesCom1) {
    Dialog d;
    d.ports.selected_port = 5;
    d.ports.opened_port = 5;
    d.show({});
    SetupOkClick(d.shell, d.ports, d.channels);
    EXPECT_EQ(d.ports.selected_port, 0);
    EXPECT_EQ(d.script->log.front(), "open COM1");

    Dialog e;  // a typed text that names no entry selects nothing either
    e.ports.selected_port = 5;
    e.ports.opened_port = 5;
    e.show(kThree);
    e.form().ComboBox1.item_index = -1;
    e.form().ComboBox1.text = "COM6";
    SetupOkClick(e.shell, e.ports, e.channels);
    EXPECT_EQ(e.ports.selected_port, 0);
}

TEST(SetupDialog, CancelRestoresTheSelectionAndChangesNothingElse) {
    Dialog d;
    d.ports.selected_port = 2;
    d.ports.opened_port = 2;
    d.show(kThree);
    SelectEntry(d.form().ComboBox1, 0);
    SetupCancelClick(d.shell, d.ports);
    EXPECT_EQ(d.form().ComboBox1.item_index, 1);
    EXPECT_EQ(d.ports.selected_port, 2);
    EXPECT_EQ(d.ports.opened_port, 2);
    EXPECT_TRUE(d.script->log.empty());
    EXPECT_FALSE(d.form().window.visible);
}

}  // namespace
}  // namespace quillon::ui
