// The windows as real Qt widgets: geometry and texts from the models, messages reaching
// the widgets at once, clicks reaching the commands.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <chrono>
#include <string>

#include "serial/channel.h"
#include "ui/commands.h"
#include "ui/creation.h"
#include "ui/engine_frontend.h"
#include "ui/messages.h"
#include "ui/qt/binding.h"

namespace quillon::ui {
namespace {

QApplication& App() {
    static int argc = 1;
    static char name[] = "qt_binding_test";
    static char* argv[] = {name, nullptr};
    // Never destroyed: QTest's input devices outlive every static destructor order.
    static QApplication* app = new QApplication(argc, argv);
    return *app;
}

struct Fixture {
    Shell shell;
    std::unique_ptr<qt::Binding> binding;
    Fixture(Edition e, const std::string& label) {
        App();
        CreateWindows(shell, e);
        RunCreationWork(shell, {label, "Dec  9 2026", "10:11:12"});
        binding = std::make_unique<qt::Binding>(shell);
        shell.main_window().visible = true;
        binding->sync();
    }
    qt::FormWidget* main() { return binding->form(shell.main_window()); }
    template <class W>
    W* child(const char* name) {
        W* w = main()->client()->findChild<W*>(name);
        EXPECT_NE(w, nullptr) << name;
        return w;
    }
};

QRect R(int x, int y, int w, int h) {
    return QRect(x, y, w, h);
}

TEST(QtBinding, UpdaterWindowGeometryAndTexts) {
    Fixture f(Edition::Updater, "Quillon RC 2.04");
    qt::FormWidget* w = f.main();
    ASSERT_NE(w, nullptr);
    EXPECT_TRUE(w->isVisible());
    EXPECT_EQ(w->windowTitle(), "Updater 2.7 - Quillon RC 2.04   [ Dec  9 2026 ]");
    EXPECT_EQ(w->client()->size(), QSize(511, 265));
    EXPECT_EQ(w->minimumSize(), w->maximumSize());  // fixed border
    EXPECT_EQ(w->pos(), QPoint(137, 200));
    EXPECT_EQ(w->menu_action()->text(), "&Change port");

    EXPECT_EQ(f.child<QPushButton>("Button1")->geometry(), R(8, 8, 75, 25));
    EXPECT_EQ(f.child<QPushButton>("Button1")->text(), "&Update");
    EXPECT_FALSE(f.child<QPushButton>("Button2")->isVisible());
    EXPECT_EQ(f.child<QLabel>("Label1")->geometry(), R(10, 51, 493, 45));
    EXPECT_EQ(f.child<QLabel>("Label1")->text(), "Quillon RC 2.04");
    EXPECT_EQ(f.child<QLabel>("Label1")->font().pixelSize(), 40);
    EXPECT_TRUE(f.child<QLabel>("Label1")->font().bold());
    EXPECT_EQ(f.child<QLabel>("Label2")->geometry(), R(13, 182, 484, 29));
    EXPECT_FALSE(f.child<QLabel>("Label2")->isVisible());
    EXPECT_FALSE(f.child<QLabel>("Image1")->isVisible());
    EXPECT_TRUE(f.child<QLabel>("Image2")->isVisible());
    EXPECT_FALSE(f.child<QLabel>("Image2")->pixmap().isNull());
    EXPECT_EQ(f.child<QProgressBar>("ProgressBar1")->geometry(), R(8, 224, 497, 16));

    auto* bar = f.child<QWidget>("StatusBar1");
    EXPECT_EQ(bar->geometry(), R(0, 246, 511, 19));
    std::vector<int> widths;
    for (auto* p : bar->findChildren<QLabel*>()) widths.push_back(p->width());
    EXPECT_EQ(widths, (std::vector<int>{50, 130, 100, 50}));
}

TEST(QtBinding, UpdaterMessagesAndStopReachTheWidgetsAtOnce) {
    Fixture f(Edition::Updater, "Quillon");
    ShowSessionRunning(f.shell);  // the repaint hook syncs: no explicit sync below
    auto* stop = f.child<QPushButton>("Button2");
    EXPECT_TRUE(stop->isVisible());
    EXPECT_FALSE(f.child<QPushButton>("Button1")->isVisible());

    f.binding->commands(f.shell.form1->window).button2_click = [&] { MainStopClick(f.shell); };
    QTest::mouseClick(stop, Qt::LeftButton);
    EXPECT_EQ(f.shell.stop_requested, 1);
    EXPECT_FALSE(stop->isVisible());

    ShowOutcome(f.shell, " User Abort !! ", colour::kRed, 0);
    auto* line = f.child<QLabel>("Label2");
    EXPECT_TRUE(line->isVisible());
    EXPECT_EQ(line->text(), " User Abort !! ");
    EXPECT_TRUE(line->autoFillBackground());
    EXPECT_EQ(line->palette().color(QPalette::Window), QColor(255, 0, 0));
    EXPECT_EQ(line->palette().color(QPalette::WindowText), QColor(255, 255, 255));
    EXPECT_TRUE(f.child<QPushButton>("Button1")->isVisible());

    SetPanelText(f.shell, f.shell.form1->StatusBar1, PanelSlot::ActivityPanel, "Try 3");
    auto panels = f.child<QWidget>("StatusBar1")->findChildren<QLabel*>();
    EXPECT_EQ(panels[1]->text(), "Try 3");
}

TEST(QtBinding, BlockWritesAreDrawnAfterAWriteOrOnceTheLineIsQuiet) {
    Fixture f(Edition::Updater, "Quillon");
    // The frame rule's clock stands still unless the test moves it.
    auto t = std::chrono::steady_clock::now() + std::chrono::hours(1);
    f.shell.frames.set_clock([&t] { return t; });
    EngineFrontend ui(f.shell);
    TForm1& form = *f.shell.form1;
    const auto bar = EngineFrontend::Ref(form.ProgressBar1);
    const auto status = EngineFrontend::Ref(form.StatusBar1);
    auto* progress = f.child<QProgressBar>("ProgressBar1");
    auto* activity = f.child<QWidget>("StatusBar1")->findChildren<QLabel*>()[1];
    ui.SetProgressMax(bar, 1000);  // drawn at once: a sync at t
    t += kDrawFrame;

    const int before = f.binding->syncs();
    for (int i = 1; i <= 500; ++i) {
        ui.SetPanelText(status, PanelSlot::ActivityPanel, "Program " + std::to_string(i));
        ui.SetProgressPosition(bar, i);
        ASSERT_EQ(form.ProgressBar1.position, i);  // the model gets every value
    }
    // Not drawn in the writer's time (the next packet is about to go) ...
    EXPECT_EQ(f.binding->syncs(), before);
    EXPECT_EQ(progress->value(), 0);
    // ... but once it is written: the last values, in one sync.
    f.shell.frames.Written();
    EXPECT_EQ(progress->value(), 500);
    EXPECT_EQ(activity->text(), "Program 500");
    EXPECT_EQ(f.binding->syncs(), before + 1);
    // Within that frame a write draws nothing; when no packet follows, the binding's timer
    // draws the last value once the line has been quiet.
    ui.SetProgressPosition(bar, 501);
    f.shell.frames.Written();
    EXPECT_EQ(progress->value(), 500);
    t += kQuietLine;
    QTRY_COMPARE_WITH_TIMEOUT(progress->value(), 501, 10000);
    EXPECT_EQ(f.binding->syncs(), before + 2);

    // An outcome is drawn at once, whatever the frame.
    ui.SetProgressPosition(bar, 700);
    ui.ShowOutcome(" OK ", colour::kGreen, 1);
    EXPECT_EQ(progress->value(), 700);
    EXPECT_EQ(f.child<QLabel>("Label2")->text(), " OK ");
}

TEST(QtBinding, TheProgressBarIsDrawnSolidInItsStateColourUpToItsPosition) {
    Fixture f(Edition::Updater, "Quillon");
    ProgressBar& model = f.shell.form1->ProgressBar1;
    auto* progress = f.child<QProgressBar>("ProgressBar1");
    struct Row {
        int position;
        ProgressState state;
        QColor chunk;
    };
    const Row rows[] = {
        {250, ProgressState::Normal, QColor(0x06, 0xB0, 0x25)},
        {600, ProgressState::Paused, QColor(0xDA, 0xCB, 0x26)},
        {900, ProgressState::Error, QColor(0xDA, 0x26, 0x26)},
    };
    model.min = 0;
    model.max = 1000;
    for (const Row& row : rows) {
        model.position = row.position;
        model.state = row.state;
        f.binding->sync();
        const QImage image = progress->grab().toImage();
        const int y = image.height() / 2;
        // Tenths of the bar: filled up to the position, empty after it.
        for (int tenth = 1; tenth < 10; ++tenth) {
            const int x = image.width() * tenth / 10;
            const bool filled = tenth * 100 < row.position - 20;
            const bool empty = tenth * 100 > row.position + 20;
            if (filled) {
                EXPECT_EQ(image.pixelColor(x, y), row.chunk) << row.position << " " << x;
            }
            if (empty) {
                EXPECT_NE(image.pixelColor(x, y), row.chunk) << row.position << " " << x;
            }
        }
    }
    // Nothing done yet, or reset: no chunk at all.
    model.position = 0;
    f.binding->sync();
    const QImage image = progress->grab().toImage();
    EXPECT_NE(image.pixelColor(3, image.height() / 2), QColor(0xDA, 0x26, 0x26));
}

TEST(QtBinding, UpgradeWindowIsMainWithItsOwnLayout) {
    Fixture f(Edition::Upgrade, "TQX 1C 01.02.02.04");
    qt::FormWidget* w = f.main();
    EXPECT_EQ(w->objectName(), "TForm5");
    EXPECT_EQ(w->windowTitle(), "Upgrade 1.1 -   TQX 1C 01.02.02.04   - Dec  9 2026");
    EXPECT_EQ(w->client()->size(), QSize(630, 181));
    EXPECT_EQ(w->menu_action()->text(), "Serial Port");
    EXPECT_FALSE(f.binding->form(f.shell.form1->window)->isVisible());  // never shown

    auto* panel = f.child<QWidget>("Panel1");
    EXPECT_EQ(panel->geometry(), R(8, 8, 614, 113));
    auto* start = f.child<QPushButton>("Button1");
    EXPECT_EQ(start->parentWidget(), panel);
    EXPECT_EQ(start->geometry(), R(175, 25, 249, 65));
    EXPECT_EQ(start->text(), "START");
    EXPECT_TRUE(start->font().bold());
    EXPECT_FALSE(f.child<QProgressBar>("ProgressBar2")->isVisible());
    EXPECT_EQ(f.child<QWidget>("StatusBar1")->geometry(), R(0, 152, 630, 29));

    ShowActivity(f.shell, "Search Device", colour::kBlack);
    EXPECT_EQ(f.child<QWidget>("StatusBar1")->findChildren<QLabel*>()[1]->text(), "Search Device");
}

TEST(QtBinding, LoaderAbortShowsErrorStateAndFreesUpdate) {
    Fixture f(Edition::Loader, "KP310c 01.1x");
    EXPECT_EQ(f.main()->client()->size(), QSize(635, 255));
    EXPECT_EQ(f.child<QLabel>("Label5")->text(), "KP310c 01.1x");
    EXPECT_EQ(f.child<QLabel>("Label1")->geometry(), R(8, 165, 617, 32));
    EXPECT_TRUE(f.child<QLabel>("Label1")->font().italic());
    EXPECT_FALSE(f.child<QWidget>("StatusBar1")->isVisible());  // written to, never shown
    auto* update = f.child<QPushButton>("Button1");
    auto* abort = f.child<QPushButton>("Button2");
    EXPECT_FALSE(abort->isEnabled());

    ShowSessionRunning(f.shell);
    EXPECT_FALSE(update->isEnabled());
    EXPECT_TRUE(abort->isEnabled());
    f.binding->commands(f.shell.form6->window).button2_click = [&] { LoaderAbortClick(f.shell); };
    QTest::mouseClick(abort, Qt::LeftButton);
    EXPECT_TRUE(update->isEnabled());
    EXPECT_FALSE(abort->isEnabled());
    EXPECT_EQ(f.child<QProgressBar>("ProgressBar1")->property("state").toInt(),
              int(ProgressState::Error));

    ShowOutcome(f.shell, " CHK Error !! ", colour::kRed, 0);
    auto* line = f.child<QLabel>("Label1");
    EXPECT_EQ(line->text(), " CHK Error !! ");
    EXPECT_EQ(line->palette().color(QPalette::WindowText), QColor(255, 0, 0));
    EXPECT_TRUE(line->alignment() & Qt::AlignHCenter);
}

TEST(QtBinding, ClosingTheMainWindowRunsItsCloseCommand) {
    Fixture f(Edition::Upgrade, "TQX");
    int closed = 0;
    f.binding->commands(f.shell.main_window()).form_close = [&] { ++closed; };
    f.main()->close();
    EXPECT_EQ(closed, 1);
    EXPECT_FALSE(f.shell.main_window().visible);
}

}  // namespace
}  // namespace quillon::ui
