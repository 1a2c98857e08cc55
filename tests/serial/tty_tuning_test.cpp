// Low latency on open: the POSIX backend on a real pseudo-terminal, with the driver's
// settings recorded by a fake (a pty has none of its own), and the kernel's path on the
// pty, which must open as if nothing was asked.
#include <pty.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "serial/channel.h"
#include "serial/posix_backend.h"
#include "serial/tty_tuning.h"

namespace quillon::serial {
namespace {

constexpr int kPort = 4;
constexpr int kOtherFlags = 0x40;  // some flag the driver had set: it must survive

struct RecordingTuning : TtyTuning {
    std::optional<int> flags;  // what the driver reports; nullopt: no such setting
    bool refuse = false;
    std::optional<int> latency;
    std::vector<std::string> log;
    std::optional<int> serial_flags(int) override { return flags; }
    bool set_serial_flags(int, int f) override {
        log.push_back("set " + std::to_string(f));
        if (refuse) return false;
        flags = f;
        return true;
    }
    std::optional<int> latency_timer_ms(const std::string&) override { return latency; }
};

struct Pty {
    int master = -1;
    std::string slave;
    Pty() {
        int s = -1;
        char name[128] = {};
        if (openpty(&master, &s, name, nullptr, nullptr) != 0) return;
        slave = name;
        ::close(s);
    }
    ~Pty() {
        if (master >= 0) ::close(master);
    }
};

struct Row {
    const char* name;
    std::optional<int> driver_flags;
    bool refuse;
    std::vector<std::string> on_open;   // calls made by the open
    std::vector<std::string> on_close;  // calls made by the close
    std::optional<int> flags_after_close;
};

TEST(LowLatency, AskedOnOpenAndGivenBackOnClose) {
    const std::string low = std::to_string(kOtherFlags | kLowLatencyFlag);
    const std::string low_alone = std::to_string(kLowLatencyFlag);
    const Row rows[] = {
        {"driver without low latency",
         kOtherFlags,
         false,
         {"set " + low},
         {"set " + std::to_string(kOtherFlags)},
         kOtherFlags},
        {"driver with no flags", 0, false, {"set " + low_alone}, {"set 0"}, 0},
        {"already low latency: left alone",
         kOtherFlags | kLowLatencyFlag,
         false,
         {},
         {},
         kOtherFlags | kLowLatencyFlag},
        {"driver refuses: nothing to undo", kOtherFlags, true, {"set " + low}, {}, kOtherFlags},
        {"no such setting (a pty)", std::nullopt, false, {}, {}, std::nullopt},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Pty pty;
        ASSERT_GE(pty.master, 0);
        auto tuning = std::make_shared<RecordingTuning>();
        tuning->flags = row.driver_flags;
        tuning->refuse = row.refuse;
        ChannelTable table(std::make_shared<PosixBackend>(
            [&pty](int port) { return port == kPort ? pty.slave : ""; }, tuning));
        ASSERT_NE(table.OpenChannel(kPort, 115200, 0, 2, 8, 0), nullptr);
        EXPECT_EQ(table.FlushChannel(kPort), 0);
        EXPECT_EQ(tuning->log, row.on_open);
        tuning->log.clear();
        table.CloseChannel(kPort);
        EXPECT_EQ(tuning->log, row.on_close);
        EXPECT_EQ(tuning->flags, row.flags_after_close);
    }
}

TEST(LowLatency, TheAdaptersLatencyTimerIsReportedByTheOpenDevice) {
    for (const std::optional<int> latency :
         {std::optional<int>(16), std::optional<int>(1), std::optional<int>()}) {
        Pty pty;
        auto tuning = std::make_shared<RecordingTuning>();
        tuning->latency = latency;
        PosixBackend backend([&pty](int) { return pty.slave; }, tuning);
        auto device = backend.open(pty.slave);
        ASSERT_NE(device, nullptr);
        EXPECT_EQ(device->receive_latency_ms(), latency);
    }
}

TEST(LowLatency, TheKernelPathOnAPtyIsNoError) {
    Pty pty;
    ASSERT_GE(pty.master, 0);
    ChannelTable table(std::make_shared<PosixBackend>(
        [&pty](int port) { return port == kPort ? pty.slave : ""; }, MakeKernelTtyTuning()));
    std::vector<std::string> boxes;
    table.message_box = [&boxes](std::string_view, std::string_view text) {
        boxes.emplace_back(text);
    };
    ASSERT_NE(table.OpenChannel(kPort, 115200, 0, 2, 8, 0), nullptr);
    EXPECT_EQ(table.FlushChannel(kPort), 0);
    EXPECT_TRUE(boxes.empty());
    EXPECT_EQ(table.record(kPort).handle->receive_latency_ms(), std::nullopt);
    const std::uint8_t k = 'K';
    EXPECT_EQ(table.WriteChannel(kPort, &k, 1), 2);
    table.CloseChannel(kPort);
    // Closed and open again: the close gave the device back in full.
    ASSERT_NE(table.OpenChannel(kPort, 115200, 0, 2, 8, 0), nullptr);
}

TEST(LowLatency, TheLatencyTimerIsReadFromSysfsBehindSymbolicLinks) {
    const auto root = std::filesystem::path(::testing::TempDir()) / "tty_tuning_sysfs";
    std::filesystem::remove_all(root);
    const auto dev = root / "dev";
    std::filesystem::create_directories(dev);
    std::ofstream(dev / "ttyUSB3").put('\0');
    std::filesystem::create_symlink(dev / "ttyUSB3", root / "COM9");
    const auto sysfs = root / "sys";
    const auto timer_dir = sysfs / "class" / "tty" / "ttyUSB3" / "device";
    std::filesystem::create_directories(timer_dir);
    auto tuning = MakeKernelTtyTuning(sysfs);

    struct {
        const char* content;  // nullptr: no latency_timer file
        std::optional<int> ms;
    } const rows[] = {{"16\n", 16},    {"1\n", 1},    {"0", 0},
                      {"255\n", 255},  {"256\n", {}}, {"", {}},
                      {"16 ms\n", {}}, {"-1\n", {}},  {"99999999999999999999\n", {}},
                      {nullptr, {}}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.content ? row.content : "(no file)");
        std::filesystem::remove(timer_dir / "latency_timer");
        if (row.content) std::ofstream(timer_dir / "latency_timer") << row.content;
        EXPECT_EQ(tuning->latency_timer_ms((root / "COM9").string()), row.ms);
    }
    EXPECT_EQ(tuning->latency_timer_ms((root / "missing").string()), std::nullopt);
}

}  // namespace
}  // namespace quillon::serial
