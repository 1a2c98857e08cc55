// Bytes left on the line between two search tries (a late 'K', the tail of an old
// identification) are thrown away before the next try: they never identify a device.
#include <gtest/gtest.h>

#include <deque>

#include "engine/search.h"
#include "tests/engine/engine_rig.h"

namespace quillon::engine {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;

// A line whose bytes arrive at scripted moments of the virtual clock and are handed over
// one per read, as a slow adapter does: what arrives together with a reply is still
// waiting when the wait for that reply has ended.
struct LineScript {
    std::function<Clock::time_point()> now;
    std::deque<std::pair<Clock::time_point, std::uint8_t>> arriving;
    int search_bytes = 0;
    int answered_write = 0;  // the search byte (1-based) that the device really answers
    Bytes answer;

    void Arrive(Clock::time_point at, const Bytes& bytes) {
        for (std::uint8_t b : bytes) arriving.emplace_back(at, b);
    }
    std::optional<Clock::time_point> NextArrival() const {
        if (arriving.empty()) return std::nullopt;
        return arriving.front().first;
    }
};

class ScriptedLine : public serial::BytesOnlyDevice {
public:
    explicit ScriptedLine(std::shared_ptr<LineScript> s) : s_(std::move(s)) {}
    bool write(std::span<const std::uint8_t> bytes) override {
        s_->search_bytes += static_cast<int>(bytes.size());
        if (s_->search_bytes == s_->answered_write) s_->Arrive(s_->now() + 1ms, s_->answer);
        return true;
    }
    std::size_t read(std::span<std::uint8_t> buffer) override {
        if (buffer.empty() || s_->arriving.empty() || s_->arriving.front().first > s_->now())
            return 0;
        buffer[0] = s_->arriving.front().second;
        s_->arriving.pop_front();
        return 1;
    }

private:
    std::shared_ptr<LineScript> s_;
};

class ScriptedBackend : public serial::Backend {
public:
    explicit ScriptedBackend(std::shared_ptr<LineScript> s) : s_(std::move(s)) {}
    std::string device_name(int port) override {
        return port == testing::kRigPort ? "scripted" : "";
    }
    std::unique_ptr<serial::Device> open(const std::string&) override {
        return std::make_unique<ScriptedLine>(s_);
    }

private:
    std::shared_ptr<LineScript> s_;
};

struct LeftoverRow {
    const char* what;
    Clock::duration at;  // after the search began
    Bytes bytes;
};

void PrintTo(const LeftoverRow& row, std::ostream* os) {
    *os << row.what;
}

class SearchLeftovers : public ::testing::TestWithParam<LeftoverRow> {};

TEST_P(SearchLeftovers, NeverIdentifyADevice) {
    const LeftoverRow& row = GetParam();
    FakePump pump;
    auto script = std::make_shared<LineScript>();
    script->now = [&pump] { return pump.now(); };
    // Only the third search byte draws a real identification.
    script->answered_write = 3;
    script->answer = {'V', 9, 0x48, 0x10, 0x03, 'K'};
    script->Arrive(Clock::time_point(row.at), row.bytes);

    serial::ChannelTable channels(std::make_shared<ScriptedBackend>(script));
    serial::PortSelection ports;
    ports.selected_port = testing::kRigPort;
    ports.opened_port = -1;
    channels.sleep = [&pump](std::chrono::milliseconds ms) { pump.advance(ms); };
    pump.set_input_source([script] { return script->NextArrival(); });
    testing::RecordingFrontend ui;
    ui::Presenter presenter(ui);
    Engine e(presenter, channels, ports, pump);

    ASSERT_EQ(SearchDevice(e), SearchResult::Found);
    EXPECT_EQ(script->search_bytes, 3);
    EXPECT_EQ(ui.Panels(PanelSlot::ActivityPanel),
              (std::vector<std::string>{"Try 0", "Try 1", "Try 2"}));
    const DeviceIdentity& id = e.identity();
    EXPECT_EQ(id.ChipCode, 0x48);
    EXPECT_EQ(id.BiosVersion, 9);
    EXPECT_EQ(id.PrintCode, 0x10);
    EXPECT_EQ(id.PreparationCode, 0x03);
    EXPECT_EQ(id.VersionReported, 1);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, SearchLeftovers,
    ::testing::Values(
        // The first try's wait ends at the rejection; what came with it stays behind.
        LeftoverRow{"a late K behind a rejection", 30ms, {'N', 'K'}},
        LeftoverRow{
            "an old identification behind a rejection", 30ms, {'N', 'V', 7, 0x42, 0x11, 0x05, 'K'}},
        LeftoverRow{"a bare chip code behind a rejection", 30ms, {'N', 0x45, 'K'}},
        // Arriving as the first try's wait ends: its last read takes one byte.
        LeftoverRow{"a late K as a try times out", 100ms, {0x55, 'K'}}),
    [](const ::testing::TestParamInfo<LeftoverRow>& info) {
        return "Row" + std::to_string(info.index);
    });

}  // namespace
}  // namespace quillon::engine
