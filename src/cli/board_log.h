// The board log: one JSON line per board, appended and forced to the disk before the next
// board starts, so a crash or a power cut loses at most the board in progress. Also the
// JSON of the device report (identify --json) and of the --json output, which use the
// log's key names. docs/board-log.md describes every key.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>

#include "cli/exit_codes.h"
#include "serial/ports.h"

namespace quillon::cli {

// Objects keep their keys in the order they were added: the documented order.
using Json = nlohmann::ordered_json;

// One line of JSON text without its line end. Only ASCII is written: other characters as
// \u escapes, and bytes that are not UTF-8 (a device path may hold any) as U+FFFD, so the
// writing never fails whatever a string holds.
std::string JsonText(const Json& value);

// The board's own text in printable ASCII: bytes 0x20..0x7E stand for themselves, except
// the backslash, written "\\"; every other byte as "\xNN" (two lower-case hex digits). The
// text a board sends is often a board or serial number, but it may hold anything.
std::string EscapedBoardText(std::string_view raw);

struct ProtectedWindow {
    std::uint16_t start = 0;
    std::uint16_t extent = 0;
};

// What the log says about one board (one session), or identify about one device.
struct BoardRecord {
    std::string time;  // UTC, ISO 8601, when the board was found
    std::string port;
    serial::AdapterIdentity adapter;
    std::string release;  // the product label of this build
    std::string program;  // "quillon-cli <version>"
    std::string edition;
    std::uint8_t chip = 0, bios = 0, print = 0, preparation = 0;
    bool version_reported = false;
    std::optional<std::string> board_text;            // as the board sent it; none: no text sent
    std::optional<ProtectedWindow> protected_window;  // none: no window reported
    std::string image;         // family and print of the image written ("" when none was chosen)
    std::string image_digest;  // the chosen image's digest ("" when none was chosen)
    std::string result;        // the engine's text, without padding blanks
    Exit exit = Exit::Success;
    long packets = 0;  // checksummed packets sent, resends not counted
    long resends = 0;
    double duration_s = 0;
};

// The log line's object.
Json RecordValue(const BoardRecord& record);
// identify --json: the device report with the log's key names, without the session's.
Json DeviceReportValue(const BoardRecord& record);
std::string RecordJson(const BoardRecord& record);
// The current time as "2026-12-09T11:49:09Z".
std::string UtcNow();

// An append-only file whose every line is on the disk when Append returns.
class AppendFile {
public:
    virtual ~AppendFile() = default;
    // False with `error` set when the line is not (wholly) on the disk; a line written
    // only in part is taken back where the platform allows, so the next line starts clean.
    virtual bool Append(std::string_view line, std::string& error) = 0;
};
// Opens (creating) `path` for appending: O_APPEND and fsync per line on POSIX, FILE_APPEND_DATA
// and FlushFileBuffers on Windows. Null with `error` set when it cannot be written.
std::unique_ptr<AppendFile> OpenAppendFile(const std::string& path, std::string& error);

// The log shared by the port threads: one line at a time.
class BoardLog {
public:
    explicit BoardLog(std::unique_ptr<AppendFile> file) : file_(std::move(file)) {}
    bool Write(const BoardRecord& record, std::string& error);

private:
    std::mutex mutex_;
    std::unique_ptr<AppendFile> file_;
};

}  // namespace quillon::cli
