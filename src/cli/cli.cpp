#include "cli/cli.h"

#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include "catalog/catalog.h"
#include "catalog/families.h"
#include "catalog/listing.h"
#include "cli/default_port.h"
#include "cli/options.h"
#include "cli/platform.h"
#include "cli/runner.h"
#include "edition/edition.h"
#include "serial/ports.h"
#include "settings/settings.h"
#include "ui/stored_port.h"

namespace quillon::cli {
namespace {

constexpr const char* kRememberedPortName = "com";

editions::Edition DefaultEdition(const BuildStamp& build) {
    return editions::FromLabel(build.label);
}

std::string EditionName(editions::Edition e) {
    return std::string(editions::Of(e).name);
}

std::string Hex2(unsigned v) {
    char text[8];
    std::snprintf(text, sizeof text, "%02x", v & 0xFFu);
    return text;
}

// The port listing and the COM numbers' devices are read from one place (the port
// directory's numbers file is written when a new device is seen): one thread at a time.
std::mutex g_port_names;

std::string DeviceOfNumber(int number) {
    std::lock_guard lock(g_port_names);
    return serial::ResolvePortDevice(number, serial::PortPlaces::Default());
}

int Fail(const Io& io, Exit code, const std::string& message) {
    io.err("quillon-cli: " + message + "\n");
    return static_cast<int>(code);
}

int ListPortsCommand(const Options& o, const Io& io) {
    const auto ports = serial::ListPorts();
    if (ports.empty() && !o.json) io.out("no serial ports\n");
    for (const serial::PortEntry& p : ports) {
        const auto name = ParsePortName(p.port_name);
        const std::string device = name ? DeviceOfNumber(name->number) : std::string();
        if (o.json)
            io.out(JsonText(
                       Json{{"port", p.port_name}, {"device", device}, {"name", p.friendly_name}}) +
                   "\n");
        else
            io.out(p.port_name + "\t" + Printable(device) + "\t" + Printable(p.friendly_name) +
                   "\n");
    }
    return static_cast<int>(Exit::Success);
}

int ListImagesCommand(const Options& o, const Io& io) {
    catalog::CatalogState state;
    catalog::InitCatalog(state);
    std::vector<std::string> lines;
    catalog::ListCatalog(state, lines);
    if (!o.json)
        for (const std::string& l : lines) io.out(l + "\n");
    if (!o.json)
        io.out("\nfamily                  print group  print          preparation  bytes\n");
    for (int group = 0; group < catalog::kPrintGroups; ++group) {
        for (int family = 0; family < catalog::kFamiliesInUse; ++family) {
            const catalog::FirmwareImage& r = state.at(group, family);
            const catalog::ChipFamily* row = catalog::FamilyOfColumn(family);
            if (r.PayloadLength <= 1 || r.Payload == nullptr || row == nullptr) continue;
            const catalog::ImageCodes codes =
                r.PlainFlag != 0
                    ? catalog::ImageCodes{r.PrintCode, r.PreparationCode}
                    : catalog::DescriptorCodes(r.Payload, r.PayloadLength, row->descriptor);
            const std::string family_name = ChipName(row->chip);
            const long bytes = static_cast<long>(r.PayloadLength) + r.EepromCount;
            if (o.json) {
                io.out(JsonText(Json{
                           {"family", family_name},
                           {"group", group},
                           {"print", codes.print},
                           {"print_name", catalog::NameOfPrint(codes.print)},
                           {"preparation", Hex2(codes.preparation)},
                           {"flash_bytes", r.PayloadLength},
                           {"eeprom_bytes", r.EepromCount},
                           {"fix_bytes", r.FixCount},
                           {"image_digest", std::string(catalog::ImageDigest(state, r.Payload))}}) +
                       "\n");
                continue;
            }
            // Print 0 and 255 are images for every print.
            const bool any = codes.print == 0 || codes.print == 255;
            char line[200];
            std::snprintf(line, sizeof line, "%-23s %11d  %3u %-10s  %02x           %ld\n",
                          family_name.c_str(), group, codes.print,
                          any ? "(any)" : catalog::NameOfPrint(codes.print).c_str(),
                          codes.preparation, bytes);
            io.out(line);
        }
    }
    return static_cast<int>(Exit::Success);
}

struct Target {
    PortName name;
    std::string device;
};

// Every port named and free, before any of them is used; the exit code and message of the
// first fault otherwise.
int CheckTargets(std::vector<Target>& targets, const Io& io) {
    std::map<std::string, std::string> seen;  // canonical device -> label
    for (Target& t : targets) {
        if (t.name.number < 0 && !DevicePathsSupported())
            return Fail(io, Exit::BadArguments,
                        "name the port as COM<n> on this system: " + t.name.label);
        t.device = t.name.number >= 0 ? DeviceOfNumber(t.name.number) : t.name.path;
        const PortCheck check = CheckPort(t.device);
        const std::string where =
            t.name.label +
            (t.device.empty() || t.device == t.name.label ? "" : " (" + t.device + ")");
        if (check.state == PortCheck::State::Missing)
            return Fail(io, Exit::InvalidPort, where + ": no such port");
        if (check.state == PortCheck::State::Busy)
            return Fail(io, Exit::AlreadyRunning, where + ": " + check.detail);
        if (check.state == PortCheck::State::Refused)
            return Fail(io, Exit::InvalidPort, where + ": " + check.detail);
        std::error_code ec;
        std::string key = std::filesystem::weakly_canonical(t.device, ec).string();
        if (ec || key.empty()) key = t.device;
        if (auto it = seen.find(key); it != seen.end())
            return Fail(io, Exit::BadArguments,
                        it->second + " and " + t.name.label + " are the same port");
        seen[key] = t.name.label;
    }
    return -1;
}

// Without --port: the edition's remembered port, as its window would load it; when nothing
// is remembered, the only USB adapter, else the default, said either way. A fault's exit
// code, or -1 with the target added.
int AddRememberedPort(editions::Edition edition, const Io& io, std::vector<Target>& targets) {
    serial::PortSelection remembered;
    const std::string stored = settings::LoadSetting(kRememberedPortName, editions::Code(edition));
    ui::ReadRememberedPort(remembered, edition, stored);
    if (stored.empty() || !ui::StoredPortInRange(stored)) {
        std::vector<serial::UsbAdapter> adapters;
        {
            std::lock_guard lock(g_port_names);
            adapters = serial::ListUsbAdapters();
        }
        const DefaultPortChoice choice =
            ChooseUnrememberedPort(EditionName(edition), remembered.selected_port, adapters);
        io.err("quillon-cli: " + choice.message + "\n");
        remembered.selected_port = static_cast<std::int16_t>(choice.port);
    }
    if (remembered.selected_port < 0)
        return Fail(io, Exit::BadArguments,
                    std::string("no --port given and the ") + EditionName(edition) +
                        " edition remembers none");
    targets.push_back(
        {{"COM" + std::to_string(remembered.selected_port + 1), remembered.selected_port, {}}, {}});
    return -1;
}

RunSettings SettingsFor(const Options& o, const BuildStamp& build, editions::Edition edition) {
    RunSettings settings;
    settings.edition = edition;
    settings.repeat = o.repeat;
    settings.release = build.label;
    settings.program = ProgramName();
    // The Loader's family and the Upgrade's sequence mode, as the label sets them for the
    // edition's window.
    settings.engine.identify_byte =
        editions::IdentifyByte(edition, editions::LoaderFamilyFor(build.label));
    settings.engine.sequence_mode =
        editions::Of(edition).has_sequence_mode && editions::SequenceModeFor(build.label) != 0;
    return settings;
}

// A port run's target: a COM number looks its device up again at each board, as the
// device behind a number may change; a device path stays.
PortTarget PortTargetOf(const Target& t) {
    PortTarget pt;
    pt.label = t.name.label;
    if (t.name.number >= 0) {
        pt.number = t.name.number;
        const int number = t.name.number;
        pt.device = [number] { return DeviceOfNumber(number); };
    } else {
        pt.number = 0;
        pt.device = [path = t.device] { return path; };
    }
    return pt;
}

int RunPorts(const Options& o, const BuildStamp& build, const Io& io) {
    const editions::Edition edition = o.edition.value_or(DefaultEdition(build));
    std::vector<Target> targets;
    for (const std::string& text : o.ports) targets.push_back({*ParsePortName(text), {}});
    if (targets.empty())
        if (const int fault = AddRememberedPort(edition, io, targets); fault >= 0) return fault;
    if (const int fault = CheckTargets(targets, io); fault >= 0) return fault;

    std::unique_ptr<BoardLog> log;
    if (!o.log.empty()) {
        std::string error;
        auto file = OpenAppendFile(o.log, error);
        if (!file)
            return Fail(io, Exit::BadArguments, "cannot write the log " + o.log + ": " + error);
        log = std::make_unique<BoardLog>(std::move(file));
    }
    const RunSettings settings = SettingsFor(o, build, edition);

    std::vector<std::string> labels;
    for (const Target& t : targets) labels.push_back(t.name.label);
    const OutputMode mode = o.json        ? OutputMode::Json
                            : io.terminal ? OutputMode::Terminal
                                          : OutputMode::Plain;
    Output output(mode, io.out, labels, io.columns);
    std::atomic<int> no_interrupts{0};
    std::atomic<int>& interrupts = io.interrupts ? *io.interrupts : no_interrupts;

    std::vector<std::unique_ptr<PortRun>> runs;
    for (std::size_t i = 0; i < targets.size(); ++i)
        runs.push_back(std::make_unique<PortRun>(static_cast<int>(i), PortTargetOf(targets[i]),
                                                 settings, output, log.get(), interrupts));
    std::vector<Exit> results(runs.size(), Exit::Success);
    const bool identify = o.command == Command::Identify;
    {
        std::vector<std::jthread> threads;
        for (std::size_t i = 0; i < runs.size(); ++i)
            threads.emplace_back(
                [&, i] { results[i] = identify ? runs[i]->Identify() : runs[i]->Update(); });
    }
    runs.clear();  // every port closed
    output.Finish();
    Exit worst = Exit::Success;
    for (Exit e : results) worst = Worst(worst, e);
    return static_cast<int>(worst);
}

}  // namespace

std::string ProgramName() {
    return std::string("quillon-cli ") + QUILLON_PROGRAM_VERSION;
}

std::string HelpText(const BuildStamp& build) {
    std::string text = "usage: quillon-cli [options] COMMAND\n\nCommands:\n" + CommandsUsage() +
                       "\nOptions:\n" + OptionsUsage(EditionName(DefaultEdition(build))) +
                       "\n"
                       "Exit codes (with several ports the worst one):\n";
    for (int code = 0; code < kExitCount; ++code) {
        char line[160];
        std::snprintf(line, sizeof line, "  %2d  %-24s %s\n", code,
                      std::string(ExitName(static_cast<Exit>(code))).c_str(),
                      std::string(ExitMeaning(static_cast<Exit>(code))).c_str());
        text += line;
    }
    return text;
}

int Main(const std::vector<std::string>& args, const BuildStamp& build, const Io& io) {
    const Parsed parsed = ParseArguments(args);
    if (!parsed.error.empty()) return Fail(io, Exit::BadArguments, parsed.error + " (see --help)");
    const Options& o = parsed.options;
    switch (o.command) {
        case Command::Help:
            io.out(HelpText(build));
            return static_cast<int>(Exit::Success);
        case Command::Version:
            io.out(ProgramName() + " " + build.label + " (built " + build.date + " " + build.time +
                   ")\n");
            return static_cast<int>(Exit::Success);
        case Command::Ports:
            return ListPortsCommand(o, io);
        case Command::Images:
            return ListImagesCommand(o, io);
        case Command::Identify:
        case Command::Update:
            return RunPorts(o, build, io);
    }
    return static_cast<int>(Exit::BadArguments);
}

}  // namespace quillon::cli
