#include "tools/devsim/report.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <string>

#include "tools/devsim/expected.h"

namespace quillon::devsim {
namespace {

// Writes the image; says why on stderr when the file cannot be written completely.
bool WriteHex(const std::string& path, const Image& image) {
    if (path.empty()) return true;
    std::ofstream out(path, std::ios::trunc);
    if (!out) {
        std::fprintf(stderr, "devsim: cannot create %s: %s\n", path.c_str(), std::strerror(errno));
        return false;
    }
    WriteIntelHex(out, image);
    out.close();  // the last bytes reach the file (or fail) only here
    if (!out) {
        std::fprintf(stderr, "devsim: cannot write %s\n", path.c_str());
        return false;
    }
    return true;
}

void PrintTiming(const Timing& timing) {
    const Turnaround t = Summarize(timing.turnaround);
    auto us = [](Nanos n) { return static_cast<long long>(n.count() / 1000); };
    std::printf(
        "devsim: turnaround %zu: median %lld us, p90 %lld us, p99 %lld us, max %lld us, "
        "over 1 ms %zu, over 4 ms %zu\n",
        t.count, us(t.median), us(t.p90), us(t.p99), us(t.max), t.over_1ms, t.over_4ms);
    const Turnaround l = Summarize(timing.late);
    std::printf("devsim: own lateness %zu: median %lld us, p90 %lld us, p99 %lld us, max %lld us\n",
                l.count, us(l.median), us(l.p90), us(l.p99), us(l.max));
    if (timing.started && timing.end > timing.start && timing.bytes > 0) {
        const double elapsed = std::chrono::duration<double>(timing.end - timing.start).count();
        const double wire =
            std::chrono::duration<double>(kByteTime).count() * static_cast<double>(timing.bytes);
        std::printf("devsim: session %.3f s, %llu bytes = %.3f s on the wire: %.3f x\n", elapsed,
                    static_cast<unsigned long long>(timing.bytes), wire, elapsed / wire);
    }
    std::fflush(stdout);
}

// One line of the record: the host's bytes in hex, a space, the answer's length.
void AppendLine(std::string& text, const std::vector<std::uint8_t>& sent, std::size_t answer) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    for (const std::uint8_t b : sent) {
        text += kHex[b >> 4];
        text += kHex[b & 0xF];
    }
    text += ' ';
    text += std::to_string(answer);
    text += '\n';
}

}  // namespace

void Exchanges::Received(std::span<const std::uint8_t> bytes) {
    sent.insert(sent.end(), bytes.begin(), bytes.end());
}

void Exchanges::Sent(std::size_t n, bool all_out) {
    answer += n;
    if (!all_out) return;
    AppendLine(text, sent, answer);
    sent.clear();
    answer = 0;
}

std::string Exchanges::Finish() const {
    std::string all = text;
    if (!sent.empty() || answer > 0) AppendLine(all, sent, answer);
    return all;
}

namespace {

// Writes the record; says why on stderr when the file cannot be written completely.
bool WriteRecord(const std::string& path, const Exchanges& exchanges) {
    if (path.empty()) return true;
    std::ofstream out(path, std::ios::trunc);
    out << exchanges.Finish();
    out.close();
    if (!out) {
        std::fprintf(stderr, "devsim: cannot write %s\n", path.c_str());
        return false;
    }
    return true;
}

}  // namespace

void Timing::Received(std::size_t n, Nanos at, int identifies_so_far) {
    if (answered) turnaround.push_back(at - answered_at);
    answered = false;
    if (identifies_so_far > 0 && identifies_so_far != identifies) {
        identifies = identifies_so_far;
        started = true;
        start = at;
        bytes = 0;
    }
    bytes += n;
}

void Timing::Sent(std::size_t n, Nanos at, bool all_out) {
    if (all_out) {
        answered = true;
        answered_at = at;
    }
    end = at;
    bytes += n;
}

bool Report(const Settings& settings, const Device& device, const Timing& timing,
            const Exchanges& exchanges) {
    // The layout of the Microchip tools' HEX files: EEPROM address 0 at 0xF00000.
    Image combined = device.flash();
    for (const auto& [index, value] : device.eeprom()) combined[kHexEepromBase + index] = value;
    const bool ok = WriteHex(settings.flash_hex, device.flash()) &&
                    WriteHex(settings.eeprom_hex, device.eeprom()) &&
                    WriteHex(settings.combined_hex, combined) &&
                    WriteRecord(settings.record, exchanges);
    PrintTiming(timing);
    const Stats& s = device.stats();
    std::fprintf(stderr,
                 "devsim: %d identify, %d entry, %d packets (%d bad checksum, %d rejected, "
                 "%d ignored), %d pass-on frames\n",
                 s.identifies, s.entries, s.packets, s.checksum_errors, s.rejected, s.ignored,
                 s.pass_on_frames);
    return ok;
}

}  // namespace quillon::devsim
