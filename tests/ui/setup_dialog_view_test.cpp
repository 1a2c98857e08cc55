// The "Setup" dialog as real Qt widgets: placed at its pixel positions, filled from the
// model, and the user's clicks reaching the model.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <string>

#include "../serial/fake_backend.h"
#include "ui/port_selection.h"
#include "ui/qt/binding.h"
#include "ui/qt/setup_dialog_view.h"

namespace quillon::ui {
namespace {

QApplication& App() {
    static int argc = 1;
    static char name[] = "setup_dialog_view_test";
    static char* argv[] = {name, nullptr};
    static QApplication* app = new QApplication(argc, argv);  // never destroyed (QTest)
    return *app;
}

struct Fixture {
    Shell shell;
    serial::PortSelection ports;
    std::shared_ptr<serial::testing::FakeScript> script =
        std::make_shared<serial::testing::FakeScript>();
    serial::ChannelTable channels{std::make_shared<serial::testing::FakeBackend>(script)};
    std::unique_ptr<qt::Binding> binding;
    std::unique_ptr<qt::SetupDialogView> view;
    PortLister lister = [] {
        return std::vector<serial::PortEntry>{{"COM1", "Communications Port (COM1)"},
                                              {"COM3", "USB Serial Port (COM3)"},
                                              {"COM10", "Bluetooth link (COM10)"}};
    };
    Fixture() {
        App();
        CreateWindows(shell, Edition::Updater);
        binding = std::make_unique<qt::Binding>(shell);
        view = std::make_unique<qt::SetupDialogView>(*binding, shell, ports, channels);
    }
    qt::FormWidget* dialog() { return binding->form(shell.form3->window); }
};

TEST(SetupDialogView, WidgetsSitAtTheirPlaces) {
    Fixture f;
    QWidget* client = f.dialog()->client();
    EXPECT_EQ(client->size(), QSize(456, 94));
    auto* combo = client->findChild<QComboBox*>("ComboBox1");
    ASSERT_NE(combo, nullptr);
    EXPECT_EQ(combo->geometry(), QRect(41, 16, 408, 21));
    EXPECT_TRUE(combo->isEditable());
    EXPECT_EQ(combo->count(), 12);  // the design-time COM1 .. COM12
    auto* ok = client->findChild<QPushButton*>("Button1");
    ASSERT_NE(ok, nullptr);
    EXPECT_EQ(ok->geometry(), QRect(293, 56, 75, 25));
    EXPECT_EQ(ok->text(), "&Ok");
    auto* cancel = client->findChild<QPushButton*>("Button2");
    ASSERT_NE(cancel, nullptr);
    EXPECT_EQ(cancel->geometry(), QRect(373, 56, 75, 25));
    EXPECT_EQ(client->findChild<QLabel*>("Label1")->text(), "Port :");
    auto* hidden = client->findChild<QComboBox*>("ComboBox2");
    ASSERT_NE(hidden, nullptr);
    EXPECT_TRUE(hidden->isHidden());
    EXPECT_FALSE(f.dialog()->isVisible());
}

TEST(SetupDialogView, ChoosingAPortAndOkOpensIt) {
    Fixture f;
    f.ports.selected_port = 2;
    f.ports.opened_port = 2;
    ShowSetupDialog(f.shell, f.ports, f.lister);
    ASSERT_TRUE(f.dialog()->isVisible());
    QComboBox* combo = f.view->ports_list();
    ASSERT_EQ(combo->count(), 3);
    EXPECT_EQ(combo->currentIndex(), 1);
    EXPECT_EQ(combo->currentText(), "USB Serial Port (COM3)");
    EXPECT_EQ(f.view->names_list()->itemText(2), "COM10");

    // The user picks the third entry from the drop-down and clicks OK.
    combo->setCurrentIndex(2);
    emit combo->activated(2);
    EXPECT_EQ(f.shell.form3->ComboBox1.item_index, 2);
    QTest::mouseClick(f.view->ok_button(), Qt::LeftButton);
    EXPECT_EQ(f.ports.selected_port, 9);
    EXPECT_EQ(f.script->log.front(), "open COM10");
    EXPECT_FALSE(f.dialog()->isVisible());
}

// The keys of any dialog, pressed in the list's edit field: Enter is OK, Escape is Cancel;
// Enter on the focused Cancel button is Cancel.
TEST(SetupDialogView, EnterTakesTheChoiceAndEscapeLeavesIt) {
    struct Row {
        Qt::Key key;
        bool on_cancel;  // the focus on the Cancel button, not in the list
        bool taken;
    };
    for (const Row row : {Row{Qt::Key_Return, false, true}, Row{Qt::Key_Enter, false, true},
                          Row{Qt::Key_Escape, false, false}, Row{Qt::Key_Return, true, false}}) {
        Fixture f;
        f.ports.selected_port = 2;
        f.ports.opened_port = 2;
        ShowSetupDialog(f.shell, f.ports, f.lister);
        f.dialog()->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(f.dialog()));
        QComboBox* combo = f.view->ports_list();
        combo->setCurrentIndex(2);
        emit combo->activated(2);
        QWidget* target = row.on_cancel ? static_cast<QWidget*>(f.view->cancel_button())
                                        : static_cast<QWidget*>(combo->lineEdit());
        target->setFocus();
        QTest::keyClick(target, row.key);
        const std::string where = std::to_string(row.key) + (row.on_cancel ? " on Cancel" : "");
        EXPECT_FALSE(f.dialog()->isVisible()) << where;
        EXPECT_EQ(f.ports.selected_port, row.taken ? 9 : 2) << where;
        EXPECT_EQ(f.script->log.empty(), !row.taken) << where;
    }
}

TEST(SetupDialogView, TypingAndCancel) {
    Fixture f;
    f.ports.selected_port = 0;
    f.ports.opened_port = 0;
    ShowSetupDialog(f.shell, f.ports, f.lister);
    QComboBox* combo = f.view->ports_list();
    combo->lineEdit()->selectAll();
    QTest::keyClicks(combo->lineEdit(), "whatever");
    EXPECT_EQ(f.shell.form3->ComboBox1.item_index, -1);  // a typed text selects nothing
    EXPECT_EQ(f.shell.form3->ComboBox1.text, "whatever");
    QTest::mouseClick(f.view->cancel_button(), Qt::LeftButton);
    EXPECT_EQ(f.shell.form3->ComboBox1.item_index, 0);
    EXPECT_EQ(combo->currentText(), "Communications Port (COM1)");
    EXPECT_FALSE(f.dialog()->isVisible());
    EXPECT_TRUE(f.script->log.empty());
    EXPECT_EQ(f.ports.selected_port, 0);
}

}  // namespace
}  // namespace quillon::ui
