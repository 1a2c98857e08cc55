// The ideal host: replays what a real host sent to devsim (devsim --record) against a fresh
// devsim with the same settings, with nothing between the packets but a blocking read of
// the answer's known length. Its session is the floor of the benchmark harness on that
// machine, so the real hosts' figures are given as ratios to it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <istream>
#include <optional>
#include <string>
#include <vector>

namespace quillon::replay {

// What the host sent before one answer, and the answer's length (0: none came).
struct Exchange {
    std::vector<std::uint8_t> send;
    std::size_t answer = 0;
};

// The longest answer a record may ask for: an identification with an extended block is
// under 300 bytes; more is a broken record, not something to wait for.
inline constexpr std::size_t kMaxAnswer = 4096;

// Parses a record, one "HEX LENGTH" line per exchange. A malformed line gives nullopt and
// `error` names it.
std::optional<std::vector<Exchange>> ParseRecord(std::istream& in, std::string& error);

struct Result {
    bool ok = false;
    std::string error;      // why not, when !ok
    double seconds = 0;     // from the first write to the last answer read
    std::size_t bytes = 0;  // written and read
};

// Replays `exchanges` on the serial device `device` (a path on POSIX, COM<n> on Windows),
// 115200 8N2. Gives up with an error when an answer does not come within a generous bound.
Result Replay(const std::string& device, const std::vector<Exchange>& exchanges);

}  // namespace quillon::replay
