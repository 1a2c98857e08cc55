// Opening the chosen port, the port panel and the remembered port, on the window models
// with a recording fake serial backend.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "../serial/fake_backend.h"
#include "ui/port_selection.h"

namespace quillon::ui {
namespace {

using serial::testing::FakeBackend;
using serial::testing::FakeScript;
using Log = std::vector<std::string>;

struct Context {
    Shell shell;
    serial::PortSelection ports;
    std::shared_ptr<FakeScript> script = std::make_shared<FakeScript>();
    serial::ChannelTable channels{std::make_shared<FakeBackend>(script)};
    explicit Context(Edition e = Edition::Updater) { CreateWindows(shell, e); }
    Log take() { return std::exchange(script->log, {}); }
    const Label& result() const { return shell.form1->Label2; }
};

const Log kOpenCom(int n) {
    const std::string name = "COM" + std::to_string(n);
    return {"open " + name, "drain",  "set_line", "queues 32768 9216",
            "timeouts",     "CLRDTR", "CLRRTS",   "drain"};
}

TEST(ApplySelectedPort, OpensTheChosenPortOnceWithDtrAndRtsDropped) {
    Context c;
    c.ports.selected_port = 2;
    c.ports.opened_port = 1;
    ApplySelectedPort(c.shell, c.ports, c.channels);
    EXPECT_EQ(c.ports.opened_port, 2);
    EXPECT_EQ(c.take(), kOpenCom(3));
    EXPECT_EQ(c.script->last_line, (serial::LineSettings{115200, 0, 2, 8}));
    EXPECT_TRUE(c.channels.IsOpen(2));
    EXPECT_FALSE(c.result().visible);

    ApplySelectedPort(c.shell, c.ports, c.channels);  // nothing changed: nothing happens
    EXPECT_TRUE(c.take().empty());

    c.ports.opened_port = -1;  // device search forces a reopen
    ApplySelectedPort(c.shell, c.ports, c.channels);
    Log want{"close COM3"};
    for (auto& s : kOpenCom(3)) want.push_back(s);
    EXPECT_EQ(c.take(), want);
}

TEST(ApplySelectedPort, ChoosingAnotherPortReleasesTheOldOne) {
    Context c;
    c.ports.selected_port = 0;
    c.ports.opened_port = -1;
    ApplySelectedPort(c.shell, c.ports, c.channels);
    c.take();
    c.ports.selected_port = 4;
    ApplySelectedPort(c.shell, c.ports, c.channels);
    Log want{"close COM1"};
    for (auto& s : kOpenCom(5)) want.push_back(s);
    EXPECT_EQ(c.take(), want);
    EXPECT_FALSE(c.channels.IsOpen(0));
    EXPECT_TRUE(c.channels.IsOpen(4));
}

TEST(ApplySelectedPort, AFailedOpenSaysInvalidPortComOnce) {
    Context c;
    c.script->open_fails = true;
    c.ports.selected_port = 3;
    c.ports.opened_port = 2;
    ApplySelectedPort(c.shell, c.ports, c.channels);
    EXPECT_EQ(c.ports.opened_port, 3);  // stands although the open failed
    EXPECT_EQ(c.result().text, "Invalid Port Com");
    EXPECT_EQ(c.result().background, colour::kRed);
    EXPECT_TRUE(c.result().visible);
    EXPECT_EQ(c.take(), Log{"open COM4"});
    // Further calls do nothing until another port is chosen.
    c.shell.form1->Label2.text.clear();
    ApplySelectedPort(c.shell, c.ports, c.channels);
    EXPECT_EQ(c.result().text, "");
    EXPECT_TRUE(c.take().empty());
}

TEST(ApplySelectedPort, TheReasonOfARefusalGoesToTheDetailPanel) {
    for (const Edition e : {Edition::Updater, Edition::Upgrade}) {
        Context c(e);
        StatusBar& bar =
            e == Edition::Upgrade ? c.shell.form5->StatusBar1 : c.shell.form1->StatusBar1;
        c.script->open_fails = true;
        c.script->refusal = "In use by minicom (pid 812) (/dev/ttyUSB0)";
        c.ports.selected_port = 3;
        c.ports.opened_port = 2;
        ApplySelectedPort(c.shell, c.ports, c.channels);
        EXPECT_EQ(bar.panels[2].text, c.script->refusal);
        // A refusal without a known reason leaves the panel as it was.
        bar.panels[2].text = "before";
        c.script->refusal.clear();
        c.ports.opened_port = 2;
        ApplySelectedPort(c.shell, c.ports, c.channels);
        EXPECT_EQ(bar.panels[2].text, "before");
    }
}

TEST(ApplySelectedPort, PortNumbersTheChannelRefuses) {
    // A stored 70000 reads as 4464: the channel refuses it without a platform call and the
    // user is told.
    Context c;
    c.ports.selected_port = 4464;
    c.ports.opened_port = 4463;
    ApplySelectedPort(c.shell, c.ports, c.channels);
    EXPECT_TRUE(c.take().empty());
    EXPECT_EQ(c.result().text, "Invalid Port Com");

    // No port chosen (-1) and a forced reopen (-1): nothing, not even the message.
    Context d;
    d.ports.selected_port = -1;
    d.ports.opened_port = -1;
    ApplySelectedPort(d.shell, d.ports, d.channels);
    EXPECT_TRUE(d.take().empty());
    EXPECT_FALSE(d.result().visible);
    // But from another opened port, -1 is "opened" and reported.
    d.ports.opened_port = 0;
    ApplySelectedPort(d.shell, d.ports, d.channels);
    EXPECT_EQ(d.result().text, "Invalid Port Com");
}

TEST(ApplySelectedPort, TheMessageGoesToTheRunningEditionsWindow) {
    Context loader(Edition::Loader);
    loader.script->open_fails = true;
    loader.ports.selected_port = 1;
    loader.ports.opened_port = -1;
    ApplySelectedPort(loader.shell, loader.ports, loader.channels);
    EXPECT_EQ(loader.shell.form6->Label1.text, "Invalid Port Com");
    EXPECT_EQ(loader.shell.form6->Label1.text_colour, colour::kRed);
}

TEST(ShowPortPanel, WritesTheChosenPortIntoThePortPanel) {
    const std::pair<std::int16_t, const char*> rows[] = {
        {-1, "-----"}, {-2, "-----"},   {0, "COM1"},       {2, "COM3"},
        {9, "COM10"},  {256, "COM257"}, {4464, "COM4465"},
    };
    for (auto [port, text] : rows) {
        Context c;
        c.ports.selected_port = port;
        StatusBar& bar = c.shell.form1->StatusBar1;
        ShowPortPanel(c.shell, c.ports, bar);
        EXPECT_EQ(bar.panels[0].text, text) << port;
    }
}

TEST(TellSlowAdapter, OnceAndOnlyWhenTheLatencyTimerStaysAboveOneMillisecond) {
    struct Row {
        std::optional<int> latency;
        bool open;
        bool told;
    } const rows[] = {{16, true, true},
                      {2, true, true},
                      {1, true, false},
                      {0, true, false},
                      {std::nullopt, true, false},
                      {16, false, false}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.latency.value_or(-1));
        Context c;
        c.script->receive_latency_ms = row.latency;
        c.ports.selected_port = 2;
        if (!row.open) c.script->open_fails = true;
        ApplySelectedPort(c.shell, c.ports, c.channels);
        StatusBar& bar = c.shell.form1->StatusBar1;
        std::string& detail =
            bar.panels[std::size_t(c.shell.panel_map[PanelSlot::DetailPanel])].text;
        detail = "before";
        TellSlowAdapter(c.shell, c.ports, c.channels, bar);
        if (!row.told) {
            EXPECT_EQ(detail, "before");
            continue;
        }
        EXPECT_EQ(detail, "Slow USB adapter: latency timer " + std::to_string(*row.latency) +
                              " ms, see docs/serial-ports.md (udev rule)");
        // Once per run: the next update on the same adapter leaves the panel alone.
        detail = "chip";
        c.ports.opened_port = -1;
        ApplySelectedPort(c.shell, c.ports, c.channels);
        TellSlowAdapter(c.shell, c.ports, c.channels, bar);
        EXPECT_EQ(detail, "chip");
    }
}

TEST(SlowAdapterNotice, WindowsNamesTheDeviceManagerStepsAboveTwoMilliseconds) {
    using serial::LatencyFix;
    EXPECT_EQ(SlowAdapterNotice(16, LatencyFix::DeviceManager, 4),
              "Slow USB cable: latency timer 16 ms. Set it to 1 ms: Device Manager > Ports > "
              "COM5 > Port Settings > Advanced > Latency Timer");
    EXPECT_NE(SlowAdapterNotice(3, LatencyFix::DeviceManager, 0), "");
    EXPECT_EQ(SlowAdapterNotice(2, LatencyFix::DeviceManager, 0), "");
    EXPECT_EQ(SlowAdapterNotice(1, LatencyFix::DeviceManager, 0), "");
    EXPECT_NE(SlowAdapterNotice(2, LatencyFix::UdevRule, 0), "");  // Linux asked for 1 ms
    EXPECT_EQ(SlowAdapterNotice(1, LatencyFix::UdevRule, 0), "");
}

// The first start's pointer at the technician's cable: only with exactly one USB adapter,
// only when nothing is remembered or the remembered port is gone, never at the port
// already selected.
TEST(AdapterHint, OnlyTheOneAdapterWhenNothingUsableIsRemembered) {
    const std::vector<serial::PortEntry> present = {{"COM1", "Communications Port (COM1)"},
                                                    {"COM3", "USB Serial Port (COM3)"}};
    const serial::UsbAdapter ftdi{2, "FTDI FT232R USB UART, S/N A600"};
    const serial::UsbAdapter acm{3, "Arduino"};
    const std::string hint =
        "USB serial adapter on COM3 (FTDI FT232R USB UART, S/N A600): choose it with Change port";
    struct Row {
        const char* what;
        bool remembered;
        int selected;
        std::vector<serial::UsbAdapter> adapters;
        std::string expected;
    } const rows[] = {
        {"first start, one adapter", false, 0, {ftdi}, hint},
        {"first start, no adapter", false, 0, {}, ""},
        {"first start, two adapters", false, 0, {ftdi, acm}, ""},
        {"remembered and present", true, 0, {ftdi}, ""},
        {"remembered port missing", true, 6, {ftdi}, hint},
        {"remembered no port", true, -1, {ftdi}, hint},
        {"the adapter is the port", false, 2, {ftdi}, ""},
    };
    for (const Row& row : rows)
        EXPECT_EQ(AdapterHint(row.remembered, row.selected, present, row.adapters, "&Change port"),
                  row.expected)
            << row.what;
}

TEST(RememberedPort, ReadRulesOfTheEditions) {
    struct Row {
        const char* stored;
        std::int16_t selected;
        std::int16_t opened_updater;  // Updater and Upgrade
        std::int16_t opened_loader;
    };
    const Row rows[] = {
        {"", 0, -1, -1},
        {"0", 0, -1, 1},
        {"2", 2, 1, 3},
        {"3x", 3, 2, 4},
        {"-1", -1, -2, 0},
        {"  +5", 5, 4, 6},
        {"abc", 0, -1, 1},
        {"256", 256, 255, 257},  // COM257
        // Not a port the program can have stored: as if nothing were (no wrap to COM5).
        {"257", 0, -1, -1},
        {"65540", 0, -1, -1},
        {"4294967300", 0, -1, -1},
        {"70000", 0, -1, -1},
        {"-2", 0, -1, -1},
        {"32767", 0, -1, -1},
    };
    for (const Row& r : rows) {
        for (Edition e : {Edition::Updater, Edition::Upgrade, Edition::Loader}) {
            serial::PortSelection p;
            ReadRememberedPort(p, e, r.stored);
            EXPECT_EQ(p.selected_port, r.selected) << r.stored << " edition " << int(e);
            EXPECT_EQ(p.opened_port, e == Edition::Loader ? r.opened_loader : r.opened_updater)
                << r.stored << " edition " << int(e);
            EXPECT_NE(p.opened_port, p.selected_port);  // opened by the first Apply
            EXPECT_EQ(p.baud_rate, 115200u);
        }
    }
}

struct TempStore {
    settings::Store store;
    TempStore() {
        std::string t = (std::filesystem::temp_directory_path() / "quillon-ui-XXXXXX").string();
        store.directory = mkdtemp(t.data());
    }
    ~TempStore() {
        std::error_code ec;
        std::filesystem::remove_all(store.directory, ec);
    }
};

TEST(RememberedPort, SavedAtCloseAndLoadedAtCreationPerEdition) {
    TempStore tmp;
    Context c(Edition::Upgrade);
    LoadRememberedPort(c.ports, Edition::Upgrade, tmp.store);  // first run
    EXPECT_EQ(c.ports.selected_port, 0);
    EXPECT_EQ(c.ports.opened_port, -1);

    c.ports.selected_port = 4;  // COM5 chosen and opened
    ApplySelectedPort(c.shell, c.ports, c.channels);
    c.take();
    SaveRememberedPort(c.ports, c.channels, Edition::Upgrade, tmp.store);
    EXPECT_EQ(c.take(), Log{"close COM5"});  // the opened port is closed at close
    EXPECT_EQ(settings::LoadSetting("com", 1, tmp.store), "4");
    EXPECT_EQ(settings::LoadSetting("com", 0, tmp.store), "");  // Updater untouched

    serial::PortSelection next;
    LoadRememberedPort(next, Edition::Upgrade, tmp.store);
    EXPECT_EQ(next.selected_port, 4);
    EXPECT_EQ(next.opened_port, 3);

    // A port chosen but never opened is saved without touching the channel.
    serial::PortSelection none;
    none.selected_port = -1;
    none.opened_port = 5;
    SaveRememberedPort(none, c.channels, Edition::Loader, tmp.store);
    EXPECT_TRUE(c.take().empty());
    EXPECT_EQ(settings::LoadSetting("com", 2, tmp.store), "-1");
    LoadRememberedPort(next, Edition::Loader, tmp.store);
    EXPECT_EQ(next.selected_port, -1);
    EXPECT_EQ(next.opened_port, 0);
}

TEST(RememberedPort, AChoiceThatCannotBeStoredIsReported) {
    TempStore tmp;
    // The editions' folder is a plain file: nothing can be written below it.
    std::ofstream(tmp.store.directory / "Orvanta") << "not a folder";
    Context c(Edition::Upgrade);
    c.ports.selected_port = 4;
    StoreChosenPort(c.shell, c.ports, tmp.store);
    EXPECT_EQ(c.shell.form5->StatusBar1.panels[2].text,
              "Port choice not saved: cannot write " +
                  (tmp.store.directory / "Orvanta" / "Upgrade.conf").string());
    EXPECT_FALSE(SaveRememberedPort(c.ports, c.channels, Edition::Upgrade, tmp.store));

    // A store that works says nothing and holds the choice at once.
    Context d(Edition::Updater);
    d.shell.form1->StatusBar1.panels[2].text = "before";
    d.ports.selected_port = 6;
    StoreChosenPort(d.shell, d.ports, tmp.store);
    EXPECT_EQ(d.shell.form1->StatusBar1.panels[2].text, "before");
    EXPECT_EQ(settings::LoadSetting("com", 0, tmp.store), "6");
}

}  // namespace
}  // namespace quillon::ui
