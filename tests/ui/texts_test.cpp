// Every text the program shows, written out byte for byte (blanks and "!!" included) next
// to the place where it appears. Each text is produced by driving the real window models,
// frontend adapter and engine against the in-process virtual device on the virtual clock,
// and looked for where the user would see it: a typo in any text, or a text sent to the
// wrong place, fails its row.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <map>

#include "catalog/catalog.h"
#include "catalog/families.h"
#include "engine/session.h"
#include "tests/engine/virtual_time.h"
#include "tests/serial/fake_backend.h"
#include "tests/support/fake_pump.h"
#include "tools/devsim/inprocess_backend.h"
#include "ui/commands.h"
#include "ui/engine_frontend.h"
#include "ui/presenter.h"
#include "ui/program.h"

namespace quillon::ui {
namespace {

using namespace std::chrono_literals;

constexpr int kDevicePort = 4;  // COM5
constexpr char kLabel[] = "TQX 1C 01.02.02.04";
constexpr char kLoaderLabel[] = "KP310c 01.1x";

// What the user saw, by place ("TForm1.panel2", "TForm6.Label1", "box.text", ...), in the
// order it appeared.
using Seen = std::map<std::string, std::vector<std::string>>;

devsim::Options Board(std::uint8_t chip, std::uint8_t print = 16) {
    devsim::Options o;
    o.chip = chip;
    o.print = print;
    return o;
}

// One running program without a display: the windows of an edition after their creation
// work, the remembered port in a temporary store, the engine with the real session, and
// a look at every visible text at each wait and repaint.
struct Screen {
    Screen(Edition edition, std::string label, devsim::Options options, const char* stored,
           std::shared_ptr<serial::Backend> backend = nullptr)
        : device(std::make_shared<devsim::Device>(std::move(options))),
          channels(backend ? std::move(backend)
                           : std::make_shared<devsim::InProcessBackend>(
                                 device, kDevicePort,
                                 [this] {
                                     return std::chrono::duration_cast<devsim::Nanos>(
                                         pump.now().time_since_epoch());
                                 })),
          frontend(shell),
          presenter(frontend),
          engine(presenter, channels, ports, pump),
          services{channels, ports, catalog, engine, {}, {}, {}, {}, {}, {}, {}} {
        char tmpl[] = "/tmp/quillon-texts-XXXXXX";
        dir = ::mkdtemp(tmpl);
        services.store.directory = dir;
        services.build = {std::move(label), "Dec  9 2026", "10:11:12"};
        services.list_ports = [] {
            return std::vector<serial::PortEntry>{{"COM5", "USB Serial (COM5)"}};
        };
        services.session = [this] { return engine::PrgMode(engine, catalog); };
        channels.sleep = [this](std::chrono::milliseconds ms) { pump.advance(ms); };
        channels.message_box = [this](std::string_view caption, std::string_view text) {
            Add("box.caption", std::string(caption));
            Add("box.text", std::string(text));
        };
        pump.set_input_source(devsim::NextByteDue(device));
        pump.set_ui_hook([this](engine::Clock::time_point t) {
            if (on_wait) on_wait(t);
            Look();
        });
        shell.repaint = [this] { Look(); };
        if (stored)
            settings::SaveSetting("com", stored, static_cast<std::uint8_t>(edition),
                                  services.store);
        CreateWindows(shell, edition);
        RunCreationWork(shell, services);
        shell.main_window().visible = true;
        Look();
    }
    ~Screen() { std::filesystem::remove_all(dir); }

