// The Qt pump: window events run inside a wait, input ends it, and a device search runs
// on it against devsim over a real pseudo-terminal, stopped by the Stop command.
#include "ui/qt/qt_pump.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <QApplication>
#include <QKeyEvent>
#include <QTimer>
#include <string>

#include "engine/search.h"
#include "serial/posix_backend.h"
#include "tests/support/devsim_process.h"
#include "ui/commands.h"
#include "ui/engine_frontend.h"
#include "ui/presenter.h"

namespace quillon::ui::qt {
namespace {

using namespace std::chrono_literals;
using engine::Clock;
// Generous bounds for waits that must end early: reaching them means the wake failed.
constexpr auto kLongWait = 10s;

QApplication& App() {
    static int argc = 1;
    static char name[] = "qt_pump_test";
    static char* argv[] = {name, nullptr};
    static QApplication* app = new QApplication(argc, argv);
    return *app;
}

struct Pipe {
    int fd[2] = {-1, -1};
    Pipe() { EXPECT_EQ(::pipe(fd), 0); }
    ~Pipe() {
        ::close(fd[0]);
        ::close(fd[1]);
    }
};

TEST(QtPump, InputEndsTheWaitAndWindowEventsRunInIt) {
    App();
    Pipe p;
    QtPump pump([&p] { return p.fd[0]; });
    bool ran = false;
    QTimer::singleShot(0, [&ran] { ran = true; });
    ASSERT_EQ(::write(p.fd[1], "K", 1), 1);
    const auto t0 = pump.now();
    pump.wait(kLongWait, /*process_ui=*/true, /*wake_on_input=*/true);
    EXPECT_LT(pump.now() - t0, kLongWait);
    // Without waking on input the wait lasts its whole time, and events still run.
    const auto t1 = pump.now();
    pump.wait(20ms, true, false);
    EXPECT_GE(pump.now() - t1, 20ms);
    EXPECT_TRUE(ran);
}

TEST(QtPump, WithoutWindowProcessingEventsWait) {
    App();
    Pipe p;
    QtPump pump([&p] { return p.fd[0]; });
    bool ran = false;
    QTimer::singleShot(0, [&ran] { ran = true; });
    ASSERT_EQ(::write(p.fd[1], "K", 1), 1);
    const auto t0 = pump.now();
    pump.wait(kLongWait, /*process_ui=*/false, /*wake_on_input=*/true);
    EXPECT_LT(pump.now() - t0, kLongWait);
    EXPECT_FALSE(ran);
    QCoreApplication::processEvents();
    EXPECT_TRUE(ran);
}

TEST(QtPump, AClickEndsTheWait) {
    App();
    QtPump pump([] { return -1; });
    QObject target;
    QTimer::singleShot(0, [&target] {
        QCoreApplication::postEvent(
            &target, new QKeyEvent(QEvent::KeyRelease, Qt::Key_Space, Qt::NoModifier));
    });
    const auto t0 = pump.now();
    pump.wait(kLongWait, /*process_ui=*/true, /*wake_on_input=*/true);
    EXPECT_LT(pump.now() - t0, kLongWait);
}

TEST(QtPump, ItsPartsAreBuiltOnceAndServeEveryWait) {
    App();
    Pipe first, second;
    int fd = first.fd[0];
    QtPump pump([&fd] { return fd; });
    char byte = 0;
    for (int i = 0; i < 50; ++i) {
        // Input wakes each wait; read it away so the next wait has none at its start.
        ASSERT_EQ(::write(first.fd[1], "K", 1), 1);
        const auto t0 = pump.now();
        pump.wait(kLongWait, true, true);
        ASSERT_LT(pump.now() - t0, kLongWait);
        ASSERT_EQ(::read(first.fd[0], &byte, 1), 1);
        pump.wait(1ms, true, false);  // and the timer ends the others
    }
    EXPECT_EQ(pump.built().timers, 1);
    EXPECT_EQ(pump.built().filters, 1);
    EXPECT_EQ(pump.built().notifiers, 1);
    // The port opened again under another handle: that handle wakes the wait.
    fd = second.fd[0];
    ASSERT_EQ(::write(second.fd[1], "K", 1), 1);
    const auto t0 = pump.now();
    pump.wait(kLongWait, true, true);
    EXPECT_LT(pump.now() - t0, kLongWait);
    EXPECT_EQ(pump.built().notifiers, 2);
    EXPECT_EQ(pump.built().timers, 1);
}

TEST(QtPump, ThePortStaysWatchedBetweenWaitsUntilTheRunRests) {
    App();
    Pipe p;
    QtPump pump([&p] { return p.fd[0]; });
    char byte = 0;
    ASSERT_EQ(::write(p.fd[1], "K", 1), 1);
    pump.wait(kLongWait, true, true);
    ASSERT_EQ(::read(p.fd[0], &byte, 1), 1);
    EXPECT_TRUE(pump.watching());  // kept for the next wait
    pump.wait(1ms, true, false);   // a wait that does not want input lets it go
    EXPECT_FALSE(pump.watching());
    pump.wait(1ms, true, true);
    EXPECT_TRUE(pump.watching());
    pump.rest();
    EXPECT_FALSE(pump.watching());
    // Bytes that come while no wait runs are left for the next one, and the idle loop is
    // not woken by them again and again.
    pump.wait(1ms, true, true);
    ASSERT_EQ(::write(p.fd[1], "K", 1), 1);
    for (int i = 0; i < 3; ++i) QCoreApplication::processEvents();
    EXPECT_FALSE(pump.watching());
    const auto t0 = pump.now();
    pump.wait(kLongWait, true, true);
    EXPECT_LT(pump.now() - t0, kLongWait);
    EXPECT_TRUE(pump.watching());
}

TEST(QtPump, AWaitNestedInAnEventHandlerGivesTheOuterWaitItsWakesBack) {
    App();
    Pipe p;
    QtPump pump([&p] { return p.fd[0]; });
    bool inner_done = false;
    QTimer::singleShot(0, [&] {
        pump.wait(2ms, true, false);
        inner_done = true;
        // Input after the inner wait has ended must still end the outer one.
        EXPECT_EQ(::write(p.fd[1], "K", 1), 1);
    });
    const auto t0 = pump.now();
    pump.wait(kLongWait, true, true);
    EXPECT_LT(pump.now() - t0, kLongWait);
    EXPECT_TRUE(inner_done);
    // The outer deadline holds too: a short wait with a nested one ends on its own time.
    QTimer::singleShot(0, [&] { pump.wait(1ms, true, false); });
    const auto t1 = pump.now();
    pump.wait(30ms, true, false);
    EXPECT_GE(pump.now() - t1, 30ms);
    EXPECT_LT(pump.now() - t1, kLongWait);
}

struct GuiRig {
    explicit GuiRig(const std::string& path)
        : channels(std::make_shared<serial::PosixBackend>(
              [path](int port) { return port == 0 ? path : std::string(); })),
          frontend(shell),
          presenter(frontend),
          pump([this] { return channels.PollHandle(ports.selected_port); }),
          engine(presenter, channels, ports, pump) {
        CreateWindows(shell, Edition::Updater);
        ports.selected_port = 0;
    }
    engine::SearchResult Search() { return engine::SearchDevice(engine); }
    Shell shell;
    serial::ChannelTable channels;
    serial::PortSelection ports;
    EngineFrontend frontend;
    Presenter presenter;
    QtPump pump;
    engine::Engine engine;
};

TEST(QtPump, SearchOverAPseudoTerminal) {
    App();
    devsim::DevsimProcess devsim({"--chip", "47", "--bios", "9", "--ext-text", "gui"});
    ASSERT_FALSE(devsim.path().empty());
    GuiRig rig(devsim.path());
    EXPECT_EQ(rig.Search(), engine::SearchResult::Found);
    engine::AwaitExtendedInfo(rig.engine);
    EXPECT_EQ(rig.engine.identity().ChipCode, 0x47);
    EXPECT_EQ(rig.engine.parser.device_text(), "gui");
}

TEST(QtPump, TheStopButtonRunsDuringTheSearch) {
    App();
    devsim::DevsimProcess devsim({"--accept", "00"});  // never answers the identify byte
    ASSERT_FALSE(devsim.path().empty());
    GuiRig rig(devsim.path());
    // The click arrives as a window event while the search waits.
    QTimer::singleShot(30, [&rig] { MainStopClick(rig.shell); });
    EXPECT_EQ(rig.Search(), engine::SearchResult::Stopped);
    EXPECT_EQ(rig.shell.form1->Label2.text, " User Abort !! ");
    EXPECT_EQ(rig.shell.stop_requested, 0);
}

}  // namespace
}  // namespace quillon::ui::qt
