// The "Version .." dialog: its model refilled from the catalog on every showing, and the
// real Qt widgets (list and "&Ok") following it.
#include <gtest/gtest.h>

#include <QApplication>
#include <QListWidget>
#include <QPushButton>
#include <QTest>

#include "ui/qt/binding.h"
#include "ui/qt/version_dialog_view.h"
#include "ui/version_dialog.h"
#include "ui/windows.h"

namespace quillon::ui {
namespace {

const std::vector<std::string> kBuildListing = {"Device - Print          - Preparation",
                                                "-------------------------------------",
                                                "24HJ64 - ZRA_R03[16PIN] - CAN  RES[Code:84]"};

TEST(VersionDialog, DesignTimeLayout) {
    TForm4 f;
    EXPECT_EQ(f.window.caption, "Version ..");
    EXPECT_EQ(f.window.client_width, 396);
    EXPECT_EQ(f.window.client_height, 234);
    EXPECT_EQ(f.ListBox1.rect, (Rect{8, 10, 373, 184}));
    EXPECT_EQ(f.ListBox1.font.family, "Courier");
    EXPECT_EQ(f.ListBox1.item_height, 13);
    EXPECT_EQ(f.Button1.rect, (Rect{303, 204, 75, 26}));
    EXPECT_EQ(f.Button1.text, "&Ok");
    EXPECT_FALSE(f.window.visible);
}

TEST(VersionDialog, EveryShowingRefillsTheList) {
    catalog::CatalogState catalog;
    TForm4 f;
    ShowVersionDialog(f, catalog, "TQX 1C 01.02.02.04 10:11:12 Dec  9 2026");
    EXPECT_TRUE(f.window.visible);
    EXPECT_EQ(f.window.caption, "TQX 1C 01.02.02.04 10:11:12 Dec  9 2026");
    EXPECT_EQ(f.ListBox1.items.size(), 2u);  // an empty catalog: header and separator
    f.Button1Click();
    EXPECT_FALSE(f.window.visible);

    catalog::InitCatalog(catalog);
    ShowVersionDialog(f, catalog, "again");
    ShowVersionDialog(f, catalog, "again");  // no duplicated lines
    EXPECT_EQ(f.ListBox1.items, kBuildListing);
}

QApplication& App() {
    static int argc = 1;
    static char name[] = "version_dialog_test";
    static char* argv[] = {name, nullptr};
    static QApplication* app = new QApplication(argc, argv);  // outlives QTest's devices
    return *app;
}

QStringList Items(const QListWidget* list) {
    QStringList out;
    for (int i = 0; i < list->count(); ++i) out << list->item(i)->text();
    return out;
}

TEST(VersionDialogView, ShowsTheListingAndHidesOnOk) {
    App();
    Shell shell;
    CreateWindows(shell, Edition::Updater);
    catalog::CatalogState catalog;
    catalog::InitCatalog(catalog);
    qt::Binding binding(shell);
    qt::VersionDialogView view(binding, shell, catalog);
    qt::FormWidget* form = binding.form(shell.form4->window);
    ASSERT_NE(form, nullptr);
    EXPECT_EQ(view.list()->objectName(), "ListBox1");
    EXPECT_EQ(view.list()->geometry(), QRect(8, 10, 373, 184));
    EXPECT_EQ(view.ok_button()->text(), "&Ok");
    EXPECT_FALSE(form->isVisible());

    // Shown from outside the model (as a window manager would): FormShow still runs.
    form->show();
    EXPECT_TRUE(shell.form4->window.visible || form->isVisible());
    QStringList expected;
    for (const std::string& s : kBuildListing) expected << QString::fromStdString(s);
    EXPECT_EQ(Items(view.list()), expected);
    EXPECT_TRUE(QFontInfo(view.list()->font()).fixedPitch());

    QTest::mouseClick(view.ok_button(), Qt::LeftButton);
    EXPECT_FALSE(shell.form4->window.visible);
    EXPECT_FALSE(form->isVisible());

    // The catalog changed meanwhile; the next showing lists it afresh, once.
    catalog.at(0, catalog::kFamily64).PayloadLength = 1;
    ShowVersionDialog(*shell.form4, catalog, "TQX 1C 01.02.02.04");
    binding.sync();
    EXPECT_TRUE(form->isVisible());
    EXPECT_EQ(form->windowTitle(), "TQX 1C 01.02.02.04");
    EXPECT_EQ(Items(view.list()), expected.mid(0, 2));
}

// The dialog opens with "&Ok" focused; Enter and Escape close it from the keyboard.
TEST(VersionDialogView, TheKeyboardClosesItAtOnce) {
    App();
    Shell shell;
    CreateWindows(shell, Edition::Updater);
    catalog::CatalogState catalog;
    qt::Binding binding(shell);
    qt::VersionDialogView view(binding, shell, catalog);
    qt::FormWidget* form = binding.form(shell.form4->window);
    for (const Qt::Key key : {Qt::Key_Return, Qt::Key_Escape, Qt::Key_Space}) {
        ShowVersionDialog(*shell.form4, catalog, "TQX 1C 01.02.02.04");
        binding.sync();
        ASSERT_TRUE(form->isVisible());
        form->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(form));
        EXPECT_EQ(form->focusWidget(), view.ok_button());
        QWidget* target = key == Qt::Key_Space ? static_cast<QWidget*>(view.ok_button()) : form;
        QTest::keyClick(target, key);
        EXPECT_FALSE(shell.form4->window.visible) << key;
        EXPECT_FALSE(form->isVisible()) << key;
    }
}

}  // namespace
}  // namespace quillon::ui
