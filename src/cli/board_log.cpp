#include "cli/board_log.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>

#include "cli/platform.h"

namespace quillon::cli {
namespace {

constexpr double kMillisecondsPerSecond = 1000.0;

std::string Hex2(unsigned v) {
    char text[8];
    std::snprintf(text, sizeof text, "%02x", v & 0xFFu);
    return text;
}

Json AdapterValue(const serial::AdapterIdentity& a) {
    Json j = Json::object();
    j["device"] = a.device;
    if (!a.usb.empty()) j["usb"] = a.usb;
    if (!a.serial_number.empty()) j["serial"] = a.serial_number;
    return j;
}

// The keys the log line and the device report share, up to the device's own report.
Json Head(const BoardRecord& r) {
    Json j = Json::object();
    j["time"] = r.time;
    j["port"] = r.port;
    j["adapter"] = AdapterValue(r.adapter);
    j["release"] = r.release;
    j["program"] = r.program;
    j["edition"] = r.edition;
    j["chip"] = Hex2(r.chip);
    j["bios"] = r.bios;
    j["print"] = r.print;
    j["preparation"] = Hex2(r.preparation);
    j["version_reported"] = r.version_reported;
    if (r.board_text) j["board_text"] = EscapedBoardText(*r.board_text);
    if (r.protected_window)
        j["protected_window"] = {{"start", r.protected_window->start},
                                 {"extent", r.protected_window->extent}};
    return j;
}

void Outcome(Json& j, const BoardRecord& r) {
    j["result"] = r.result;
    j["outcome"] = std::string(ExitName(r.exit));
    j["exit"] = static_cast<int>(r.exit);
}

}  // namespace

std::string JsonText(const Json& value) {
    return value.dump(-1, ' ', true, Json::error_handler_t::replace);
}

std::string EscapedBoardText(std::string_view raw) {
    std::string out;
    for (const char ch : raw) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == '\\') {
            out += "\\\\";
        } else if (c >= 0x20 && c <= 0x7E) {
            out += ch;
        } else {
            out += "\\x" + Hex2(c);
        }
    }
    return out;
}

Json RecordValue(const BoardRecord& r) {
    Json j = Head(r);
    j["image"] = r.image;
    if (!r.image_digest.empty()) j["image_digest"] = r.image_digest;
    Outcome(j, r);
    j["packets"] = r.packets;
    j["resends"] = r.resends;
    // Milliseconds are all a board's time needs; more digits would only be noise.
    j["duration_s"] = std::round(r.duration_s * kMillisecondsPerSecond) / kMillisecondsPerSecond;
    return j;
}

Json DeviceReportValue(const BoardRecord& r) {
    Json j = Head(r);
    Outcome(j, r);
    return j;
}

std::string RecordJson(const BoardRecord& record) {
    return JsonText(RecordValue(record));
}

std::string UtcNow() {
    const std::time_t t = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
    const std::tm tm = UtcTime(t);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &tm);
    return text;
}

bool BoardLog::Write(const BoardRecord& record, std::string& error) {
    const std::string line = RecordJson(record) + "\n";
    std::lock_guard lock(mutex_);
    if (!file_) {
        error = "the log is not open";
        return false;
    }
    return file_->Append(line, error);
}

}  // namespace quillon::cli
