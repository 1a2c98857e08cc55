// What devsim says and writes when it ends: the host's speed as the device saw it (on
// stdout), the flash and EEPROM it rebuilt (as Intel HEX) and the counts of what it received
// (on stderr).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "tools/devsim/device.h"
#include "tools/devsim/options.h"

namespace quillon::devsim {

// What the device sees of the host's speed, measured on the real clock.
struct Timing {
    // Turnaround: from the last byte of an answer handed to the host to the first byte
    // of what the host sends next.
    bool answered = false;  // an answer is out and nothing has come since
    Nanos answered_at{0};
    std::vector<Nanos> turnaround;
    // devsim's own lateness: from when an answer was due to when it was handed over. It
    // counts against the session as if the host had been slow, so it is reported apart.
    std::vector<Nanos> late;
    // The latest session: from the first byte after an identification's answer (the entry
    // command or the first packet) to the last answer, and the bytes moved meanwhile.
    int identifies = 0;  // identifications answered when the session began
    bool started = false;
    Nanos start{0};
    Nanos end{0};
    std::uint64_t bytes = 0;

    // `n` bytes from the host at `at`, after `identifies_so_far` identifications.
    void Received(std::size_t n, Nanos at, int identifies_so_far);
    // `n` bytes to the host at `at`; `all_out` when nothing more is pending.
    void Sent(std::size_t n, Nanos at, bool all_out);
};

// The exchange as the host made it, for an ideal host to replay (--record): one line per
// answer, the bytes the host sent before it in hex, a space and the answer's length.
// Bytes the host sent after the last answer make a last line with length 0.
struct Exchanges {
    std::vector<std::uint8_t> sent;  // from the host since the last answer went out
    std::size_t answer = 0;          // bytes of the answer going out
    std::string text;                // the finished lines

    void Received(std::span<const std::uint8_t> bytes);
    void Sent(std::size_t n, bool all_out);
    // The finished lines and the unanswered tail.
    std::string Finish() const;
};

// Writes the HEX files `settings` names, prints the timing figures on stdout and the
// counts on stderr. False when a HEX file could not be written completely (said on stderr).
// and the exchanges when `settings` asks for them.
bool Report(const Settings& settings, const Device& device, const Timing& timing,
            const Exchanges& exchanges);

}  // namespace quillon::devsim
