// How the ports' events reach the user: progress bars on a terminal, plain lines when the
// output is redirected, or every event as a JSON line for other tools. Ports report from
// their own threads; the output serialises them.
#pragma once

#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "cli/board_log.h"
#include "cli/events.h"

namespace quillon::cli {

enum class OutputMode { Terminal, Plain, Json };

// On a terminal the bars are drawn again at most this often (a session makes about a
// thousand progress steps a second).
inline constexpr std::chrono::milliseconds kBarRedrawInterval{100};
inline constexpr int kBarCells = 24;
// The rate and the time left are shown once a phase has run this long (before, they are
// mostly noise).
inline constexpr std::chrono::duration<double> kRateWindow{0.2};

// `text` with every control character replaced by '?', so that a redirected output (and a
// terminal) only ever receives printable text from the device.
std::string Printable(std::string_view text);

class Output {
public:
    using Writer = std::function<void(std::string_view)>;
    Output(OutputMode mode, Writer write, std::vector<std::string> ports, int columns = 80);

    void PortEvent(int port, const Event& event);
    // A message line for one port ("waiting for a board", a report line).
    void PortLine(int port, std::string_view text);
    // The record of a finished board (a JSON line in JSON mode; nothing otherwise, the
    // final event has said it).
    void Board(const BoardRecord& record);
    // One JSON object as a line of its own (identify --json's device report).
    void Object(const Json& value);
    bool json() const { return mode_ == OutputMode::Json; }
    // Leaves the terminal with the bars' last state and the cursor below them.
    void Finish();

private:
    struct Bar {
        std::string phase;
        int value = 0, max = 0;
        std::chrono::steady_clock::time_point phase_start{};
        std::string status;  // the last word when no progress runs
    };
    void PlainEvent(int port, const Event& event);
    void BarEvent(int port, const Event& event);
    void JsonEvent(int port, const Event& event);
    void Above(std::string_view line);  // terminal: a line above the bars
    void DrawBars(bool force);
    std::string BarLine(const Bar& bar, const std::string& port) const;

    OutputMode mode_;
    Writer write_;
    std::vector<std::string> ports_;
    std::vector<Bar> bars_;
    std::vector<std::string> plain_phase_;  // the phase each port's last plain line named
    int columns_;
    int drawn_ = 0;
    std::chrono::steady_clock::time_point last_draw_{};
    std::mutex mutex_;
};

}  // namespace quillon::cli