    void Add(const std::string& place, const std::string& text) {
        std::vector<std::string>& texts = seen[place];
        if (texts.empty() || texts.back() != text) texts.push_back(text);
    }
    // Records the texts of a window the user can see now: its caption and menu, and what
    // each of its visible controls shows.
    void Look(const Window& w, const ControlList& controls) {
        if (!w.visible) return;
        const std::string form = w.name;
        Add(form + ".caption", w.caption);
        if (w.has_menu) Add(form + ".menu", w.menu.caption);
        for (const ListedControl& c : controls) {
            if (!c.control->visible) continue;
            const std::string place = form + "." + c.name();
            std::visit(Overloaded{[&](Label* l) { Add(place, l->text); },
                                  [&](Button* b) { Add(place, b->text); },
                                  [&](ComboBox* b) { Add(place, b->text); },
                                  [&](ListBox* l) {
                                      for (const std::string& line : l->items) Add(place, line);
                                  },
                                  [&](StatusBar* bar) {
                                      for (std::size_t i = 0; i < bar->panels.size(); ++i)
                                          Add(form + ".panel" + std::to_string(i),
                                              bar->panels[i].text);
                                  },
                                  [](auto*) {}},
                       c.model);
        }
    }
    // Records every text of every window the user can see now.
    void Look() {
        Add("app.title", shell.app_title);
        if (shell.form5) Look(shell.form5->window, shell.form5->controls());
        if (shell.form6) Look(shell.form6->window, shell.form6->controls());
        Look(shell.form1->window, shell.form1->controls());
        Look(shell.form3->window, shell.form3->controls());
        Look(shell.form4->window, shell.form4->controls());
    }

    // A small plain image for the chip's family in the default row, so that the session
    // gets past the image checks.
    void InstallImage(std::uint8_t chip, std::size_t length = 64, std::uint8_t print = 0,
                      std::uint8_t preparation = 0) {
        payload.assign(length, 0x5A);
        catalog::FirmwareImage& r = catalog.at(0, catalog::FamilyOf(chip)->column);
        r.Payload = payload.data();
        r.PayloadLength = static_cast<std::int32_t>(payload.size());
        r.FixBytes = fix;
        r.FixCount = 2;
        r.EepromBytes = nullptr;
        r.EepromCount = 0;
        r.PlainFlag = 1;
        r.PrintCode = print;  // 0: an image for every print
        r.PreparationCode = preparation;
        catalog::ResetPending(catalog);
    }

