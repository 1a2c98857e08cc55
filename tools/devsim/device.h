// The virtual device's bootloader, sans I/O: bytes in at a time, bytes out with the time
// each becomes readable. The pty program (main.cpp) and the in-process backend
// (inprocess_backend.h) move the bytes; the clock is theirs.
//
// It answers the identify bytes with the configured identification (and extended block),
// the entry command with 'K', and every checksummed packet with 'K' after storing it, 'N'
// when the checksum is wrong, or as the reject / ignore rules say. Program blocks and
// EEPROM bytes are unscrambled with the catalog's key rules into flash and EEPROM images.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <deque>
#include <istream>
#include <map>
#include <optional>
#include <ostream>
#include <span>
#include <string>
#include <vector>

namespace quillon::devsim {

using Nanos = std::chrono::nanoseconds;

// One byte on a 115200 bit/s line with 8 data bits, no parity and 2 stop bits: 11 bits.
inline constexpr Nanos kByteTime{11'000'000'000LL / 115200};
// A USB adapter's receive buffer: an FTDI chip hands bytes over when this many have
// gathered (64-byte USB packets less two status bytes) or its latency timer runs out.
inline constexpr std::size_t kAdapterBuffer = 62;
// Packets longer than this are not a bootloader packet: the largest is 262 bytes.
inline constexpr std::size_t kMaxPacket = 300;

// Selects packets by their 1-based number among the checksummed packets received.
struct PacketRule {
    int every_nth = 0;  // every Nth packet (0: none)
    int first_k = 0;    // packets 1..K
    int from_m = 0;     // packets M and on (0: none)
    int only = 0;       // packet M alone (0: none)
    bool Matches(int number) const {
        return (every_nth > 0 && number % every_nth == 0) || number <= first_k ||
               (from_m > 0 && number >= from_m) || (only > 0 && number == only);
    }
};

// The identify bytes of every edition and loader family.
inline constexpr std::array<std::uint8_t, 3> kIdentifyBytes = {0xC2, 0xC5, 0xC6};

struct Options {
    std::uint8_t chip = 0x48;   // chip code
    bool version_form = true;   // 'V' bios chip print prep 'K'; else chip 'K'
    std::uint8_t bios = 7;      // bootloader version
    std::uint8_t print = 0x10;  // print code
    std::uint8_t preparation = 0x03;
    bool nak_only = false;  // answer the identify byte with 'N' and nothing else
    // Copied from a static array: GCC 12 at -O2 and above takes the temporary array of a
    // braced list here for uninitialized (maybe-uninitialized) wherever Options is built.
    std::vector<std::uint8_t> accept_search =
        std::vector<std::uint8_t>(kIdentifyBytes.begin(), kIdentifyBytes.end());

    // Extended block, sent after a version identification of version 8..31.
    bool extended = false;
    std::string device_text;  // at most 24 characters are carried
    std::uint16_t window_start = 0;
    std::uint16_t window_extent = 0;
    int ext_announced = -1;  // length byte sent; -1: the 28 bytes of the layout
    int ext_sent = -1;       // data bytes really sent; -1: as announced
    Nanos ext_delay{0};      // between the identification and the extended block

    PacketRule reject;                // answered 'N' (nothing stored)
    PacketRule ignore;                // not answered at all (nothing stored)
    int hang_up_after = 0;            // stop answering for good after this many packets (0: never)
    int hang_up_at_identify = 0;      // hang up at this identify byte, unanswered (0: never)
    std::vector<std::uint8_t> noise;  // sent before every answer to a packet (line noise)
    Nanos answer_delay{0};            // device time between a complete packet and its answer
    bool pace = false;                // bytes take their wire time in both directions
    // A USB adapter's latency timer between the device and the host: the device's bytes
    // are handed over this long after the first of them was ready, or when the adapter's
    // buffer fills (0: at once).
    Nanos adapter_latency{0};

    bool scrambled = true;          // unscramble program blocks with the catalog's key
    bool eeprom_scrambled = false;  // EEPROM bytes too, keyed by the index's low byte
    bool log_packets = false;       // keep every packet and summed frame as received
};

struct Stats {
    int identifies = 0;
    int entries = 0;
    int packets = 0;  // checksummed packets received, good or bad
    int checksum_errors = 0;
    int rejected = 0;
    int ignored = 0;
    int pass_on_frames = 0;
    std::vector<std::uint8_t> search_bytes;  // identify bytes in the order received
    // With log_packets: every complete packet (checksum included) and summed frame, as
    // received, whatever the answer.
    std::vector<std::vector<std::uint8_t>> packet_log;
};

// Bytes per device address of a chip (its row in the catalog's chip table; 1 for a chip
// without a row).
std::uint32_t AddressUnitOf(std::uint8_t chip);
// Whether a chip's program blocks carry the two-byte length field (blocks over 255 bytes).
bool HasWideLength(std::uint8_t chip);

class Device {
public:
    explicit Device(Options options);

    // Bytes the host wrote, at device time `at`.
    void Receive(std::span<const std::uint8_t> bytes, Nanos at);
    // Moves the output bytes readable at `at` into `out`; returns how many.
    std::size_t TakeOutput(std::span<std::uint8_t> out, Nanos at);
    // When the next output byte becomes readable (after the adapter's latency, if any).
    std::optional<Nanos> NextOutputTime() const;
    bool hung_up() const { return hung_up_; }

    const std::map<std::uint32_t, std::uint8_t>& flash() const { return flash_; }
    const std::map<std::uint32_t, std::uint8_t>& eeprom() const { return eeprom_; }
    const Stats& stats() const { return stats_; }
    const Options& options() const { return options_; }

private:
    void ReceiveByte(std::uint8_t b, Nanos at);
    std::size_t ExpectedLength() const;  // 0 while the header is incomplete
    void HandlePacket(Nanos at);
    void StoreBlock();
    void Send(std::span<const std::uint8_t> bytes, Nanos at);
    void Send(std::uint8_t b, Nanos at) { Send(std::span<const std::uint8_t>(&b, 1), at); }
    void SendIdentification(Nanos at);

    struct Out {
        Nanos ready;
        std::uint8_t byte;
    };
    Options options_;
    Stats stats_;
    std::vector<std::uint8_t> packet_;
    std::deque<Out> output_;
    Nanos rx_free_{0};  // when the receive line is free again (pacing)
    Nanos tx_free_{0};  // when the transmit line is free again (pacing)
    bool hung_up_ = false;
    std::map<std::uint32_t, std::uint8_t> flash_;   // by byte address
    std::map<std::uint32_t, std::uint8_t> eeprom_;  // by EEPROM address
    // The EEPROM packet carries the low 8 bits of the index; each byte goes to the next
    // address after the previous one with those low bits, so a table of more than 256
    // bytes sent in order lands in order. Every identification starts over at address 0.
    std::int64_t eeprom_last_ = -1;
};

// Turnarounds longer than these are counted apart: over a millisecond is more than any
// host should need, over 4 ms is the shape of a wake missed until a 5 ms slice ended.
inline constexpr Nanos kLongTurnaround = std::chrono::milliseconds(1);
inline constexpr Nanos kMissedWakeTurnaround = std::chrono::milliseconds(4);

// Turnaround figures: what the device waits, from its answer's last byte to the first
// byte of the next packet (nearest-rank percentiles; all zero without samples).
struct Turnaround {
    std::size_t count = 0;
    Nanos median{0}, p90{0}, p99{0}, max{0};
    std::size_t over_1ms = 0, over_4ms = 0;  // longer than kLongTurnaround, ...MissedWake...
};
Turnaround Summarize(std::vector<Nanos> samples);

// Intel HEX: 16-byte data records, extended linear address records, end-of-file record.
void WriteIntelHex(std::ostream& out, const std::map<std::uint32_t, std::uint8_t>& image);
// Reads what WriteIntelHex writes (types 00, 01, 04); nullopt on any malformed line.
std::optional<std::map<std::uint32_t, std::uint8_t>> ReadIntelHex(std::istream& in);

}  // namespace quillon::devsim
