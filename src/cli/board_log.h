// The board log: one JSON line per board, appended and forced to the disk before the next
// board starts, so a crash or a power cut loses at most the board in progress. Also the
// JSON helpers of the --json output.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "cli/exit_codes.h"

namespace quillon::cli {

// What the log says about one board (one session).
struct BoardRecord {
    std::string time;  // UTC, ISO 8601, when the board was found
    std::string port;
    std::uint8_t chip = 0, bios = 0, print = 0, preparation = 0;
    bool version_reported = false;
    std::string image;   // family and print of the image written ("" when none was chosen)
    std::string result;  // the engine's text, without padding blanks
    Exit exit = Exit::Success;
    long packets = 0;  // checksummed packets sent, resends not counted
    long resends = 0;
    double duration_s = 0;
};

// `text` as a JSON string literal. Control characters and bytes above 0x7E (a device text
// may hold anything) are written as \u00XX, so the line is always valid ASCII JSON.
std::string JsonString(std::string_view text);
std::string RecordJson(const BoardRecord& record);
// The current time as "2026-12-09T11:49:09Z".
std::string UtcNow();

// An append-only file whose every line is on the disk when Append returns.
class AppendFile {
public:
    virtual ~AppendFile() = default;
    virtual bool Append(std::string_view line) = 0;
};
// Opens (creating) `path` for appending: O_APPEND and fsync per line on POSIX, FILE_APPEND_DATA
// and FlushFileBuffers on Windows. Null with `error` set when it cannot be written.
std::unique_ptr<AppendFile> OpenAppendFile(const std::string& path, std::string& error);

// The log shared by the port threads: one line at a time.
class BoardLog {
public:
    explicit BoardLog(std::unique_ptr<AppendFile> file) : file_(std::move(file)) {}
    bool Write(const BoardRecord& record);

private:
    std::mutex mutex_;
    std::unique_ptr<AppendFile> file_;
};

}  // namespace quillon::cli