    Shell shell;
    engine::FakePump pump;
    std::shared_ptr<devsim::Device> device;
    serial::ChannelTable channels;
    serial::PortSelection ports;
    catalog::CatalogState catalog;
    EngineFrontend frontend;
    Presenter presenter;
    engine::Engine engine;
    Services services;
    std::string dir;
    std::vector<std::uint8_t> payload;
    std::uint8_t fix[2] = {0x12, 0x34};
    std::function<void(engine::Clock::time_point)> on_wait;
    Seen seen;
};

Seen Update(Edition edition, const char* label, devsim::Options o, const char* stored = "4") {
    Screen s(edition, label, std::move(o), stored);
    switch (edition) {
        case Edition::Updater:
            MainUpdateClick(s.shell, s.services);
            break;
        case Edition::Upgrade:
            UpgradeStartClick(s.shell, s.services);
            break;
        case Edition::Loader:
            LoaderUpdateClick(s.shell, s.services);
            break;
    }
    s.Look();
    return s.seen;
}

// The default edition programs this build's PIC18F26K80 image (the first block is rejected
// once), then the user opens the listing and the port dialog.
Seen UpdaterProgramsK80() {
    devsim::Options o = Board(0x48);
    o.reject.first_k = 1;
    Screen s(Edition::Updater, kLabel, o, "4");
    MainUpdateClick(s.shell, s.services);
    MainLabel1DblClick(s.shell, s.services);
    MainChangePortClick(s.shell, s.services);
    s.Look();
    return s.seen;
}

Seen UpdaterProgramsHj64WithDeviceText() {
    devsim::Options o = Board(0xFC, 3);
    o.preparation = 0x84;
    o.bios = 9;
    o.extended = true;
    o.device_text = "board-7";
    return Update(Edition::Updater, kLabel, o);
}

Seen UpdaterStoppedWhileSearching() {
    devsim::Options o;
    o.accept_search = {};
    Screen s(Edition::Updater, kLabel, o, "4");
    s.on_wait = [&s](engine::Clock::time_point t) {
        if (t >= engine::Clock::time_point(250ms) && s.shell.form1->Button2.visible)
            MainStopClick(s.shell);
    };
    MainUpdateClick(s.shell, s.services);
    s.Look();
    return s.seen;
}

Seen UpdaterFinds(std::uint8_t chip) {
    Screen s(Edition::Updater, kLabel, Board(chip), "4");
    s.InstallImage(chip);
    MainUpdateClick(s.shell, s.services);
    return s.seen;
}

Seen UpdaterImageTooBig() {
    Screen s(Edition::Updater, kLabel, Board(0xFD), "4");
    s.InstallImage(0xFD, 0x30000);  // more bytes than twice the fix block's address
    MainUpdateClick(s.shell, s.services);
    return s.seen;
}

// The image is for print 5 with preparation 4; the board is print 16.
Seen UpdaterUnsuitableSmallCodes() {
    Screen s(Edition::Updater, kLabel, Board(0x48), "4");
    s.InstallImage(0x48, 64, 5, 0x04);
    MainUpdateClick(s.shell, s.services);
    return s.seen;
}

Seen UpdaterLineRefused(bool timeouts) {
    auto script = std::make_shared<serial::testing::FakeScript>();
    if (timeouts)
        script->timeouts_fail = true;
    else
        script->line_result = serial::LineResult::Refused;
    Screen s(Edition::Updater, kLabel, {}, "4",
             std::make_shared<serial::testing::FakeBackend>(script));
    MainUpdateClick(s.shell, s.services);
    return s.seen;
}

Seen LoaderCreatedOnly(const char* label) {
    Screen s(Edition::Loader, label, {}, "4");
    return s.seen;
}

Seen LoaderWithNothingStored() {
    Screen s(Edition::Loader, kLoaderLabel, {}, nullptr);
    LoaderUpdateClick(s.shell, s.services);  // COM1: nothing there
    return s.seen;
}

devsim::Options NakOnly() {
    devsim::Options o;
    o.nak_only = true;
    return o;
}

devsim::Options Ignoring() {
    devsim::Options o = Board(0x48);
    o.ignore.from_m = 1;
    return o;
}

devsim::Options Rejecting() {
    devsim::Options o = Board(0x48);
    o.reject.from_m = 1;
    return o;
}

devsim::Options Bios(std::uint8_t bios) {
    devsim::Options o = Board(0x48);
    o.bios = bios;
    return o;
}

const std::map<std::string, std::function<Seen()>>& Scenarios() {
    static const std::map<std::string, std::function<Seen()>> scenarios = {
        {"updater programs k80", UpdaterProgramsK80},
        {"updater programs hj64", UpdaterProgramsHj64WithDeviceText},
        {"updater no device", [] { return Update(Edition::Updater, kLabel, NakOnly()); }},
        {"updater stop", UpdaterStoppedWhileSearching},
        {"updater bad port", [] { return Update(Edition::Updater, kLabel, {}, "7"); }},
        {"updater no port", [] { return Update(Edition::Updater, kLabel, {}, "-1"); }},
        {"updater silent device", [] { return Update(Edition::Updater, kLabel, Ignoring()); }},
        {"updater rejecting device", [] { return Update(Edition::Updater, kLabel, Rejecting()); }},
        {"updater bios 33", [] { return Update(Edition::Updater, kLabel, Bios(33)); }},
        {"updater unknown chip", [] { return Update(Edition::Updater, kLabel, Board(0x50)); }},
        {"updater no image", [] { return Update(Edition::Updater, kLabel, Board(0x42)); }},
        {"updater too big", UpdaterImageTooBig},
        {"updater unsuitable", [] { return Update(Edition::Updater, kLabel, Board(0xFC, 5)); }},
        {"updater unsuitable small codes", UpdaterUnsuitableSmallCodes},
        {"updater line refused", [] { return UpdaterLineRefused(false); }},
        {"updater timeouts refused", [] { return UpdaterLineRefused(true); }},
        {"found 0x42", [] { return UpdaterFinds(0x42); }},
        {"found 0x43", [] { return UpdaterFinds(0x43); }},
        {"found 0x44", [] { return UpdaterFinds(0x44); }},
        {"found 0x45", [] { return UpdaterFinds(0x45); }},
        {"found 0x46", [] { return UpdaterFinds(0x46); }},
        {"found 0x47", [] { return UpdaterFinds(0x47); }},
        {"found 0x48", [] { return UpdaterFinds(0x48); }},
        {"found 0xC7", [] { return UpdaterFinds(0xC7); }},
        {"found 0xFC", [] { return UpdaterFinds(0xFC); }},
        {"found 0xFE", [] { return UpdaterFinds(0xFE); }},
        {"found 0xFD", [] { return UpdaterFinds(0xFD); }},
        {"upgrade programs k80", [] { return Update(Edition::Upgrade, kLabel, Board(0x48)); }},
        {"upgrade no device", [] { return Update(Edition::Upgrade, kLabel, NakOnly()); }},
        {"upgrade bios 33", [] { return Update(Edition::Upgrade, kLabel, Bios(33)); }},
        {"loader programs k80", [] { return Update(Edition::Loader, kLoaderLabel, Board(0x48)); }},
        {"loader no device", [] { return Update(Edition::Loader, kLoaderLabel, NakOnly()); }},
        {"loader rejecting device",
         [] { return Update(Edition::Loader, kLoaderLabel, Rejecting()); }},
        {"loader nothing stored", LoaderWithNothingStored},
        {"loader family 1", [] { return LoaderCreatedOnly("LUV 3.0"); }},
    };
    return scenarios;
}

// Each scenario runs once, whatever number of rows look at it.
const Seen& Watch(const std::string& scenario) {
    static std::map<std::string, Seen> cache;
    auto it = cache.find(scenario);
    if (it == cache.end()) it = cache.emplace(scenario, Scenarios().at(scenario)()).first;
    return it->second;
}

struct TextRow {
    const char* text;  // exactly as shown
    const char* place;
    const char* scenario;
};

// clang-format off
constexpr TextRow kTexts[] = {
    // Captions and titles.
    {"Updater 2.7 - TQX 1C 01.02.02.04   [ Dec  9 2026 ]", "TForm1.caption", "updater programs k80"},
    {"TQX 1C 01.02.02.04", "app.title", "updater programs k80"},
    {"Upgrade 1.1 -   TQX 1C 01.02.02.04   - Dec  9 2026", "TForm5.caption", "upgrade programs k80"},
    {"Loader 1.0 -   KP310c 01.1x   - Dec  9 2026", "TForm6.caption", "loader programs k80"},
    {"Loader 1.0 -   LUV 3.0   - Dec  9 2026   -(N)-", "TForm6.caption", "loader family 1"},
    {"TQX 1C 01.02.02.04   [ 10:11:12 - Dec  9 2026 ]", "TForm4.caption", "updater programs k80"},
    {"Setup", "TForm3.caption", "updater programs k80"},
    {"Error", "box.caption", "updater line refused"},
    {"Error", "box.caption", "updater timeouts refused"},
    // Buttons, menu commands and fixed labels.
    {"&Update", "TForm1.Button1", "updater programs k80"},
    {"&Stop", "TForm1.Button2", "updater programs k80"},
    {"&Change port", "TForm1.menu", "updater programs k80"},
    {"TQX 1C 01.02.02.04", "TForm1.Label1", "updater programs k80"},
    {"START", "TForm5.Button1", "upgrade programs k80"},
    {"STOP", "TForm5.Button2", "upgrade programs k80"},
    {"Serial Port", "TForm5.menu", "upgrade programs k80"},
    {"Update FW", "TForm6.Button1", "loader programs k80"},
    {"Abort", "TForm6.Button2", "loader programs k80"},
    {"&Change Port", "TForm6.menu", "loader programs k80"},
    {"FW :", "TForm6.Label2", "loader programs k80"},
    {"HW :", "TForm6.Label3", "loader programs k80"},
    {"BS :", "TForm6.Label4", "loader programs k80"},
    {"KP310c 01.1x", "TForm6.Label5", "loader programs k80"},
    {"Port :", "TForm3.Label1", "updater programs k80"},
    {"&Ok", "TForm3.Button1", "updater programs k80"},
    {"&Cancel", "TForm3.Button2", "updater programs k80"},
    {"&Ok", "TForm4.Button1", "updater programs k80"},
    // The listing.
    {"Device - Print          - Preparation", "TForm4.ListBox1", "updater programs k80"},
    {"-------------------------------------", "TForm4.ListBox1", "updater programs k80"},
    {"24HJ64 - ZRA_R03[16PIN] - CAN  RES[Code:84]", "TForm4.ListBox1", "updater programs k80"},
    // The port panel.
    {"COM5", "TForm1.panel0", "updater programs k80"},
    {"-----", "TForm1.panel0", "updater no port"},
    {"COM5", "TForm5.panel0", "upgrade programs k80"},
    // Search.
    {"Try 0", "TForm1.panel1", "updater programs k80"},
    {"Try 99", "TForm1.panel1", "updater no device"},
    {"Device not Found", "TForm1.panel1", "updater no device"},
    {"Search Device", "TForm5.panel1", "upgrade programs k80"},
    {"Device not Found", "TForm5.panel1", "upgrade no device"},
    {"Search Device", "TForm6.Label1", "loader programs k80"},
    // The chip found.
    {"Found 258", "TForm1.panel2", "found 0x42"},
    {"Found 2580", "TForm1.panel2", "found 0x43"},
    {"Found 2480", "TForm1.panel2", "found 0x44"},
    {"Found 248", "TForm1.panel2", "found 0x45"},
    {"Found 2320", "TForm1.panel2", "found 0x46"},
    {"Found 18F25k80", "TForm1.panel2", "found 0x47"},
    {"Found 18F26k80", "TForm1.panel2", "found 0x48"},
    {"Found 24j10", "TForm1.panel2", "found 0xC7"},
    {"Found 33FJ64", "TForm1.panel2", "found 0xFC"},
    {"Found 24HJ64", "TForm1.panel2", "found 0xFE"},
    {"Found 33FJ128 - 24HJ128", "TForm1.panel2", "found 0xFD"},
    {"Found 18F26k80", "TForm1.panel2", "updater programs k80"},
    {"Found 33FJ64", "TForm1.panel2", "updater programs hj64"},
    {" ", "TForm5.panel3", "upgrade programs k80"},
    {"Found 18F26k80", "TForm5.panel3", "upgrade programs k80"},
    {"Unknow Device", "TForm1.panel2", "updater unknown chip"},
    // The device report.
    {"BIOS:07 - ZRY_R0x - Preparation03", "TForm1.Label3", "updater programs k80"},
    {"BIOS:09 - ZRA_R03 - Preparation84", "TForm1.Label3", "updater programs hj64"},
    {"board-7", "TForm1.Label4", "updater programs hj64"},
    {"ZRA_R02 - 0x03", "TForm6.Label6", "loader programs k80"},
    {"0x07", "TForm6.Label7", "loader programs k80"},
    // Programming.
    {"Loaded 7402 bytes (0000 to 1CEA)", "TForm1.panel3", "updater programs k80"},
    {"Loaded 17250 bytes (0000 to 4362)", "TForm1.panel3", "updater programs hj64"},
    {"Entry in PrgMode", "TForm1.panel1", "updater programs k80"},
    {" Programming... ", "TForm1.Label2", "updater programs k80"},
    {" Programming... ", "TForm5.panel1", "upgrade programs k80"},
    {" Programming... ", "TForm6.Label1", "loader programs k80"},
    {"Program 00000 (00000)", "TForm1.panel1", "updater programs k80"},
    {"Program 00064 (00040)", "TForm1.panel1", "updater programs k80"},
    {"Resend 0", "TForm1.panel1", "updater programs k80"},
    {"Resend 4", "TForm1.panel1", "updater rejecting device"},
    {"Fix Program", "TForm1.panel1", "updater programs k80"},
    {"Fix Program", "TForm5.panel1", "upgrade programs k80"},
    {"Program EEP 0", "TForm1.panel1", "updater programs k80"},
    {"Program EEP 1023", "TForm1.panel1", "updater programs k80"},
    {"Program EEP 0", "TForm5.panel1", "upgrade programs k80"},
    // Outcomes.
    {" Program Ok ", "TForm1.Label2", "updater programs k80"},
    {"Program OK", "TForm5.panel1", "upgrade programs k80"},
    {"Successfully updated", "TForm6.Label1", "loader programs k80"},
    {"Invalid Port Com", "TForm1.Label2", "updater bad port"},
    {"Invalid Port Com", "TForm1.Label2", "updater line refused"},
    {"Unable to configure the serial port", "box.text", "updater line refused"},
    {"Unable to set the time-out parameters", "box.text", "updater timeouts refused"},
    {" not Response ", "TForm1.Label2", "updater silent device"},
    {" User Abort !! ", "TForm1.Label2", "updater stop"},
    {" CHK Error !! ", "TForm1.Label2", "updater rejecting device"},
    {" CHK Error !! ", "TForm6.Label1", "loader rejecting device"},
    {" Incompatible Bootloader !! ", "TForm1.Label2", "updater bios 33"},
    {" Incompatible Bootloader !! ", "TForm5.panel1", "upgrade bios 33"},
    {" Error !! ", "TForm1.Label2", "updater unknown chip"},
    {" No Hex inside !! ", "TForm1.Label2", "updater no image"},
    {"Warning", "TForm1.panel2", "updater no image"},
    {" Hex too Big !! ", "TForm1.Label2", "updater too big"},
    {"Warning", "TForm1.panel2", "updater too big"},
    {"ZRA_R03 - Preparation 84", "TForm1.Label2", "updater unsuitable"},
    {"ZRC_R01 - Preparation 4", "TForm1.Label2", "updater unsuitable small codes"},
    {"Warning!!", "TForm1.panel2", "updater unsuitable"},
    {"not suitable apparatus", "TForm1.panel3", "updater unsuitable"},
    // The Loader's message line.
    {"Push 'Update FW' button and connect a device", "TForm6.Label1", "loader programs k80"},
    {"The device is not find.", "TForm6.Label1", "loader no device"},
    {"Port not valid. Select a new port.", "TForm6.Label1", "loader nothing stored"},
};
// clang-format on

// One test over the whole table, so that each scenario runs once.
TEST(Texts, AppearByteForByteWhereTheUserLooksForThem) {
    for (const TextRow& row : kTexts) {
        const Seen& seen = Watch(row.scenario);
        const auto it = seen.find(row.place);
        if (it == seen.end()) {
            ADD_FAILURE() << row.place << " never shown in \"" << row.scenario << "\"";
            continue;
        }
        EXPECT_THAT(it->second, ::testing::Contains(std::string(row.text)))
            << '"' << row.text << "\" at " << row.place << " in \"" << row.scenario << "\"";
    }
}

}  // namespace
}  // namespace quillon::ui
