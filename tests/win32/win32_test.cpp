// The Win32 parts on the real system calls (under Wine in CI): the overlapped channel
// against devsim on a COM port, a vanished port mid-session, the registry store with the
// user's fallback and values that are not ours, the SetupAPI listing, the named mutex.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "app/single_instance.h"
#include "bench/common/silent_frontend.h"
#include "catalog/preparation.h"
#include "engine/link.h"
#include "engine/outcome.h"
#include "engine/search.h"
#include "engine/session.h"
#include "serial/channel.h"
#include "serial/ports.h"
#include "serial/win32_ftdi.h"
#include "settings/settings.h"
#include "ui/creation.h"
#include "ui/messages.h"
#include "ui/port_selection.h"
#include "ui/program.h"
#include "ui/texts.h"
#include "ui/version_dialog.h"
#include "ui/win32/binding.h"
#include "ui/win32/win32_pump.h"
#include "wait/poll_pump.h"

#include <commctrl.h>

namespace {

using namespace quillon;
using namespace std::chrono_literals;

// Bound on any wait for devsim: far above any answer time, so that only a hang trips it.
constexpr auto kHangCheck = 10s;
constexpr std::uint8_t kIdentify = 0xC2;  // the first identify byte devsim answers

// The port number of a COM port named by an environment variable ("5" for COM5), or -1.
int PortFromEnv(const char* name) {
    const char* v = std::getenv(name);
    const int com = v ? std::atoi(v) : 0;
    return com >= 1 && com <= serial::kHighestComNumber ? com - 1 : -1;
}

bool UnderWine() {
    return GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr;
}

// ---- channel ----

class Channel : public ::testing::Test {
protected:
    void SetUp() override {
        port = PortFromEnv("QUILLON_TEST_COM");
        if (port < 0) GTEST_SKIP() << "QUILLON_TEST_COM names no COM port with devsim";
        ASSERT_NE(channels.OpenChannel(port, 115200, 0, 2, 8, 0), nullptr);
    }
    void TearDown() override {
        if (port >= 0) channels.CloseChannel(port);
    }
    int port = -1;
    serial::ChannelTable channels;
};

TEST_F(Channel, TheReplyEndsTheWaitAndIsReadWhole) {
    engine::PollPump pump([this] { return channels.PollHandle(port); });
    ASSERT_NE(channels.PollHandle(port), -1) << "the pending read's event is the poll handle";
    for (int round = 0; round < 3; ++round) {
        // Nothing queued: a read returns at once with nothing.
        std::uint8_t buffer[256];
        EXPECT_EQ(channels.ReadChannel(port, buffer, sizeof buffer), 0u);
        ASSERT_EQ(channels.WriteChannel(port, &kIdentify, 1), 2);
        std::uint32_t got = 0;
        const auto start = engine::Clock::now();
        while (got == 0 && engine::Clock::now() - start < kHangCheck) {
            const auto before = engine::Clock::now();
            pump.wait(kHangCheck, false, true);
            // Woken by the reply, not by the end of the wait.
            EXPECT_LT(engine::Clock::now() - before, kHangCheck);
            got = channels.ReadChannel(port, buffer, sizeof buffer);
        }
        ASSERT_GT(got, 0u) << "round " << round;
        // The rest of the reply (devsim's identification is several bytes) follows.
        const auto settle = engine::Clock::now();
        while (engine::Clock::now() - settle < 200ms) {
            pump.wait(20ms, false, true);
            got += channels.ReadChannel(port, buffer, sizeof buffer);
        }
        EXPECT_GE(got, 2u) << "round " << round;
        ASSERT_NE(channels.PollHandle(port), -1) << "a new read is pending after each read";
    }
}

TEST_F(Channel, WaitsWithoutInputLastTheirTime) {
    engine::PollPump pump([this] { return channels.PollHandle(port); });
    const auto before = engine::Clock::now();
    pump.wait(30ms, false, true);  // nothing was sent: nothing answers
    EXPECT_GE(engine::Clock::now() - before, 30ms);
    std::uint8_t buffer[16];
    EXPECT_EQ(channels.ReadChannel(port, buffer, sizeof buffer), 0u);
}

// A device that hangs up in the middle of a session (devsim --hang-up-after): the session
// ends as failed with "no response" as soon as the line is gone, and nothing hangs.
class Recorder : public bench::SilentFrontend {
public:
    void Failed(engine::LinkResult r) override { failures.push_back(r); }
    void Succeeded() override { succeeded = true; }
    std::vector<engine::LinkResult> failures;
    bool succeeded = false;
};

TEST(VanishedPort, TheSessionEndsWithNoResponseAtOnce) {
    const int port = PortFromEnv("QUILLON_TEST_HANGUP_COM");
    if (port < 0) GTEST_SKIP() << "QUILLON_TEST_HANGUP_COM names no COM port with devsim";
    serial::ChannelTable channels;
    serial::PortSelection ports;
    ports.selected_port = static_cast<std::int16_t>(port);
    engine::PollPump pump([&] { return channels.PollHandle(port); });
    Recorder ui;
    engine::Engine e(ui, channels, ports, pump);
    auto catalog = std::make_unique<catalog::CatalogState>();
    catalog::InitCatalog(*catalog);
    ASSERT_EQ(engine::SearchDevice(e), engine::SearchResult::Found);
    const auto start = engine::Clock::now();
    const engine::SessionResult r = engine::PrgMode(e, *catalog);
    // Ended by the hang-up itself, not by waiting out a packet's answer.
    EXPECT_LT(engine::Clock::now() - start, std::chrono::milliseconds(engine::kPacketWaitMs));
    EXPECT_EQ(r.end, engine::SessionEnd::Ended);
    EXPECT_FALSE(ui.succeeded);
    EXPECT_EQ(ui.failures, std::vector<engine::LinkResult>{engine::LinkNoResponse});
    // A later read or write fails quietly instead of blocking.
    std::uint8_t buffer[16];
    EXPECT_EQ(channels.ReadChannel(port, buffer, sizeof buffer), 0u);
    channels.CloseChannel(port);
}

// ---- registry store ----

// Writes and removes raw values under an edition's key in one hive.
struct RawKey {
    HKEY root;
    std::string path;
    void set(const std::string& name, DWORD type, const void* data, DWORD size) const {
        HKEY key = nullptr;
        ASSERT_EQ(RegCreateKeyExA(root, path.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key,
                                  nullptr),
                  ERROR_SUCCESS);
        ASSERT_EQ(RegSetValueExA(key, name.c_str(), 0, type, static_cast<const BYTE*>(data), size),
                  ERROR_SUCCESS);
        RegCloseKey(key);
    }
    void remove(const std::string& name) const {
        HKEY key = nullptr;
        if (RegOpenKeyExA(root, path.c_str(), 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS) return;
        RegDeleteValueA(key, name.c_str());
        RegCloseKey(key);
    }
};

constexpr std::uint8_t kEdition = 0;  // the Updater's key
constexpr const char* kValue = "quillon_test_value";

struct StoredValueCase {
    const char* name;
    DWORD type;
    std::string bytes;  // the value's raw bytes
    bool in_user_hive;  // else the local machine's
    std::string expected;
};

class StoredValue : public ::testing::TestWithParam<StoredValueCase> {
protected:
    RawKey user{HKEY_CURRENT_USER, std::string(settings::KeyPath(kEdition))};
    RawKey machine{HKEY_LOCAL_MACHINE, std::string(settings::KeyPath(kEdition))};
    void TearDown() override {
        user.remove(kValue);
        machine.remove(kValue);
    }
};

TEST_P(StoredValue, ReadsAsTheTextOrAsAbsent) {
    const StoredValueCase& c = GetParam();
    (c.in_user_hive ? user : machine).set(kValue, c.type, c.bytes.data(), DWORD(c.bytes.size()));
    EXPECT_EQ(settings::LoadSetting(kValue, kEdition), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Registry, StoredValue,
    ::testing::Values(StoredValueCase{"MachineText", REG_SZ, std::string("4\0", 2), false, "4"},
                      StoredValueCase{"UserText", REG_SZ, std::string("12\0", 3), true, "12"},
                      StoredValueCase{"NoTerminatingNul", REG_SZ, "7", false, "7"},
                      StoredValueCase{"ExpandableText", REG_EXPAND_SZ, std::string("3\0", 2), true,
                                      "3"},
                      StoredValueCase{"Dword", REG_DWORD, std::string("\x04\0\0\0", 4), false, ""},
                      StoredValueCase{"Binary", REG_BINARY, "\x01\x02", true, ""},
                      StoredValueCase{"Empty", REG_SZ, "", false, ""},
                      StoredValueCase{"Oversized", REG_SZ, std::string(5000, '9'), false, ""}),
    [](const ::testing::TestParamInfo<StoredValueCase>& i) { return i.param.name; });

TEST_F(StoredValue, TheUsersValueIsReadBeforeTheMachines) {
    machine.set(kValue, REG_SZ, "9", 2);
    user.set(kValue, REG_SZ, "3", 2);
    EXPECT_EQ(settings::LoadSetting(kValue, kEdition), "3");
}

TEST_F(StoredValue, AWriteGoesToTheMachineWhenAllowedElseToTheUser) {
    // Allowed (under Wine every user may write the local machine's hive): the user's older
    // value is removed so that it does not hide the new one.
    user.set(kValue, REG_SZ, "3", 2);
    EXPECT_EQ(settings::StoreSetting(kValue, "8", kEdition), settings::SavedTo::LocalMachine);
    EXPECT_EQ(settings::LoadSetting(kValue, kEdition), "8");
    // Refused, as for a standard user: the same key under the user's hive.
    settings::Store standard_user;
    standard_user.machine_read_only = true;
    EXPECT_EQ(settings::StoreSetting(kValue, "5", kEdition, standard_user),
              settings::SavedTo::CurrentUser);
    EXPECT_EQ(settings::LoadSetting(kValue, kEdition), "5");
}

TEST_F(StoredValue, AChoiceOnlyTheUserCouldKeepIsSaidInTheDetailPanel) {
    ui::Shell shell;
    ui::CreateWindows(shell, ui::Edition::Updater);
    serial::PortSelection ports;
    ports.selected_port = 6;
    settings::Store standard_user;
    standard_user.machine_read_only = true;
    ui::StoreChosenPort(shell, ports, standard_user);
    const auto detail = std::size_t(shell.panel_map[ui::PanelSlot::DetailPanel]);
    EXPECT_EQ(shell.form1->StatusBar1.panels[detail].text, ui::kStoredForUserText);
    EXPECT_EQ(settings::LoadSetting("com", kEdition), "6");  // the remembered port's value
    user.remove("com");
}

// ---- listing ----

TEST(PortListing, EntriesAreComNamesAndWineListsNone) {
    const std::vector<serial::PortEntry> ports = serial::ListPorts();
    for (const serial::PortEntry& p : ports) {
        ASSERT_EQ(p.port_name.rfind("COM", 0), 0u) << p.port_name;
        const int n = std::atoi(p.port_name.c_str() + 3);
        EXPECT_TRUE(n >= 1 && n <= serial::kHighestComNumber) << p.port_name;
        EXPECT_LE(p.friendly_name.size(), serial::kFriendlyNameLimit);
    }
    // Wine's SetupAPI has no "Ports" class devices, even with COM ports mapped.
    if (UnderWine()) {
        EXPECT_TRUE(ports.empty());
    }
    // Listing again gives the same answer and nothing breaks.
    EXPECT_EQ(serial::ListPorts(), ports);
}

// ---- native binding ----

class NativeWindows : public ::testing::Test {
protected:
    NativeWindows() { ui::CreateWindows(shell, ui::Edition::Updater); }
    // The control's own visibility flag (IsWindowVisible also needs the window shown).
    static bool Shown(HWND h) { return (GetWindowLongPtrA(h, GWL_STYLE) & WS_VISIBLE) != 0; }
    std::string Text(HWND h) {
        char text[256] = {};
        GetWindowTextA(h, text, sizeof text);
        return text;
    }
    HWND Control(const char* name) { return binding->control(shell.form1->window, name); }
    void SetUp() override {
        binding = std::make_unique<ui::win32::Binding>(shell, ports, channels, *catalog);
    }
    ui::Shell shell;
    serial::ChannelTable channels;
    serial::PortSelection ports;
    std::unique_ptr<catalog::CatalogState> catalog = std::make_unique<catalog::CatalogState>();
    std::unique_ptr<ui::win32::Binding> binding;
};

TEST_F(NativeWindows, ProgressBarFollowsRangePositionAndState) {
    ui::ProgressBar& bar = shell.form1->ProgressBar1;
    const HWND h = Control("ProgressBar1");
    ASSERT_NE(h, nullptr);
    struct Row {
        int min, max, position;
        ui::ProgressState state;
        int shown_position;
        WPARAM shown_state;
    };
    const Row rows[] = {
        {0, 100, 40, ui::ProgressState::Normal, 40, PBST_NORMAL},
        {0, 1023, 1023, ui::ProgressState::Normal, 1023, PBST_NORMAL},
        {0, 10, 50, ui::ProgressState::Error, 10, PBST_ERROR},  // clamped into the range
        {0, 10, 5, ui::ProgressState::Paused, 5, PBST_PAUSED},
        {0, 100, 0, ui::ProgressState::Normal, 0, PBST_NORMAL},
    };
    for (const Row& row : rows) {
        bar.min = row.min;
        bar.max = row.max;
        bar.position = row.position;
        bar.state = row.state;
        binding->sync();
        EXPECT_EQ(SendMessageA(h, PBM_GETRANGE, TRUE, 0), row.min);
        EXPECT_EQ(SendMessageA(h, PBM_GETRANGE, FALSE, 0), row.max);
        EXPECT_EQ(SendMessageA(h, PBM_GETPOS, 0, 0), row.shown_position);
        // Wine 8 takes PBM_SETSTATE but answers PBST_NORMAL to every PBM_GETSTATE (and
        // draws every state in the normal colour), so the state is checked on Windows only.
        if (!UnderWine()) {
            EXPECT_EQ(SendMessageA(h, PBM_GETSTATE, 0, 0), LRESULT(row.shown_state));
        }
    }
}

TEST_F(NativeWindows, ControlsFollowTextVisibilityEnabledAndPanels) {
    ui::TForm1& f = *shell.form1;
    f.Label2.text = " Program Ok ";
    f.Label4.visible = false;
    f.Button1.enabled = false;
    f.StatusBar1.panels[1].text = "Program EEP 17";
    binding->sync();
    EXPECT_EQ(Text(Control("Label2")), " Program Ok ");
    EXPECT_FALSE(Shown(Control("Label4")));
    EXPECT_FALSE(IsWindowEnabled(Control("Button1")));
    char panel[64] = {};
    SendMessageA(Control("StatusBar1"), SB_GETTEXTA, 1, LPARAM(panel));
    EXPECT_STREQ(panel, "Program EEP 17");
    EXPECT_EQ(SendMessageA(Control("StatusBar1"), SB_GETPARTS, 0, 0),
              LRESULT(f.StatusBar1.panels.size()));
    // And back.
    f.Label4.visible = true;
    f.Button1.enabled = true;
    binding->sync();
    EXPECT_TRUE(Shown(Control("Label4")));
    EXPECT_TRUE(IsWindowEnabled(Control("Button1")));
}

TEST_F(NativeWindows, RepaintRequestsInQuickSuccessionAreAllShown) {
    // Requests closer together than a frame are gathered into one sync that a timer brings:
    // the last state must reach the window all the same.
    ui::Label& label = shell.form1->Label2;
    for (int i = 0; i < 50; ++i) {
        label.text = "packet " + std::to_string(i);
        shell.repaint();
    }
    const auto start = engine::Clock::now();
    MSG msg;
    while (Text(Control("Label2")) != "packet 49" && engine::Clock::now() - start < kHangCheck) {
        MsgWaitForMultipleObjectsEx(0, nullptr, 100, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE))
            ui::win32::DispatchOne(binding.get(), msg);
    }
    EXPECT_EQ(Text(Control("Label2")), "packet 49");
}

TEST_F(NativeWindows, TheSetupDialogTakesEscapeAndEnterAsAnyDialogDoes) {
    // Escape in the list's edit field is Cancel; Enter on the focused Cancel button presses
    // that button, not OK.
    for (const bool escape : {true, false}) {
        ui::ShowSetupDialog(shell, ports, [] { return std::vector<serial::PortEntry>{}; });
        binding->sync();
        ASSERT_TRUE(shell.form3->window.visible);
        const HWND target = escape ? GetWindow(binding->control(shell.form3->window, "ComboBox1"),
                                               GW_CHILD)  // the edit field
                                   : binding->control(shell.form3->window, "Button2");
        ASSERT_NE(target, nullptr);
        SetFocus(target);
        MSG key{target, WM_KEYDOWN, WPARAM(escape ? VK_ESCAPE : VK_RETURN), 0, 0, {}};
        ui::win32::DispatchOne(binding.get(), key);
        EXPECT_FALSE(shell.form3->window.visible) << escape;
    }
}

// ---- display scale ----

// A control's rectangle on its window's client area.
RECT OnClient(HWND control, HWND form) {
    RECT r{};
    GetWindowRect(control, &r);
    MapWindowPoints(nullptr, form, reinterpret_cast<POINT*>(&r), 2);
    return r;
}

// The width of a text in a font (by default the one the control draws with).
int TextWidth(HWND control, const std::string& text, HFONT font = nullptr) {
    if (!font) font = HFONT(SendMessageA(control, WM_GETFONT, 0, 0));
    const HDC dc = GetDC(control);
    const HGDIOBJ old = SelectObject(dc, font);
    SIZE size{};
    GetTextExtentPoint32A(dc, text.c_str(), int(text.size()), &size);
    SelectObject(dc, old);
    ReleaseDC(control, dc);
    return size.cx;
}

int ClientWidth(HWND h) {
    RECT r{};
    GetClientRect(h, &r);
    return r.right;
}

constexpr int kSlackPx = 1;  // rounding of a scaled edge against a scaled width

// A control's text fits its width at `dpi` in the control's font. Wine's stand-in for
// "MS Sans Serif" is wider than Windows' face, so a few texts overrun their boxes already
// at 96 dpi; those may overrun by no more than that overrun, scaled.
void ExpectFits(HWND h, const std::string& text, const ui::Font& font, int design_width, int dpi) {
    const int overrun96 = std::max(0, TextWidth(h, text, ui::win32::FontFor(font)) - design_width);
    EXPECT_LE(TextWidth(h, text) - ClientWidth(h), MulDiv(overrun96, dpi, 96) + kSlackPx)
        << '"' << text << "\" in " << font.family << " " << font.height << " px, " << overrun96
        << " px over at 96 dpi";
    if (overrun96 > 0 && dpi == 96) {
        std::printf("note: \"%s\" (%s %d px) is %d px wider than its %d px box at 96 dpi\n",
                    text.c_str(), font.family.c_str(), font.height, overrun96, design_width);
    }
}

class DisplayScale : public ::testing::TestWithParam<int> {};

// At each display scale every window of every edition is its designed size scaled, every
// control its designed rectangle scaled inside its window, and every text fits its control
// in the control's own font, the longest texts of the message lines and labels included.
TEST_P(DisplayScale, WindowsControlsAndTextsScaleAndFit) {
    const int dpi = GetParam();
    const auto scaled = [dpi](int px) { return MulDiv(px, dpi, 96); };
    for (const ui::Edition edition :
         {ui::Edition::Updater, ui::Edition::Upgrade, ui::Edition::Loader}) {
        SCOPED_TRACE(testing::Message() << "edition " << int(edition) << " at " << dpi << " dpi");
        ui::Shell shell;
        ui::CreateWindows(shell, edition);
        serial::ChannelTable channels;
        serial::PortSelection ports;
        auto catalog = std::make_unique<catalog::CatalogState>();
        ui::win32::Binding binding(shell, ports, channels, *catalog);
        binding.lay_out(dpi);
        for (ui::Window* window : shell.windows()) {
            const ui::ControlList controls = shell.controls_of(*window);
            SCOPED_TRACE(window->name);
            EXPECT_EQ(binding.dpi(*window), dpi);
            const HWND form = binding.form(*window);
            RECT client{};
            GetClientRect(form, &client);
            EXPECT_NEAR(client.right, scaled(window->client_width), kSlackPx);
            EXPECT_NEAR(client.bottom, scaled(window->client_height), kSlackPx);
            for (const ui::ListedControl& c : controls) {
                SCOPED_TRACE(c.name());
                const HWND h = binding.control(*window, c.name());
                ASSERT_NE(h, nullptr);
                ui::Rect designed = c.rect();
                for (const ui::ListedControl& p : controls)
                    if (p.name() == c.control->parent) {
                        designed.x += p.rect().x;
                        designed.y += p.rect().y;
                    }
                const RECT r = OnClient(h, form);
                EXPECT_NEAR(r.left, scaled(designed.x), kSlackPx);
                EXPECT_NEAR(r.top, scaled(designed.y), kSlackPx);
                EXPECT_NEAR(r.right - r.left, scaled(designed.w), kSlackPx);
                // A drop-down list's closed height is its edit field's, set by its font.
                if (!c.as<ui::ComboBox>()) {
                    EXPECT_NEAR(r.bottom - r.top, scaled(designed.h), kSlackPx);
                }
                EXPECT_TRUE(r.left >= 0 && r.top >= 0 && r.right <= client.right &&
                            r.bottom <= client.bottom);
                if (const ui::Label* l = c.as<ui::Label>())
                    ExpectFits(h, l->text, l->font, designed.w, dpi);
                if (const ui::Button* b = c.as<ui::Button>())
                    ExpectFits(h, b->text, b->font, designed.w, dpi);
                if (const ui::Image* image = c.as<ui::Image>()) {
                    // The picture itself at the scale, not stretched by the control.
                    BITMAP bmp{};
                    ASSERT_TRUE(GetObjectA(HGDIOBJ(SendMessageA(h, STM_GETIMAGE, IMAGE_BITMAP, 0)),
                                           sizeof bmp, &bmp));
                    EXPECT_NEAR(bmp.bmWidth, scaled(image->rect.w), kSlackPx);
                }
                if (const ui::StatusBar* bar = c.as<ui::StatusBar>()) {
                    int edges[8] = {};
                    const int n = int(SendMessageA(h, SB_GETPARTS, 8, LPARAM(edges)));
                    ASSERT_EQ(std::size_t(n), bar->panels.size());
                    EXPECT_EQ(edges[0], scaled(bar->panels[0].width));
                }
            }
        }
        // The message line with each of its texts, in the font each is shown in.
        if (ui::Label* line = shell.running.message_line) {
            const HWND h = binding.control(shell.main_window(), line->name);
            const std::string_view activities[] = {ui::kSearchDeviceText,  ui::kDeviceNotFoundText,
                                                   ui::kUnknownDeviceText, ui::kEntryText,
                                                   ui::kProgrammingText,   ui::kFixProgramText};
            const std::string_view outcomes[] = {shell.facts().success_text, engine::kUserAbortText,
                                                 engine::kNoResponseText, ui::kErrorText};
            for (const std::string_view text : activities) {
                ui::ShowActivity(shell, text, ui::colour::kBlack);
                binding.sync();
                ExpectFits(h, line->text, line->font, line->rect.w, dpi);
            }
            for (const std::string_view text : outcomes) {
                ui::ShowOutcome(shell, text, ui::colour::kBlack, 0);
                binding.sync();
                ExpectFits(h, line->text, line->font, line->rect.w, dpi);
            }
            line->text = ui::kPortNotValidText;
            binding.sync();
            ExpectFits(h, line->text, line->font, line->rect.w, dpi);
        }
        // The longest product label, where a window shows it.
        if (shell.form6) {
            ui::Label& label = shell.form6->Label5;
            label.text = "LUV 1C 01.02.02.04";
            binding.sync();
            ExpectFits(binding.control(shell.form6->window, "Label5"), label.text, label.font,
                       label.rect.w, dpi);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Win32, DisplayScale, ::testing::Values(96, 120, 144, 192),
                         [](const ::testing::TestParamInfo<int>& i) {
                             return std::to_string(i.param) + "dpi";
                         });

// A move to a monitor of another scale (WM_DPICHANGED) takes the system's rectangle and
// lays the controls out again; a DPI of none or out of range is taken as 96 or 480.
TEST(DisplayScaleChange, TheSuggestedRectangleIsTakenAndBadValuesAreBounded) {
    ui::Shell shell;
    ui::CreateWindows(shell, ui::Edition::Updater);
    serial::ChannelTable channels;
    serial::PortSelection ports;
    auto catalog = std::make_unique<catalog::CatalogState>();
    ui::win32::Binding binding(shell, ports, channels, *catalog);
    const HWND form = binding.form(shell.form1->window);
    const HWND button = binding.control(shell.form1->window, "Button1");
    struct Row {
        WORD dpi;
        int laid_out;
    };
    const Row rows[] = {{144, 144}, {192, 192}, {0, 96}, {60000, 480}, {96, 96}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.dpi);
        RECT suggested{40, 30, 40 + 700, 30 + 400};
        SendMessageA(form, WM_DPICHANGED, MAKEWPARAM(row.dpi, row.dpi), LPARAM(&suggested));
        RECT now{};
        GetWindowRect(form, &now);
        EXPECT_TRUE(EqualRect(&now, &suggested));
        EXPECT_EQ(binding.dpi(shell.form1->window), row.laid_out);
        EXPECT_EQ(ClientWidth(button), MulDiv(shell.form1->Button1.rect.w, row.laid_out, 96));
    }
    for (const long bad : {0L, -1L, 100000L}) {
        binding.lay_out(int(bad));
        EXPECT_EQ(binding.dpi(shell.form1->window), bad > 0 ? 480 : 96);
    }
}

TEST_F(NativeWindows, TheStopButtonHasTheFocusWhileARunGoes) {
    shell.form1->window.visible = true;
    binding->sync();
    SetFocus(Control("Button1"));
    ui::ShowSessionRunning(shell);
    binding->sync();
    EXPECT_EQ(GetFocus(), Control("Button2"));
    ui::ShowSessionIdle(shell);
    binding->sync();
    EXPECT_EQ(GetFocus(), Control("Button1"));
}

TEST_F(NativeWindows, TheVersionDialogOpensWithOkFocusedAndEscapeOrEnterClosesIt) {
    for (const WPARAM key : {WPARAM(VK_ESCAPE), WPARAM(VK_RETURN)}) {
        ui::ShowVersionDialog(*shell.form4, *catalog, "Version ..");
        binding->sync();
        ASSERT_TRUE(shell.form4->window.visible);
        const HWND ok = binding->control(shell.form4->window, "Button1");
        EXPECT_EQ(GetFocus(), ok);
        const HWND list = binding->control(shell.form4->window, "ListBox1");
        MSG msg{key == VK_ESCAPE ? list : ok, WM_KEYDOWN, key, 0, 0, {}};
        ui::win32::DispatchOne(binding.get(), msg);
        EXPECT_FALSE(shell.form4->window.visible) << key;
    }
}

// ---- USB adapters and the FTDI driver's latency timer ----

// Wine lists no USB adapter; the first start's rule gets a Windows listing through its
// seam instead, with the names SetupAPI gives.
TEST(UsbAdapters, WineListsNoneAndAWindowsListingGivesTheHint) {
    const std::vector<serial::UsbAdapter> adapters = serial::ListUsbAdapters();
    if (UnderWine()) {
        EXPECT_TRUE(adapters.empty());
    }
    EXPECT_EQ(serial::ListUsbAdapters(), adapters);
    const std::vector<serial::PortEntry> listing = {{"COM1", "Communications Port (COM1)"},
                                                    {"COM4", "USB Serial Port (COM4)"}};
    ASSERT_TRUE(serial::IsUsbInstanceId("FTDIBUS\\VID_0403+PID_6001+A600A\\0000"));
    const serial::UsbAdapter ftdi{3, serial::WithoutPortSuffix(listing[1].friendly_name, "COM4")};
    EXPECT_EQ(ui::AdapterHint(false, 0, listing, {ftdi}, "Serial Port"),
              "USB serial adapter on COM4 (USB Serial Port): choose it with Serial Port");
    EXPECT_EQ(ui::AdapterHint(true, 0, listing, {ftdi}, "Serial Port"), "");
}

// The driver's key for the test's COM port, in the machine's hive as the driver keeps it.
struct FtdiKey {
    static constexpr const char* kDevice = "VID_0403+PID_6001+QUILLONTESTA";
    std::string parameters =
        std::string(serial::kFtdiEnumKey) + "\\" + kDevice + "\\0000\\Device Parameters";
    bool set(const std::string& port, DWORD type, const void* data, DWORD size) const {
        HKEY key = nullptr;
        if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, parameters.c_str(), 0, nullptr, 0, KEY_SET_VALUE,
                            nullptr, &key, nullptr) != ERROR_SUCCESS)
            return false;
        const bool ok =
            RegSetValueExA(key, "PortName", 0, REG_SZ, reinterpret_cast<const BYTE*>(port.c_str()),
                           DWORD(port.size() + 1)) == ERROR_SUCCESS &&
            RegSetValueExA(key, "LatencyTimer", 0, type, static_cast<const BYTE*>(data), size) ==
                ERROR_SUCCESS;
        RegCloseKey(key);
        return ok;
    }
    ~FtdiKey() {
        RegDeleteTreeA(HKEY_LOCAL_MACHINE,
                       (std::string(serial::kFtdiEnumKey) + "\\" + kDevice).c_str());
    }
};

TEST(SlowCable, TheDriversLatencyTimerOfTheOpenedPortIsNamedOnce) {
    const int port = PortFromEnv("QUILLON_TEST_COM");
    if (port < 0) GTEST_SKIP() << "QUILLON_TEST_COM names no COM port with devsim";
    const std::string com = "COM" + std::to_string(port + 1);
    const DWORD sixteen = 16, one = 1;
    struct Row {
        const char* what;
        std::string port;
        DWORD type;
        std::string bytes;
        bool told;
    } const rows[] = {
        {"16 ms", com, REG_DWORD, std::string(reinterpret_cast<const char*>(&sixteen), 4), true},
        {"1 ms", com, REG_DWORD, std::string(reinterpret_cast<const char*>(&one), 4), false},
        {"another port's key", "COM200", REG_DWORD,
         std::string(reinterpret_cast<const char*>(&sixteen), 4), false},
        {"text, not a number", com, REG_SZ, std::string("16\0", 3), false},
        {"a short number", com, REG_BINARY, std::string("\x10", 1), false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        FtdiKey key;
        if (!key.set(row.port, row.type, row.bytes.data(), DWORD(row.bytes.size())))
            GTEST_SKIP() << "the driver's keys cannot be written here (not Wine)";
        ui::Shell shell;
        ui::CreateWindows(shell, ui::Edition::Updater);
        serial::ChannelTable channels;
        serial::PortSelection ports;
        ports.selected_port = static_cast<std::int16_t>(port);
        ports.opened_port = -1;
        ui::ApplySelectedPort(shell, ports, channels);
        ASSERT_TRUE(channels.IsOpen(port));
        ui::StatusBar& bar = shell.form1->StatusBar1;
        std::string& detail =
            bar.panels[std::size_t(shell.panel_map[ui::PanelSlot::DetailPanel])].text;
        detail = "before";
        ui::TellSlowAdapter(shell, ports, channels, bar);
        const std::string expected =
            row.told ? ui::SlowAdapterNotice(16, serial::LatencyFix::DeviceManager, port)
                     : "before";
        EXPECT_EQ(detail, expected);
        detail = "chip";
        ui::TellSlowAdapter(shell, ports, channels, bar);  // once per run
        EXPECT_EQ(detail, "chip");
        channels.CloseChannel(port);
    }
}

// ---- the Win32 pump ----

TEST(Win32Pump, AKeyOrClickEndsTheWaitOtherMessagesDoNot) {
    ui::win32::Win32Pump pump([] { return -1; });  // no port: only messages and the timer
    struct Row {
        UINT message;
        bool ends_wait;
    };
    const Row rows[] = {{WM_KEYUP, true}, {WM_LBUTTONUP, true}, {WM_NULL, false}};
    for (const Row& row : rows) {
        MSG stale;
        while (PeekMessageA(&stale, nullptr, 0, 0, PM_REMOVE)) {
        }
        ASSERT_TRUE(PostThreadMessageA(GetCurrentThreadId(), row.message, 0, 0));
        const auto wait = row.ends_wait ? kHangCheck : std::chrono::milliseconds(50);
        const auto before = engine::Clock::now();
        pump.wait(wait, /*process_ui=*/true, /*wake_on_input=*/true);
        const auto took = engine::Clock::now() - before;
        if (row.ends_wait) {
            EXPECT_LT(took, kHangCheck) << "message " << row.message;
        } else {
            EXPECT_GE(took, wait) << "message " << row.message;  // handled, wait goes on
        }
    }
}

// ---- single instance ----

TEST(SingleInstance, TheNamedMutexRefusesASecondHolder) {
    app::SingleInstance first;
    ASSERT_FALSE(first.already_running());
    {
        app::SingleInstance second;
        EXPECT_TRUE(second.already_running());
    }
    first.release();
    app::SingleInstance third;
    EXPECT_FALSE(third.already_running());
}

}  // namespace
