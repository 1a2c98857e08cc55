#include "cli/runner.h"

#include <cstdio>
#include <thread>

#include "catalog/catalog.h"
#include "cli/platform.h"
#include "engine/search.h"
#include "engine/session.h"

namespace quillon::cli {
namespace {

using Clock = std::chrono::steady_clock;

constexpr std::uint32_t kBaud = 115200;
constexpr std::uint8_t kParityNone = 0;
constexpr std::uint8_t kTwoStopBits = 2;
constexpr std::uint8_t kDataBits = 8;
// The shortest checksummed packet (an EEPROM byte and its checksum): shorter writes are
// the identify byte, the entry command and the short pass-on frame.
constexpr std::size_t kShortestPacket = 6;

// Counts what crosses the line, around the real device.
class CountingDevice : public serial::Device {
public:
    CountingDevice(std::unique_ptr<serial::Device> inner, std::shared_ptr<LineCounters> counters)
        : inner_(std::move(inner)), counters_(std::move(counters)) {}
    bool drain() override { return inner_->drain(); }
    serial::LineResult set_line(const serial::LineSettings& line) override {
        return inner_->set_line(line);
    }
    bool set_queues(std::uint32_t r, std::uint32_t t) override { return inner_->set_queues(r, t); }
    bool set_timeouts(const serial::Timeouts& t) override { return inner_->set_timeouts(t); }
    bool write(std::span<const std::uint8_t> bytes) override {
        const bool ok = inner_->write(bytes);
        counters_->written += bytes.size();
        if (bytes.size() >= kShortestPacket) ++counters_->packets;
        return ok;
    }
    std::size_t read(std::span<std::uint8_t> buffer) override {
        const std::size_t n = inner_->read(buffer);
        counters_->read += n;
        return n;
    }
    bool escape(serial::Escape e) override { return inner_->escape(e); }
    int poll_handle() const override { return inner_->poll_handle(); }

private:
    std::unique_ptr<serial::Device> inner_;
    std::shared_ptr<LineCounters> counters_;
};

class CountingBackend : public serial::Backend {
public:
    CountingBackend(std::shared_ptr<serial::Backend> inner, std::shared_ptr<LineCounters> counters)
        : inner_(std::move(inner)), counters_(std::move(counters)) {}
    std::string device_name(int port) override { return inner_->device_name(port); }
    std::unique_ptr<serial::Device> open(const std::string& name) override {
        auto device = inner_->open(name);
        if (!device) return nullptr;
        return std::make_unique<CountingDevice>(std::move(device), counters_);
    }

private:
    std::shared_ptr<serial::Backend> inner_;
    std::shared_ptr<LineCounters> counters_;
};

std::string Hex2(unsigned v) {
    char text[8];
    std::snprintf(text, sizeof text, "%02x", v & 0xFFu);
    return text;
}

}  // namespace

std::string ChipName(std::uint8_t chip_code) {
    switch (chip_code) {
        case catalog::kChip18F258:
            return "PIC18F258";
        case catalog::kChip18F2580:
            return "PIC18F2580";
        case catalog::kChip18F2480:
            return "PIC18F2480";
        case catalog::kChip18F248:
            return "PIC18F248";
        case catalog::kChip18F2320:
            return "PIC18F2320";
        case catalog::kChip18F25K80:
            return "PIC18F25K80";
        case catalog::kChip18F26K80:
            return "PIC18F26K80";
        case catalog::kChip18F24J10:
            return "PIC18F24J10";
        case catalog::kChip33FJ64:
            return "dsPIC33FJ64";
        case catalog::kChip24HJ64:
            return "PIC24HJ64";
        case catalog::kChip33FJ128:
            return "dsPIC33FJ128/PIC24HJ128";
        default:
            return "unknown";
    }
}

PortRun::PortRun(int index, PortTarget target, const RunSettings& settings, Output& output,
                 BoardLog* log, std::atomic<int>& interrupts)
    : index_(index),
      target_(std::move(target)),
      settings_(settings),
      output_(output),
      log_(log),
      interrupts_(interrupts),
      channels_(std::make_shared<CountingBackend>(MakePortBackend([this] { return device_now_; }),
                                                  counters_)),
      pump_([this] { return channels_.PollHandle(target_.number); }),
      ui_(*this, AdapterSetup{settings.edition, settings.loader_family, settings.sequence_mode,
                              [this] { return TakeStop(); }, [this] { OpenPort(); }}),
      engine_(ui_, channels_, ports_, pump_) {
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

void PortRun::OpenPort() {
    if (ports_.selected_port == ports_.opened_port) return;
    ports_.opened_port = ports_.selected_port;
    channels_.CloseChannel(target_.number);
    device_now_ = target_.device ? target_.device() : std::string();
    if (channels_.OpenChannel(target_.number, kBaud, kParityNone, kTwoStopBits, kDataBits, 0) ==
        nullptr) {
        const PortCheck check = CheckPort(device_now_);
        open_failure_ =
            check.state == PortCheck::State::Busy ? Exit::AlreadyRunning : Exit::InvalidPort;
        std::string why = device_now_.empty() ? "no device" : device_now_;
        if (!check.detail.empty()) why += ": " + check.detail;
        OnEvent(
            {EventKind::PortUnusable, "cannot open the port (" + why + ")", 0, 0, open_failure_});
        return;
    }
    channels_.SetControlLines(target_.number, true);
}

void PortRun::OnEvent(const Event& event) {
    switch (event.kind) {
        case EventKind::Found:
            found_text_ = event.text;
            break;
        case EventKind::Resend:
            ++resends_;
            break;
        default:
            if (IsFinal(event.kind)) final_ = event;
            break;
    }
    // While waiting for a board the hundred tries and their "Device not Found" say nothing.
    if (quiet_ && (event.kind == EventKind::Searching || event.kind == EventKind::PortUnusable ||
                   IsFinal(event.kind)))
        return;
    output_.PortEvent(index_, event);
}

void PortRun::Record(Exit exit, std::string result, Clock::time_point start,
                     std::uint64_t packets_before) {
    BoardRecord r;
    r.time = board_time_;
    r.port = target_.label;
    const engine::DeviceIdentity& id = engine_.identity();
    r.chip = id.ChipCode;
    r.bios = id.BiosVersion;
    r.print = id.PrintCode;
    r.preparation = id.PreparationCode;
    r.version_reported = id.VersionReported != 0;
    const catalog::PreparedImage& image = catalog_->prepared;
    const bool image_chosen = exit == Exit::Success || exit == Exit::UserAbort ||
                              exit == Exit::ChecksumError || exit == Exit::NoResponse ||
                              exit == Exit::NotSuitable || exit == Exit::ImageTooBig;
    if (image_chosen && image.Payload != nullptr && id.ChipCode != 0)
        r.image = ChipName(id.ChipCode) + " print " + std::to_string(image.PrintCode) +
                  (image.PrintCode == 0 || image.PrintCode == 255
                       ? std::string(" (any)")
                       : " (" + catalog::NameOfPrint(image.PrintCode) + ")");
    r.result = std::move(result);
    r.exit = exit;
    const long sent = static_cast<long>(counters_->packets.load() - packets_before);
    r.resends = resends_;
    r.packets = sent > resends_ ? sent - resends_ : 0;
    r.duration_s = std::chrono::duration<double>(Clock::now() - start).count();
    if (log_ != nullptr && !log_->Write(r))
        output_.PortLine(index_, "could not write the log line");
    output_.Board(r);
}

std::optional<Exit> PortRun::SearchAndProgram(bool waiting) {
    ui_.BeginSearch();
    final_ = {};
    found_text_.clear();
    resends_ = 0;
    last_result_ = 0;
    board_time_ = UtcNow();
    const auto start = Clock::now();
    const std::uint64_t packets_before = counters_->packets.load();
    quiet_ = waiting;
    const std::int16_t found = engine::SearchDevice(engine_, {&bar_}, {&bar_});
    quiet_ = false;
    switch (found) {
        case engine::kSearchFound:
            break;
        case engine::kSearchPortUnusable:
            if (waiting) return std::nullopt;
            Record(open_failure_, "cannot open the port", start, packets_before);
            return open_failure_;
        case engine::kSearchNotFound:
            if (waiting) return std::nullopt;
            Record(Exit::NoDevice, final_.text, start, packets_before);
            return Exit::NoDevice;
        default:  // stopped while searching
            if (waiting) return std::nullopt;
            Record(Exit::UserAbort, final_.text, start, packets_before);
            return Exit::UserAbort;
    }
    last_result_ = engine::PrgMode(engine_, *catalog_, {&bar_}, {&bar_});
    ui_.EndSession(last_result_, catalog_->prepared);
    std::string result = final_.text;
    // A board unplugged in the middle: its line says so.
    if (channels_.IsOpen(target_.number) && channels_.PollHandle(target_.number) < 0 &&
        DevicePathsSupported())
        result += " (the line hung up)";
    Record(final_.exit, result, start, packets_before);
    return final_.exit;
}

Exit PortRun::Update() {
    if (settings_.repeat) return Repeat();
    if (settings_.sequence_mode != 0) catalog::ResetPending(*catalog_);
    Exit worst = Exit::Success;
    do {
        worst = Worst(worst, *SearchAndProgram(false));
    } while (settings_.sequence_mode != 0 && last_result_ != 0 && !Stopped());
    channels_.CloseChannel(target_.number);
    return worst;
}

Exit PortRun::Repeat() {
    Exit worst = Exit::Success;
    bool announced = false;
    bool chain = false;  // sequence mode: the next device of a chain follows at once
    while (!Stopped()) {
        if (!announced) output_.PortLine(index_, "waiting for a board");
        announced = true;
        if (settings_.sequence_mode != 0 && !chain) catalog::ResetPending(*catalog_);
        const std::optional<Exit> board = SearchAndProgram(!chain);
        if (!board) {
            chain = false;
            if (!channels_.IsOpen(target_.number)) SleepUnlessStopped(kReopenInterval);
            continue;
        }
        worst = Worst(worst, *board);
        chain = settings_.sequence_mode != 0 && last_result_ != 0;
        if (chain || Stopped()) continue;
        WaitForRemoval();
        announced = false;
    }
    channels_.CloseChannel(target_.number);
    return worst;
}

// A finished board stays on the fixture until it is taken off: it is asked with the
// identify byte until it stops answering, its port goes away, or the port's name points
// at another device, so that one board is never programmed twice.
void PortRun::WaitForRemoval() {
    const std::string board_device = device_now_;
    const std::uint8_t identify[1] = {
        engine::SearchByte(settings_.edition, settings_.loader_family)};
    while (!Stopped()) {
        if ((target_.device ? target_.device() : std::string()) != board_device) return;
        quiet_ = true;
        ports_.opened_port = -1;
        OpenPort();
        quiet_ = false;
        if (!channels_.IsOpen(target_.number)) return;
        engine::DrainInput(engine_);
        engine_.parser.AckSeen = 0;
        engine_.parser.NakSeen = 0;
        engine::WriteBytes(engine_, identify);
        const int r = engine::WaitReply(engine_, engine::kSearchWaitMs);
        if (r == engine::kReplyTimeout || r == engine::kReplyStop) return;
        SleepUnlessStopped(kPresenceInterval);
    }
}

Exit PortRun::Identify() {
    ui_.BeginSearch();
    final_ = {};
    const std::int16_t found = engine::SearchDevice(engine_, {&bar_}, {&bar_});
    if (found == engine::kSearchPortUnusable) return open_failure_;
    if (found == engine::kSearchNotFound) return Exit::NoDevice;
    if (found != engine::kSearchFound) return Exit::UserAbort;
    engine::AwaitExtendedInfo(engine_);
    const engine::DeviceIdentity& id = engine_.identity();
    const engine::ReplyParser& p = engine_.parser;
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
        const std::string text(p.DeviceText.data());
        const bool is_text = !text.empty() && static_cast<unsigned char>(text[0]) != 0xFF;
        line("device text: " + (is_text ? text : std::string()) +
             (p.ExtComplete ? "" : " (no extended block received)"));
        char window[64];
        std::snprintf(window, sizeof window, "protected window: start 0x%04x, extent 0x%04x",
                      static_cast<unsigned>(p.WindowStart), static_cast<unsigned>(p.WindowExtent));
        line(window);
    }
    channels_.CloseChannel(target_.number);
    return Exit::Success;
}

}  // namespace quillon::cli
