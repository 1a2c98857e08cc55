#include "cli/runner.h"

#include <cstdio>
#include <thread>

#include "catalog/catalog.h"
#include "catalog/families.h"
#include "cli/platform.h"
#include "edition/edition.h"
#include "engine/search.h"
#include "engine/session.h"

namespace quillon::cli {
namespace {

using Clock = std::chrono::steady_clock;

std::string Hex2(unsigned v) {
    char text[8];
    std::snprintf(text, sizeof text, "%02x", v & 0xFFu);
    return text;
}

}  // namespace

std::string ChipName(std::uint8_t chip_code) {
    const catalog::ChipFamily* row = catalog::FamilyOf(chip_code);
    return row != nullptr ? std::string(row->name) : std::string("unknown");
}

PortRun::PortRun(int index, PortTarget target, const RunSettings& settings, Output& output,
                 BoardLog* log, std::atomic<int>& interrupts)
    : index_(index),
      target_(std::move(target)),
      settings_(settings),
      output_(output),
      log_(log),
      interrupts_(interrupts),
      channels_(std::make_shared<serial::CountingBackend>(
          MakePortBackend([this] { return device_now_; }), counters_,
          [this] { device_now_ = target_.device ? target_.device() : std::string(); })),
      pump_([this] { return channels_.PollHandle(target_.number); }),
      events_(*this, settings.edition, [this] { return TakeStop(); }),
      engine_(events_, channels_, ports_, pump_) {
    engine_.options = settings_.engine;
    ports_.selected_port = static_cast<std::int16_t>(target_.number);
    ports_.opened_port = -1;
    catalog::InitCatalog(*catalog_);
}

PortRun::~PortRun() {
    channels_.CloseChannel(target_.number);
}

bool PortRun::TakeStop() {
    if (stop_taken_ || !Stopped()) return false;
    stop_taken_ = true;
    return true;
}

void PortRun::SleepUnlessStopped(std::chrono::milliseconds total) {
    const auto end = Clock::now() + total;
    while (!Stopped() && Clock::now() < end) std::this_thread::sleep_for(kStopCheckSlice);
}

bool PortRun::ReopenPort() {
    ports_.opened_port = -1;
    return serial::ApplySelectedPort(ports_, channels_);
}

void PortRun::OnEvent(const Event& event) {
    switch (event.kind) {
        case EventKind::PortUnusable: {
            // Busy or not, named with what stood in the way: the open's own reason, else
            // what a fresh look at the device finds.
            const PortCheck check = CheckPort(device_now_);
            open_failure_ =
                check.state == PortCheck::State::Busy ? Exit::AlreadyRunning : Exit::InvalidPort;
            std::string why = device_now_.empty() ? "no device" : device_now_;
            const std::string& detail = event.text.empty() ? check.detail : event.text;
            if (!detail.empty()) why += ": " + detail;
            Event refined = event;
            refined.text = "cannot open the port (" + why + ")";
            refined.exit = open_failure_;
            if (!quiet_) output_.PortEvent(index_, refined);
            return;
        }
        case EventKind::Resend:
            ++resends_;
            break;
        default:
            if (IsFinal(event.kind)) {
                final_ = event;
                final_seen_ = true;
            }
            break;
    }
    // While waiting for a board the hundred tries and their "Device not Found" say nothing.
    if (quiet_ && (event.kind == EventKind::Searching || event.kind == EventKind::PortUnusable ||
                   IsFinal(event.kind)))
        return;
    output_.PortEvent(index_, event);
}

BoardRecord PortRun::DeviceRecord() const {
    BoardRecord r;
    r.time = board_time_;
    r.port = target_.label;
    r.adapter = serial::IdentifyAdapter(device_now_, serial::PortPlaces::Default());
    r.release = settings_.release;
    r.program = settings_.program;
    r.edition = std::string(editions::Of(settings_.edition).name);
    const engine::DeviceIdentity& id = engine_.identity();
    r.chip = id.ChipCode;
    r.bios = id.BiosVersion;
    r.print = id.PrintCode;
    r.preparation = id.PreparationCode;
    r.version_reported = id.VersionReported != 0;
    // Only what a complete extended block said; an erased text (0xFF first) is no text.
    const engine::ReplyParser& p = engine_.parser;
    if (p.ExtComplete != 0) {
        const std::string_view text = p.device_text();
        if (!text.empty() && static_cast<unsigned char>(text[0]) != 0xFF)
            r.board_text = std::string(text);
        if (p.WindowExtent != 0)
            r.protected_window = ProtectedWindow{p.WindowStart, p.WindowExtent};
    }
    return r;
}

void PortRun::Record(Exit exit, std::string result, Clock::time_point start,
                     std::uint64_t packets_before) {
    BoardRecord r = DeviceRecord();
    const engine::DeviceIdentity& id = engine_.identity();
    const catalog::PreparedImage& image = catalog_->prepared;
    const bool image_chosen = exit == Exit::Success || exit == Exit::UserAbort ||
                              exit == Exit::ChecksumError || exit == Exit::NoResponse ||
                              exit == Exit::NotSuitable || exit == Exit::ImageTooBig;
    if (image_chosen && image.Payload != nullptr && id.ChipCode != 0) {
        r.image = ChipName(id.ChipCode) + " print " + std::to_string(image.PrintCode) +
                  (image.PrintCode == 0 || image.PrintCode == 255
                       ? std::string(" (any)")
                       : " (" + catalog::NameOfPrint(image.PrintCode) + ")");
        r.image_digest = std::string(catalog::ImageDigest(*catalog_, image.Payload));
    }
    r.result = std::move(result);
    r.exit = exit;
    const long sent = static_cast<long>(counters_->packets.load() - packets_before);
    r.resends = resends_;
    r.packets = sent > resends_ ? sent - resends_ : 0;
    r.duration_s = std::chrono::duration<double>(Clock::now() - start).count();
    std::string error;
    if (log_ != nullptr && !log_->Write(r, error)) {
        log_failed_ = true;
        output_.PortLine(index_, "could not write the log line: " + error);
    }
    output_.Board(r);
}

std::optional<Exit> PortRun::SearchAndProgram(bool waiting) {
    final_ = {};
    final_seen_ = false;
    resends_ = 0;
    chain_goes_on_ = false;
    board_time_ = UtcNow();
    const auto start = Clock::now();
    const std::uint64_t packets_before = counters_->packets.load();
    quiet_ = waiting;
    const engine::SearchResult found = engine::SearchDevice(engine_);
    quiet_ = false;
    switch (found) {
        case engine::SearchResult::Found:
            break;
        case engine::SearchResult::PortUnusable:
            if (waiting) return std::nullopt;
            Record(open_failure_, "cannot open the port", start, packets_before);
            return open_failure_;
        case engine::SearchResult::NotFound:
            if (waiting) return std::nullopt;
            Record(Exit::NoDevice, final_.text, start, packets_before);
            return Exit::NoDevice;
        case engine::SearchResult::Stopped:
            if (waiting) return std::nullopt;
            Record(Exit::UserAbort, final_.text, start, packets_before);
            return Exit::UserAbort;
    }
    const engine::SessionResult session = engine::PrgMode(engine_, *catalog_);
    chain_goes_on_ = session.end == engine::SessionEnd::PassedOn ||
                     (session.end == engine::SessionEnd::Programmed && session.remaining > 0);
    if (!final_seen_) {
        // Every session ends with one word from the engine; without it nothing is claimed.
        final_ = {EventKind::Failed, "the session ended without a result", 0, 0, Exit::NoResponse};
        output_.PortEvent(index_, final_);
    }
    std::string result = final_.text;
    // A board unplugged in the middle: its line says so.
    if (channels_.LineGone(target_.number)) result += " (the line hung up)";
    Record(final_.exit, result, start, packets_before);
    return final_.exit;
}

Exit PortRun::Update() {
    if (settings_.repeat) return Repeat();
    if (settings_.engine.sequence_mode) catalog::ResetPending(*catalog_);
    Exit worst = Exit::Success;
    do {
        worst = Worst(worst, *SearchAndProgram(false));
    } while (settings_.engine.sequence_mode && chain_goes_on_ && !Stopped());
    channels_.CloseChannel(target_.number);
    return WithLogOutcome(worst);
}

Exit PortRun::Repeat() {
    Exit worst = Exit::Success;
    bool announced = false;
    bool chain = false;  // sequence mode: the next device of a chain follows at once
    while (!Stopped()) {
        if (!announced) output_.PortLine(index_, "waiting for a board");
        announced = true;
        if (settings_.engine.sequence_mode && !chain) catalog::ResetPending(*catalog_);
        const std::optional<Exit> board = SearchAndProgram(!chain);
        if (!board) {
            chain = false;
            if (!channels_.IsOpen(target_.number)) SleepUnlessStopped(kReopenInterval);
            continue;
        }
        worst = Worst(worst, *board);
        chain = settings_.engine.sequence_mode && chain_goes_on_;
        if (chain || Stopped()) continue;
        WaitForRemoval();
        announced = false;
    }
    channels_.CloseChannel(target_.number);
    return WithLogOutcome(worst);
}

// A finished board stays on the fixture until it is taken off: it is asked with the
// identify byte until it stops answering, its port goes away, or the port's name points
// at another device, so that one board is never programmed twice.
void PortRun::WaitForRemoval() {
    const std::string board_device = device_now_;
    const std::uint8_t identify[1] = {settings_.engine.identify_byte};
    while (!Stopped()) {
        if ((target_.device ? target_.device() : std::string()) != board_device) return;
        if (!ReopenPort()) return;
        engine::DrainInput(engine_);
        engine_.parser.ExpectReply();
        engine::WriteBytes(engine_, identify);
        const engine::Reply r = engine::WaitReply(engine_, engine::kSearchWaitMs);
        if (r != engine::Reply::Ack && r != engine::Reply::Nak) return;
        SleepUnlessStopped(kPresenceInterval);
    }
}

Exit PortRun::Identify() {
    final_ = {};
    board_time_ = UtcNow();
    // identify --json says everything in one object at the end.
    quiet_ = output_.json();
    const engine::SearchResult found = engine::SearchDevice(engine_);
    Exit exit = Exit::Success;
    if (found == engine::SearchResult::PortUnusable)
        exit = open_failure_;
    else if (found == engine::SearchResult::NotFound)
        exit = Exit::NoDevice;
    else if (found != engine::SearchResult::Found)
        exit = Exit::UserAbort;
    quiet_ = false;
    if (exit == Exit::Success) engine::AwaitExtendedInfo(engine_);
    BoardRecord r = DeviceRecord();
    channels_.CloseChannel(target_.number);
    r.exit = exit;
    if (output_.json()) {
        r.result = exit == Exit::Success ? std::string("found")
                   : found == engine::SearchResult::PortUnusable
                       ? std::string("cannot open the port")
                       : final_.text;
        output_.Object(DeviceReportValue(r));
        return exit;
    }
    if (exit != Exit::Success) return exit;
    const engine::DeviceIdentity& id = engine_.identity();
    auto line = [this](const std::string& text) { output_.PortLine(index_, text); };
    line("chip: " + Hex2(id.ChipCode) + " (" + ChipName(id.ChipCode) + ")");
    line("BIOS: " + Hex2(id.BiosVersion) + (id.VersionReported ? "" : " (no version reported)"));
    if (id.VersionReported != 0) {
        line("print: " + std::to_string(id.PrintCode) + " (" + catalog::NameOfPrint(id.PrintCode) +
             ")");
        const int kind = id.PreparationCode & 0x6F;
        std::string name = kind > 0 && kind < catalog::kPreparationNameCount
                               ? catalog::PreparationNames[static_cast<std::size_t>(kind)]
                               : "UNK";
        if (id.PreparationCode & 0x80) name += " RES";
        line("preparation: " + Hex2(id.PreparationCode) + " (" + name + ")");
    }
    if (engine::HasExtendedBlock(id.BiosVersion)) {
        line("device text: " + (r.board_text ? EscapedBoardText(*r.board_text) : std::string()) +
             (engine_.parser.ExtComplete ? "" : " (no extended block received)"));
        char window[64];
        std::snprintf(window, sizeof window, "protected window: start 0x%04x, extent 0x%04x",
                      static_cast<unsigned>(engine_.parser.WindowStart),
                      static_cast<unsigned>(engine_.parser.WindowExtent));
        line(window);
    }
    std::string adapter = r.adapter.device;
    if (!r.adapter.usb.empty()) adapter += " (USB " + r.adapter.usb + ")";
    if (!r.adapter.serial_number.empty()) adapter += ", S/N " + r.adapter.serial_number;
    line("adapter: " + adapter);
    return Exit::Success;
}

}  // namespace quillon::cli
