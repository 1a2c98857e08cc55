#include "cli/output.h"

#include <algorithm>
#include <cstdio>

namespace quillon::cli {
namespace {

using Clock = std::chrono::steady_clock;

constexpr std::string_view kClearLine = "\x1b[2K";
constexpr std::string_view kClearBelow = "\x1b[J";

std::string CursorUp(int lines) {
    return "\x1b[" + std::to_string(lines) + "A\r";
}

std::string FormatTime(double seconds) {
    const long s = static_cast<long>(seconds + 0.5);
    char text[32];
    std::snprintf(text, sizeof text, "%ld:%02ld", s / 60, s % 60);
    return text;
}

}  // namespace

std::string Printable(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7F || u >= 0x80) c = '?';
    }
    return out;
}

const char* KindName(EventKind k) {
    switch (k) {
        case EventKind::Searching:
            return "searching";
        case EventKind::PortUnusable:
            return "port-unusable";
        case EventKind::Found:
            return "found";
        case EventKind::Report:
            return "report";
        case EventKind::Activity:
            return "activity";
        case EventKind::Detail:
            return "detail";
        case EventKind::Progress:
            return "progress";
        case EventKind::Resend:
            return "resend";
        case EventKind::Refused:
            return "refused";
        case EventKind::Failed:
            return "failed";
        case EventKind::Succeeded:
            return "succeeded";
        case EventKind::PassedOn:
            return "passed-on";
    }
    return "event";
}

std::string Trimmed(std::string_view text) {
    const auto first = text.find_first_not_of(' ');
    if (first == std::string_view::npos) return {};
    const auto last = text.find_last_not_of(' ');
    return std::string(text.substr(first, last - first + 1));
}

Output::Output(OutputMode mode, Writer write, std::vector<std::string> ports, int columns)
    : mode_(mode),
      write_(std::move(write)),
      ports_(std::move(ports)),
      bars_(ports_.size()),
      plain_phase_(ports_.size()),
      columns_(std::max(columns, 40)) {}

void Output::PortEvent(int port, const Event& event) {
    if (port < 0 || port >= static_cast<int>(ports_.size())) return;
    std::lock_guard lock(mutex_);
    switch (mode_) {
        case OutputMode::Plain:
            PlainEvent(port, event);
            break;
        case OutputMode::Terminal:
            BarEvent(port, event);
            break;
        case OutputMode::Json:
            JsonEvent(port, event);
            break;
    }
}

void Output::PortLine(int port, std::string_view text) {
    if (port < 0 || port >= static_cast<int>(ports_.size())) return;
    std::lock_guard lock(mutex_);
    const std::string line = ports_[static_cast<std::size_t>(port)] + ": " + Printable(text);
    switch (mode_) {
        case OutputMode::Plain:
            write_(line + "\n");
            break;
        case OutputMode::Terminal:
            Above(line);
            break;
        case OutputMode::Json:
            write_(JsonText(Json{{"port", ports_[static_cast<std::size_t>(port)]},
                                 {"event", "message"},
                                 {"text", std::string(text)}}) +
                   "\n");
            break;
    }
}

void Output::Board(const BoardRecord& record) {
    if (mode_ != OutputMode::Json) return;
    Json line = {{"event", "board"}};
    const Json fields = RecordValue(record);  // kept: items() refers to it
    for (const auto& [key, value] : fields.items()) line[key] = value;
    std::lock_guard lock(mutex_);
    write_(JsonText(line) + "\n");
}

void Output::Object(const Json& value) {
    std::lock_guard lock(mutex_);
    write_(JsonText(value) + "\n");
}

void Output::Finish() {
    std::lock_guard lock(mutex_);
    if (mode_ == OutputMode::Terminal) DrawBars(true);
}

void Output::PlainEvent(int port, const Event& e) {
    const std::string& name = ports_[static_cast<std::size_t>(port)];
    std::string& phase = plain_phase_[static_cast<std::size_t>(port)];
    std::string text;
    switch (e.kind) {
        case EventKind::Searching:
            if (phase == "search") return;  // one line for the hundred tries
            phase = "search";
            text = "searching";
            break;
        case EventKind::Progress:
            if (phase == e.text) return;  // one line when the phase starts
            phase = e.text;
            text = "writing " + e.text + " (" + std::to_string(e.max) + ")";
            break;
        case EventKind::Resend:
            text = "Resend " + std::to_string(e.value);
            break;
        case EventKind::Refused:
        case EventKind::Failed:
            phase.clear();
            text = e.text + " [" + std::string(ExitName(e.exit)) + "]";
            break;
        default:
            if (IsFinal(e.kind)) phase.clear();
            text = e.text;
            break;
    }
    write_(name + ": " + Printable(text) + "\n");
}

