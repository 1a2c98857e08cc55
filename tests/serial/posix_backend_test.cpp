// The POSIX backend on real pseudo-terminals: the channel opens the slave side, the test
// plays the device on the master side.
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <pty.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "serial/channel.h"
#include "serial/port_holders.h"
#include "serial/port_selection.h"
#include "serial/posix_backend.h"

namespace quillon::serial {
namespace {

constexpr int kPort = 6;  // COM7 stands for the pseudo-terminal

struct Pty {
    int master = -1;
    std::string slave;
    Pty() {
        int s = -1;
        char name[128] = {};
        if (openpty(&master, &s, name, nullptr, nullptr) != 0) return;
        slave = name;
        ::close(s);  // the channel opens the slave by its name
    }
    ~Pty() {
        if (master >= 0) ::close(master);
    }
    // Reads what the channel sent, waiting for it (bounded) rather than sleeping.
    std::string receive(std::size_t n) {
        std::string got;
        while (got.size() < n) {
            pollfd p{master, POLLIN, 0};
            if (::poll(&p, 1, 5000) <= 0) break;
            char buf[256];
            const ssize_t r = ::read(master, buf, sizeof buf);
            if (r <= 0) break;
            got.append(buf, std::size_t(r));
        }
        return got;
    }
};

struct PtyChannel : ::testing::Test {
    Pty pty;
    ChannelTable table{std::make_shared<PosixBackend>(
        [this](int port) { return port == kPort ? pty.slave : ""; })};
    std::vector<std::string> boxes;
    void SetUp() override {
        ASSERT_GE(pty.master, 0) << "openpty failed";
        table.message_box = [this](std::string_view, std::string_view text) {
            boxes.emplace_back(text);
        };
    }
    bool open() { return table.OpenChannel(kPort, 115200, 0, 2, 8, 0) != nullptr; }
};

// Through the channel's own open with the settings given, and through the program's open
// of the bootloader line (115200 8N2): the pseudo-terminal reports what the open set.
TEST_F(PtyChannel, LineSettingsAsSeenFromTheOtherSide) {
    PortSelection ports;
    ports.selected_port = kPort;
    ports.opened_port = -1;
    const std::pair<const char*, std::function<bool()>> opens[] = {
        {"channel open", [this] { return open(); }},
        {"bootloader line", [&] { return ApplySelectedPort(ports, table); }},
    };
    for (const auto& [name, open_line] : opens) {
        SCOPED_TRACE(name);
        table.CloseChannel(kPort);
        // Another line's settings first, so that an open that sets nothing would show.
        termios before{};
        ASSERT_EQ(tcgetattr(pty.master, &before), 0);
        before.c_cflag &= ~tcflag_t(CSTOPB);
        cfsetspeed(&before, B9600);
        ASSERT_EQ(tcsetattr(pty.master, TCSANOW, &before), 0);
        ASSERT_TRUE(open_line());
        termios t{};
        // On Linux the master side reports the slave's settings.
        ASSERT_EQ(tcgetattr(pty.master, &t), 0);
        EXPECT_EQ(cfgetospeed(&t), speed_t(B115200));
        EXPECT_EQ(cfgetispeed(&t), speed_t(B115200));
        EXPECT_EQ(t.c_cflag & CSIZE, tcflag_t(CS8));
        EXPECT_TRUE(t.c_cflag & CSTOPB);
        EXPECT_FALSE(t.c_cflag & PARENB);
        EXPECT_FALSE(t.c_cflag & CRTSCTS);
        EXPECT_FALSE(t.c_cflag & HUPCL);  // DTR changes only on our own command
        EXPECT_TRUE(t.c_cflag & CLOCAL);
        EXPECT_TRUE(t.c_cflag & CREAD);
        EXPECT_FALSE(t.c_iflag & (IXON | IXOFF | IXANY));
        EXPECT_FALSE(t.c_iflag & (INPCK | ISTRIP | ICRNL | INLCR | IGNCR | PARMRK | BRKINT));
        EXPECT_FALSE(t.c_lflag & (ICANON | ECHO | ISIG | IEXTEN));
        EXPECT_FALSE(t.c_oflag & OPOST);
        EXPECT_EQ(t.c_cc[VMIN], 0);
        EXPECT_EQ(t.c_cc[VTIME], 0);
    }
    EXPECT_TRUE(boxes.empty());
}

TEST_F(PtyChannel, ReadWithNothingThereReturnsZeroAndNeverBlocks) {
    ASSERT_TRUE(open());
    const int fd = table.PollHandle(kPort);
    ASSERT_GE(fd, 0);
    EXPECT_TRUE(fcntl(fd, F_GETFL) & O_NONBLOCK);
    std::uint8_t buf[64];
    EXPECT_EQ(table.ReadChannel(kPort, buf, sizeof buf), 0u);
    EXPECT_EQ(table.ReadChannel(kPort, buf, sizeof buf), 0u);
    // An empty read is no hang-up: what arrives afterwards is still read.
    EXPECT_EQ(table.PollHandle(kPort), fd);
    ASSERT_EQ(::write(pty.master, "K", 1), 1);
    pollfd p{fd, POLLIN, 0};
    ASSERT_EQ(::poll(&p, 1, 5000), 1);
    EXPECT_EQ(table.ReadChannel(kPort, buf, sizeof buf), 1u);
    EXPECT_EQ(buf[0], 'K');
}

TEST_F(PtyChannel, BytesTravelBothWaysUntranslated) {
    ASSERT_TRUE(open());
    ASSERT_EQ(table.SetControlLines(kPort, true), 0);  // a pty has no DTR/RTS: carried on
    const std::string out("\xC1\r\n\x00\x11\x13\xFF", 7);
    EXPECT_EQ(table.WriteChannel(kPort, reinterpret_cast<const std::uint8_t*>(out.data()),
                                 std::uint32_t(out.size())),
              2);
    EXPECT_EQ(pty.receive(out.size()), out);

    const std::string in("K\r\x03\x11\x00N", 6);
    ASSERT_EQ(::write(pty.master, in.data(), in.size()), ssize_t(in.size()));
    pollfd p{table.PollHandle(kPort), POLLIN, 0};
    ASSERT_EQ(::poll(&p, 1, 5000), 1);  // the handle wakes a waiter when input arrives
    std::string got;
    std::uint8_t buf[64];
    while (got.size() < in.size()) {
        const std::uint32_t n = table.ReadChannel(kPort, buf, sizeof buf);
        if (n == 0 && ::poll(&p, 1, 5000) != 1) break;
        got.append(reinterpret_cast<char*>(buf), n);
    }
    EXPECT_EQ(got, in);
    EXPECT_EQ(table.FlushChannel(kPort), 0);
}

// Runs `fn` in a child process and returns its exit code.
template <class Fn>
int InChild(Fn fn) {
    const pid_t pid = fork();
    if (pid == 0) _exit(fn());
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 100;
}

TEST_F(PtyChannel, TheDeviceIsHeldExclusively) {
    ASSERT_TRUE(open());
    const std::string path = pty.slave;
    // Another program of ours (or any program that locks) is refused.
    EXPECT_EQ(InChild([&] { return PosixBackend().open(path) ? 1 : 0; }), 0);
    // A second open from this process too: only a reopen through the table, which
    // releases the device first, succeeds.
    EXPECT_EQ(PosixBackend().open(path), nullptr);
    EXPECT_TRUE(open());
    // After the close the device is free again.
    table.CloseChannel(kPort);
    EXPECT_EQ(InChild([&] { return PosixBackend().open(path) ? 0 : 1; }), 0);
}

// A program that holds the device with a plain open (a terminal program, a modem manager)
// is found as fuser finds it and named; the process at the far end of a pseudo-terminal
// (holding its master, as devsim does) is the device, not a competitor.
TEST_F(PtyChannel, ADeviceHeldByAnotherProgramIsRefusedAndTheHolderNamed) {
    for (const bool holds_master : {false, true}) {
        int ready[2], release[2];
        ASSERT_EQ(::pipe(ready), 0);
        ASSERT_EQ(::pipe(release), 0);
        const pid_t holder = fork();
        if (holder == 0) {
            prctl(PR_SET_NAME, "minicom");
            ::close(release[1]);  // so that the parent's close ends the read below
            const int fd = ::open(pty.slave.c_str(), O_RDWR | O_NOCTTY);
            if (!holds_master) ::close(pty.master);
            char c = fd >= 0 ? 'y' : 'n';
            if (::write(ready[1], &c, 1) != 1) _exit(1);
            [[maybe_unused]] const ssize_t n = ::read(release[0], &c, 1);  // until released
            _exit(0);
        }
        char c = 0;
        ASSERT_EQ(::read(ready[0], &c, 1), 1);
        ASSERT_EQ(c, 'y');
        PosixBackend backend;
        const auto holders = PortHolders(pty.slave);
        if (holds_master) {
            EXPECT_TRUE(holders.empty());
            EXPECT_NE(backend.open(pty.slave), nullptr);
        } else {
            EXPECT_EQ(holders, (std::vector<PortHolder>{{holder, "minicom"}}));
            EXPECT_EQ(backend.open(pty.slave), nullptr);
            EXPECT_EQ(backend.refusal(),
                      "In use by minicom (pid " + std::to_string(holder) + ") (" + pty.slave + ")");
            EXPECT_FALSE(open());
            EXPECT_EQ(table.record(kPort).refusal, backend.refusal());
        }
        ::close(release[1]);
        ::waitpid(holder, nullptr, 0);
        for (int fd : {ready[0], ready[1], release[0]}) ::close(fd);
    }
    // Once the holder has gone the device opens, and a refusal is forgotten.
    EXPECT_TRUE(open());
    EXPECT_EQ(table.record(kPort).refusal, "");
}

// Without the rights to the device the user learns which group gives them.
TEST_F(PtyChannel, NoPermissionNamesTheGroupToJoin) {
    const group* g = ::getgrnam("dialout");
    const gid_t gid = g ? g->gr_gid : 0;
    const std::string name = g ? "dialout" : ::getgrgid(0)->gr_name;
    ASSERT_EQ(::chown(pty.slave.c_str(), static_cast<uid_t>(-1), gid), 0);
    ASSERT_EQ(::chmod(pty.slave.c_str(), 0660), 0);
    int out[2];
    ASSERT_EQ(::pipe(out), 0);
    const int code = InChild([&] {
        if (geteuid() == 0 &&
            (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0))
            return 2;
        PosixBackend backend;
        if (backend.open(pty.slave)) return 1;
        const std::string why = backend.refusal();
        return ::write(out[1], why.data(), why.size()) == ssize_t(why.size()) ? 0 : 3;
    });
    ::close(out[1]);
    if (code == 2) GTEST_SKIP() << "cannot drop privileges here";
    ASSERT_EQ(code, 0);
    char buf[512] = {};
    ASSERT_GT(::read(out[0], buf, sizeof buf - 1), 0);
    ::close(out[0]);
    EXPECT_EQ(std::string(buf),
              "No permission: join group " + name + ", then log in again (" + pty.slave + ")");
}

TEST_F(PtyChannel, APlainOpenByAnotherUserIsRefused) {
    ASSERT_TRUE(open());
    const std::string path = pty.slave;
    // TIOCEXCL refuses every further open(2) except a privileged one: try as nobody.
    chmod(path.c_str(), 0666);
    const int code = InChild([&] {
        if (geteuid() == 0 &&
            (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0))
            return 2;
        const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (fd >= 0) return 1;
        return errno == EBUSY ? 0 : 3;
    });
    if (code == 2) GTEST_SKIP() << "cannot drop privileges here";
    EXPECT_EQ(code, 0);
}

TEST_F(PtyChannel, AHangUpOnTheOtherSideIsSurvived) {
    ASSERT_TRUE(open());
    ::close(pty.master);
    pty.master = -1;
    std::uint8_t buf[16] = {1, 2, 3};
    EXPECT_EQ(table.ReadChannel(kPort, buf, sizeof buf), 0u);
    // Once the device is gone a waiter gets no handle that would wake it for ever.
    EXPECT_EQ(table.PollHandle(kPort), -1);
    EXPECT_EQ(table.WriteChannel(kPort, buf, 3), 0);
    EXPECT_EQ(table.ReadChannel(kPort, buf, sizeof buf), 0u);
    table.SetControlLines(kPort, true);
    table.FlushChannel(kPort);
    table.CloseChannel(kPort);
    EXPECT_FALSE(table.IsOpen(kPort));
}

TEST_F(PtyChannel, AWriteAfterAHangUpFailsAtOnce) {
    ASSERT_TRUE(open());
    ::close(pty.master);
    pty.master = -1;
    const std::vector<std::uint8_t> bytes(64, 0x41);
    EXPECT_EQ(table.WriteChannel(kPort, bytes), 0);
    EXPECT_EQ(table.PollHandle(kPort), -1);
    EXPECT_TRUE(table.IsOpen(kPort));  // the record stays open until it is closed
}

TEST_F(PtyChannel, AMissingDeviceOrUnsupportedSettingsFailTheOpen) {
    ChannelTable other(std::make_shared<PosixBackend>([](int) { return "/nonexistent/tty"; }));
    EXPECT_EQ(other.OpenChannel(0, 115200, 0, 2, 8, 0), nullptr);
    ChannelTable none(std::make_shared<PosixBackend>([](int) { return ""; }));
    EXPECT_EQ(none.OpenChannel(0, 115200, 0, 2, 8, 0), nullptr);
    // A file that is not a terminal is no serial port.
    ChannelTable file(std::make_shared<PosixBackend>([](int) { return "/dev/null"; }));
    EXPECT_EQ(file.OpenChannel(0, 115200, 0, 2, 8, 0), nullptr);

    EXPECT_EQ(table.OpenChannel(kPort, 12345, 0, 2, 8, 0), nullptr);   // no such speed
    EXPECT_EQ(table.OpenChannel(kPort, 115200, 9, 2, 8, 0), nullptr);  // no such parity
    EXPECT_EQ(boxes, std::vector<std::string>(2, "Unable to configure the serial port"));
    EXPECT_TRUE(open());  // nothing was left held
}

TEST_F(PtyChannel, AWriteThatCannotCompleteTimesOut) {
    auto device = PosixBackend().open(pty.slave);
    ASSERT_NE(device, nullptr);
    ASSERT_EQ(device->set_line(LineSettings{}), LineResult::Ok);
    // Nobody reads the master side: the write fills the pty and must give up at its
    // deadline (here 20 ms + 0 per byte) instead of hanging.
    ASSERT_TRUE(device->set_timeouts(Timeouts{0xFFFFFFFF, 0, 0, 0, 20}));
    const std::vector<std::uint8_t> big(1 << 20, 0x55);
    EXPECT_FALSE(device->write(big));
    EXPECT_GE(device->poll_handle(), 0);  // still usable afterwards
}

}  // namespace
}  // namespace quillon::serial
