#include "engine/search.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "engine/outcome.h"
#include "tests/engine/engine_rig.h"

namespace quillon::engine {
namespace {

using namespace std::chrono_literals;
using testing::Rig;

TEST(SearchByte, ByEditionAndLoaderFamily) {
    struct Row {
        Edition edition;
        std::uint8_t family;
        std::uint8_t byte;
    };
    const Row rows[] = {
        {Edition::Updater, 0, 0xC2}, {Edition::Loader, 0, 0xC2},  {Edition::Loader, 1, 0xC6},
        {Edition::Loader, 2, 0xC5},  {Edition::Loader, 3, 0xC2},  {Edition::Upgrade, 0, 0xC5},
        {Edition::Upgrade, 1, 0xC5}, {Edition::Upgrade, 2, 0xC5},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(editions::IdentifyByte(row.edition, row.family), row.byte);
        // And on the wire: the device sees exactly that byte.
        Rig r;
        r.ui.edition_value = row.edition;
        r.ui.loader_family = row.family;
        ASSERT_EQ(r.Search(), SearchResult::Found);
        EXPECT_EQ(r.device->stats().search_bytes, std::vector<std::uint8_t>{row.byte});
    }
}

TEST(SearchDevice, FindsVersionAndBareIdentifications) {
    struct Row {
        bool version_form;
        DeviceIdentity expected;
    };
    for (const Row& row : {Row{true, {0x48, 7, 0x10, 0x03, 1}}, Row{false, {0x48, 0, 0, 0, 0}}}) {
        devsim::Options o;
        o.version_form = row.version_form;
        Rig r(o);
        EXPECT_EQ(r.Search(), SearchResult::Found);
        const DeviceIdentity& id = r.engine.identity();
        EXPECT_EQ(id.ChipCode, row.expected.ChipCode);
        EXPECT_EQ(id.BiosVersion, row.expected.BiosVersion);
        EXPECT_EQ(id.PrintCode, row.expected.PrintCode);
        EXPECT_EQ(id.PreparationCode, row.expected.PreparationCode);
        EXPECT_EQ(id.VersionReported, row.expected.VersionReported);
        EXPECT_EQ(r.device->stats().identifies, 1);
        EXPECT_TRUE(r.ui.running);  // the session goes on from here
        EXPECT_EQ(r.ui.Panels(PanelSlot::ActivityPanel), std::vector<std::string>{"Try 0"});
        EXPECT_EQ(r.ui.Values("progress.state"),
                  (std::vector<long>{static_cast<long>(ProgressState::Paused),
                                     static_cast<long>(ProgressState::Normal)}));
        EXPECT_EQ(r.ui.Values("progress.pos").back(), 0);
        EXPECT_EQ(r.ui.Values("progress.max"), std::vector<long>{100});
    }
}

TEST(SearchDevice, OnlyRejectionsMeanNotFoundAfterAHundredTries) {
    devsim::Options o;
    o.nak_only = true;
    Rig r(o);
    const auto t0 = r.pump.now();
    EXPECT_EQ(r.Search(), SearchResult::NotFound);
    EXPECT_EQ(r.device->stats().identifies, 100);
    // Each rejection is answered at once but the search waits for an identification only.
    const auto panels = r.ui.Panels(PanelSlot::ActivityPanel);
    ASSERT_EQ(panels.size(), 101u);
    EXPECT_EQ(panels.front(), "Try 0");
    EXPECT_EQ(panels[99], "Try 99");
    EXPECT_EQ(panels.back(), "Device not Found");
    EXPECT_FALSE(r.ui.running);
    EXPECT_TRUE(r.ui.Of("outcome").empty());
    // A rejection ends its try at once (none waits out its 100 ms): with the answers
    // coming without delay, the hundred tries take no virtual time at all.
    EXPECT_EQ(r.pump.now() - t0, 0ms);
}

TEST(SearchDevice, SilentDeviceTakesTenSecondsOfVirtualTime) {
    devsim::Options o;
    o.accept_search = {};  // answers nothing
    Rig r(o);
    const auto t0 = r.pump.now();
    EXPECT_EQ(r.Search(), SearchResult::NotFound);
    EXPECT_EQ(r.pump.now() - t0, 100 * 100ms);
    EXPECT_EQ(r.device->stats().search_bytes.size(), 100u);
}

TEST(SearchDevice, StopDuringThe37thTry) {
    devsim::Options o;
    o.accept_search = {};
    Rig r(o);
    r.pump.set_ui_hook([&r](Clock::time_point t) {
        if (t == Clock::time_point(36 * 100ms + 40ms)) r.ui.stop = true;
    });
    EXPECT_EQ(r.Search(), SearchResult::Stopped);
    EXPECT_EQ(r.device->stats().search_bytes.size(), 37u);
    EXPECT_EQ(r.ui.Of("outcome"), std::vector<std::string>{" User Abort !! "});
    EXPECT_EQ(r.ui.Panels(PanelSlot::ActivityPanel).back(), "Try 36");
    EXPECT_EQ(r.ui.Values("progress.pos").back(), 0);
    // The bar keeps its paused state.
    EXPECT_EQ(r.ui.Values("progress.state").back(), static_cast<long>(ProgressState::Paused));
    EXPECT_FALSE(r.ui.running);
}

TEST(SearchDevice, StaleStopEndsTheNextSearchAtOnce) {
    devsim::Options o;
    o.accept_search = {};  // nothing answers: the first check comes at the end of a slice
    Rig r(o);
    r.ui.stop = true;  // pressed while nothing ran
    const auto t0 = r.pump.now();
    EXPECT_EQ(r.Search(), SearchResult::Stopped);
    EXPECT_EQ(r.pump.now() - t0, 5ms);
    EXPECT_EQ(r.device->stats().search_bytes.size(), 1u);
    EXPECT_EQ(r.ui.Of("outcome"), std::vector<std::string>{" User Abort !! "});
    EXPECT_FALSE(r.ui.stop);
    // With an answering device the stop is seen at the first check too, before the answer.
    Rig answering;
    answering.ui.stop = true;
    EXPECT_EQ(answering.Search(), SearchResult::Stopped);
    // The flag was consumed: the next search runs normally.
    EXPECT_EQ(answering.Search(), SearchResult::Found);
}

TEST(SearchDevice, UnusablePort) {
    Rig r;
    r.ports.selected_port = -1;
    EXPECT_EQ(r.Search(), SearchResult::PortUnusable);
    EXPECT_TRUE(r.device->stats().search_bytes.empty());
    EXPECT_TRUE(r.ui.Of("outcome").empty());  // no port: nothing opened, nothing shown
    EXPECT_FALSE(r.ui.running);

    Rig other;
    other.ports.selected_port = testing::kRigPort + 1;  // no device under that number
    EXPECT_EQ(other.Search(), SearchResult::PortUnusable);
    EXPECT_EQ(other.ui.Of("outcome"), std::vector<std::string>{"Invalid Port Com"});
}

TEST(SearchDevice, DisplaysPerEdition) {
    devsim::Options o;
    o.accept_search = {};
    o.answer_delay = 0ns;
    for (Edition ed : {Edition::Loader, Edition::Upgrade, Edition::Updater}) {
        Rig r(o);
        r.ui.edition_value = ed;
        r.pump.set_ui_hook([&r](Clock::time_point t) {
            if (t == Clock::time_point(2 * 100ms + 5ms)) r.ui.stop = true;  // third try
        });
        r.Search();
        const auto panels = r.ui.Panels(PanelSlot::ActivityPanel);
        const auto activities = r.ui.Of("activity");
        std::vector<long> positions = r.ui.Values("progress.pos");
        switch (ed) {
            case Edition::Loader:
                EXPECT_EQ(activities, std::vector<std::string>(3, "Search Device"));
                EXPECT_TRUE(panels.empty());
                EXPECT_EQ(positions, (std::vector<long>{0, 100, 99, 98, 0}));
                break;
            case Edition::Upgrade:
                EXPECT_TRUE(activities.empty());
                EXPECT_EQ(panels, std::vector<std::string>(3, "Search Device"));
                EXPECT_EQ(positions, (std::vector<long>{0, 100, 99, 98, 0}));
                break;
            case Edition::Updater:
                EXPECT_TRUE(activities.empty());
                EXPECT_EQ(panels, (std::vector<std::string>{"Try 0", "Try 1", "Try 2"}));
                EXPECT_EQ(positions, (std::vector<long>{0, 0}));
                break;
        }
        for (const auto& e : r.ui.log) {
            if (e.what == "panel") {
                EXPECT_EQ(e.target, r.status().id);
            }
        }
    }
}

TEST(SearchDevice, AHungUpLineIsNotFoundAtOnce) {
    devsim::Options o;
    o.hang_up_at_identify = 1;  // unplugged before it answered
    Rig r(o);
    const auto t0 = r.pump.now();
    EXPECT_EQ(r.Search(), SearchResult::NotFound);
    EXPECT_EQ(r.ui.Panels(PanelSlot::ActivityPanel).back(), "Device not Found");
    EXPECT_FALSE(r.ui.running);
    EXPECT_EQ(r.device->stats().search_bytes.size(), 1u);  // no try after the hang-up
    EXPECT_LE(r.pump.now() - t0, kSlice);
}

TEST(SearchDevice, ResetsWhatTheLastDeviceLeft) {
    devsim::Options o;
    o.bios = 9;
    o.extended = true;
    o.device_text = "first";
    o.window_start = 0x1000;
    o.window_extent = 0x800;
    Rig r(o);
    ASSERT_EQ(r.Search(), SearchResult::Found);
    AwaitExtendedInfo(r.engine);
    ASSERT_EQ(r.engine.parser.device_text(), "first");
    r.engine.protected_window = {0x1000, 0x800};

    // Another device without an extended block on the same port.
    *r.device = devsim::Device(devsim::Options{});
    ASSERT_EQ(r.Search(), SearchResult::Found);
    EXPECT_EQ(r.engine.parser.device_text(), "");
    EXPECT_EQ(r.engine.parser.WindowStart, 0);
    EXPECT_EQ(r.engine.parser.WindowExtent, 0);
    EXPECT_EQ(r.engine.protected_window.start, 0);
    EXPECT_EQ(r.engine.protected_window.extent, 0);
    EXPECT_EQ(r.engine.identity().BiosVersion, 7);
}

TEST(AwaitExtendedInfo, CompletesOrGivesUpAfterItsRounds) {
    struct Row {
        std::uint8_t bios;
        int announced, sent;
        std::chrono::milliseconds delay;  // between the identification and the block
        std::uint16_t complete;
        Clock::duration waited;
    };
    const Row rows[] = {
        {9, -1, -1, 0ms, 1, 0ms},
        {9, -1, -1, 600ms, 1, 600ms},    // a slow device still makes it, read at once
        {9, -1, -1, 1300ms, 0, 1255ms},  // too slow: 251 rounds of 5 ms
        {9, 40, 10, 0ms, 0, 1255ms},     // never closed: the wait ends all the same
        {7, -1, -1, 0ms, 0, 0ms},        // no extended block at this version
        {32, -1, -1, 0ms, 0, 0ms},
    };
    for (const Row& row : rows) {
        devsim::Options o;
        o.bios = row.bios;
        o.extended = true;
        o.device_text = "board-7";
        o.ext_announced = row.announced;
        o.ext_sent = row.sent;
        o.ext_delay = row.delay;
        Rig r(o);
        ASSERT_EQ(r.Search(), SearchResult::Found);
        const auto t0 = r.pump.now();
        AwaitExtendedInfo(r.engine);
        EXPECT_EQ(r.engine.parser.ExtComplete, row.complete)
            << int(row.bios) << " " << row.delay.count();
        if (row.complete) {
            EXPECT_EQ(r.engine.parser.device_text(), "board-7");
        }
        EXPECT_EQ(r.pump.now() - t0, row.waited) << int(row.bios) << " " << row.delay.count();
        // Whatever became of the block, the next acknowledgement is understood.
        const std::uint8_t ack[] = {'K'};
        r.engine.parser.AckSeen = 0;
        r.engine.parser.Feed(ack);
        EXPECT_EQ(r.engine.parser.AckSeen, 1) << int(row.bios) << " " << row.delay.count();
    }
}

TEST(AwaitExtendedInfo, NeitherObservesNorClearsStop) {
    devsim::Options o;
    o.bios = 9;
    o.extended = true;
    o.ext_delay = 100ms;
    Rig r(o);
    ASSERT_EQ(r.Search(), SearchResult::Found);
    r.ui.stop = true;
    AwaitExtendedInfo(r.engine);
    EXPECT_EQ(r.engine.parser.ExtComplete, 1);
    EXPECT_TRUE(r.ui.stop);
}

TEST(ShowLinkError, TextsAndSilence) {
    Rig r;
    testing::RecordingFrontend& ui = r.ui;
    for (int code : {-1, -2, -3, -4, 0, 1, -5}) r.presenter.ShowLinkError(LinkResult(code));
    EXPECT_EQ(ui.Of("outcome"),
              (std::vector<std::string>{" not Response ", " User Abort !! ", " CHK Error !! ",
                                        " Incompatible Bootloader !! "}));
    for (const auto& e : ui.log) EXPECT_EQ(e.value, static_cast<long>(colour::kRed) * 2);
}

}  // namespace
}  // namespace quillon::engine