void Output::JsonEvent(int port, const Event& e) {
    Json line = {{"port", ports_[static_cast<std::size_t>(port)]}, {"event", KindName(e.kind)}};
    if (!e.text.empty()) line["text"] = e.text;
    if (e.kind == EventKind::Searching || e.kind == EventKind::Resend ||
        e.kind == EventKind::Progress)
        line["value"] = e.value;
    if (e.kind == EventKind::Progress) line["max"] = e.max;
    if (e.kind == EventKind::Refused || e.kind == EventKind::Failed || IsFinal(e.kind)) {
        line["exit"] = static_cast<int>(e.exit);
        line["outcome"] = std::string(ExitName(e.exit));
    }
    write_(JsonText(line) + "\n");
}

void Output::BarEvent(int port, const Event& e) {
    Bar& bar = bars_[static_cast<std::size_t>(port)];
    const std::string& name = ports_[static_cast<std::size_t>(port)];
    bool force = false;
    switch (e.kind) {
        case EventKind::Progress:
            if (bar.phase != e.text) {
                bar.phase = e.text;
                bar.phase_start = Clock::now();
                force = true;
            }
            bar.value = e.value;
            bar.max = e.max;
            break;
        case EventKind::Searching:
            if (bar.status == "searching") return;
            bar.status = "searching";
            bar.phase.clear();
            force = true;
            break;
        case EventKind::Resend:
            Above(name + ": Resend " + std::to_string(e.value));
            return;
        default: {
            std::string text = e.text;
            if (e.kind == EventKind::Refused || e.kind == EventKind::Failed)
                text += " [" + std::string(ExitName(e.exit)) + "]";
            if (IsFinal(e.kind)) {
                bar.phase.clear();
                bar.status = Printable(text);
                Above(name + ": " + Printable(text));
                return;
            }
            bar.status = Printable(text);
            force = true;
            break;
        }
    }
    DrawBars(force);
}

std::string Output::BarLine(const Bar& bar, const std::string& port) const {
    std::string line = port + "  ";
    if (bar.phase.empty() || bar.max <= 0) {
        line += bar.status;
    } else {
        const double fraction = std::clamp(double(bar.value) / bar.max, 0.0, 1.0);
        const int filled = static_cast<int>(fraction * kBarCells + 0.5);
        line += '[';
        line.append(static_cast<std::size_t>(filled), '#');
        line.append(static_cast<std::size_t>(kBarCells - filled), '-');
        line += "] ";
        char text[96];
        const double elapsed =
            std::chrono::duration<double>(Clock::now() - bar.phase_start).count();
        if (elapsed < kRateWindow.count()) {
            std::snprintf(text, sizeof text, "%3d%% %s %d/%d", static_cast<int>(fraction * 100),
                          bar.phase.c_str(), bar.value, bar.max);
        } else {
            const double rate = bar.value / elapsed;
            const double left = rate > 0 ? (bar.max - bar.value) / rate : 0;
            std::snprintf(text, sizeof text, "%3d%% %s %d/%d  %.0f/s  %s left",
                          static_cast<int>(fraction * 100), bar.phase.c_str(), bar.value, bar.max,
                          rate, FormatTime(left).c_str());
        }
        line += text;
    }
    if (static_cast<int>(line.size()) >= columns_)
        line.resize(static_cast<std::size_t>(columns_ - 1));
    return line;
}

void Output::Above(std::string_view line) {
    std::string out;
    if (drawn_ > 0) out += CursorUp(drawn_);
    out += kClearBelow;
    out += line;
    out += "\n";
    write_(out);
    drawn_ = 0;
    DrawBars(true);
}

void Output::DrawBars(bool force) {
    const auto now = Clock::now();
    if (!force && drawn_ > 0 && now - last_draw_ < kBarRedrawInterval) return;
    last_draw_ = now;
    std::string out;
    if (drawn_ > 0) out += CursorUp(drawn_);
    for (std::size_t i = 0; i < bars_.size(); ++i) {
        out += kClearLine;
        out += BarLine(bars_[i], ports_[i]);
        out += "\n";
    }
    drawn_ = static_cast<int>(bars_.size());
    write_(out);
}

}  // namespace quillon::cli
