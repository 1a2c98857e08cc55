#include "cli/board_log.h"

#include <chrono>
#include <cstdio>
#include <ctime>

#include "cli/platform.h"

namespace quillon::cli {

std::string JsonString(std::string_view text) {
    std::string out = "\"";
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += ch;
        } else if (c < 0x20 || c > 0x7E) {
            char esc[8];
            std::snprintf(esc, sizeof esc, "\\u%04x", c);
            out += esc;
        } else {
            out += ch;
        }
    }
    return out + "\"";
}

std::string RecordJson(const BoardRecord& r) {
    char numbers[256];
    std::snprintf(numbers, sizeof numbers,
                  "\"chip\":\"%02x\",\"bios\":%u,\"print\":%u,\"preparation\":\"%02x\","
                  "\"version_reported\":%s",
                  r.chip, r.bios, r.print, r.preparation, r.version_reported ? "true" : "false");
    char tail[160];
    std::snprintf(tail, sizeof tail,
                  "\"exit\":%d,\"packets\":%ld,\"resends\":%ld,\"duration_s\":%.3f",
                  static_cast<int>(r.exit), r.packets, r.resends, r.duration_s);
    return "{\"time\":" + JsonString(r.time) + ",\"port\":" + JsonString(r.port) + "," + numbers +
           ",\"image\":" + JsonString(r.image) + ",\"result\":" + JsonString(r.result) +
           ",\"outcome\":" + JsonString(ExitName(r.exit)) + "," + tail + "}";
}

std::string UtcNow() {
    const std::time_t t = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
    const std::tm tm = UtcTime(t);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &tm);
    return text;
}

bool BoardLog::Write(const BoardRecord& record) {
    const std::string line = RecordJson(record) + "\n";
    std::lock_guard lock(mutex_);
    return file_ && file_->Append(line);
}

}  // namespace quillon::cli