namespace quillon::engine {
namespace {

// A port that delivers random bytes, in random amounts, including more than one read
// can take: searches and extended waits end in one of their results and never overrun.
class NoiseDevice : public serial::BytesOnlyDevice {
public:
    explicit NoiseDevice(std::mt19937& rng) : rng_(rng) {}
    bool write(std::span<const std::uint8_t>) override { return true; }
    std::size_t read(std::span<std::uint8_t> buffer) override {
        const std::size_t n = std::min<std::size_t>(buffer.size(), rng_() % 4000);
        const std::uint8_t common[] = {'K', 'N', 'V', 'R', 9, 0x1C};
        for (std::size_t i = 0; i < n; ++i)
            buffer[i] =
                rng_() % 2 ? common[rng_() % sizeof common] : static_cast<std::uint8_t>(rng_());
        return n;
    }

private:
    std::mt19937& rng_;
};

class NoiseBackend : public serial::Backend {
public:
    explicit NoiseBackend(std::mt19937& rng) : rng_(rng) {}
    std::string device_name(int port) override { return port == testing::kRigPort ? "noise" : ""; }
    std::unique_ptr<serial::Device> open(const std::string&) override {
        return std::make_unique<NoiseDevice>(rng_);
    }

private:
    std::mt19937& rng_;
};

TEST(SearchDevice, RandomDeviceBytesEndInADefinedResult) {
    constexpr int kRuns = 300;
    std::mt19937 rng(4242);
    for (int run = 0; run < kRuns; ++run) {
        serial::ChannelTable channels(std::make_shared<NoiseBackend>(rng));
        serial::PortSelection ports;
        ports.selected_port = testing::kRigPort;
        ports.opened_port = -1;
        testing::RecordingFrontend ui;
        ui::Presenter presenter(ui);
        FakePump pump;
        Engine e(presenter, channels, ports, pump);
        const SearchResult r = SearchDevice(e);
        ASSERT_TRUE(r == SearchResult::Found || r == SearchResult::NotFound) << static_cast<int>(r);
        AwaitExtendedInfo(e);
        ASSERT_LE(e.parser.device_text().size(), kDeviceTextLength);
        ASSERT_LE(e.parser.ExtIndex, 255);
        e.packet.Reset();
        const LinkResult l = SendPacket(e, e.packet.bytes, 261);
        ASSERT_LE(l, LinkOk);
        ASSERT_GE(l, LinkChecksumError);
    }
}

}  // namespace
}  // namespace quillon::engine
