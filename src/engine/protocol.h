// The bootloader wire protocol, sans I/O: packet framing, the checksum and the reply parser.
// Nothing here reads, writes or looks at a clock; link.h moves the bytes and waits.
//
// Line: 115200 bit/s, 8 data bits, no parity, 2 stop bits, no flow control (11 bits a byte).
//
// Host to device
//   Single-byte commands, written alone, no framing, no checksum:
//     0xC2 / 0xC5 / 0xC6   identify (the search byte; which one depends on the edition)
//     0xCC                 enter programming mode (bootloaders of version 5 and above)
//   Checksummed packet: b0 .. b(n-1), then c = (0 - (b0 + ... + b(n-1))) mod 256, so that
//   all n + 1 bytes add up to 0 modulo 256. Multi-byte fields are most significant first.
//     program block, B <= 255:  addr[23:16] addr[15:8] addr[7:0] L        data[L]  c
//     program block, B  > 255:  addr[23:16] addr[15:8] addr[7:0] Lhi Llo  data[L]  c
//       (addresses in device address units: 1 byte on PIC18, 2 bytes on the 16-bit
//        families; PIC18 blocks carry 64 bytes, 16-bit blocks 256)
//     EEPROM byte:              0x40 index[7:0] value 0x01 0x00  c
//   Summed frame (pass-on sequence only, no answer expected):
//     type len payload[len] sum[15:8] sum[7:0]   (sum of type, len and payload bytes)
//
// Device to host (one byte stream; the parser below gives it meaning)
//   'K' 0x4B    acknowledges a packet; also closes an identification
//   'N' 0x4E    rejects a packet (the device computed a different checksum)
//   'V' bios chip print preparation 'K'     identification, version form
//   chip 'K'                                 identification, bare form (no version)
//   'R' n x data[n] 'K'                      extended block; understood only while the
//       committed bootloader version is 8..31. x is ignored. data[0..23] device text,
//       data[24..25] protected window start, data[26..27] its extent (both low byte
//       first), data[28..] ignored; bytes between data[n-1] and 'K' are ignored.
//   Inside an extended block 'K' and 'N' are data; only the closing 'K' ends it.
//
// Every byte stream leaves the parser in one of its four states with all indices in range:
// the parser has no error state and no buffer that a long or short block could overrun.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace quillon::engine {

// Reply bytes.
inline constexpr std::uint8_t kAck = 0x4B;           // 'K'
inline constexpr std::uint8_t kNak = 0x4E;           // 'N'
inline constexpr std::uint8_t kVersionMark = 0x56;   // 'V'
inline constexpr std::uint8_t kExtendedMark = 0x52;  // 'R'
inline constexpr std::uint8_t kEntryCommand = 0xCC;  // EntryCommand
inline constexpr std::uint8_t kEepromMark = 0x40;    // first byte of an EEPROM packet
inline constexpr std::uint8_t kExtendedMinBios = 8;  // versions that send an extended block
inline constexpr std::uint8_t kExtendedMaxBios = 31;

// Extended block layout.
inline constexpr std::size_t kDeviceTextLength = 24;  // data bytes 0..23
inline constexpr std::size_t kWindowStartAt = 24;     // data bytes 24..25
inline constexpr std::size_t kWindowExtentAt = 26;    // data bytes 26..27
inline constexpr std::size_t kExtendedUsed = 28;      // bytes from here on are ignored

// LinkResult: 0 on success, negative on failure; shown once by ShowLinkError.
enum LinkResult : int {
    LinkOk = 0,
    LinkNoResponse = -1,
    LinkUserAbort = -2,
    LinkChecksumError = -3,
    LinkIncompatible = -4,  // not produced by the link: the session's code for version > 32
};

struct DeviceIdentity {
    std::uint8_t ChipCode = 0;
    std::uint8_t BiosVersion = 0;  // 0 when the bootloader reports no version
    std::uint8_t PrintCode = 0;
    std::uint8_t PreparationCode = 0;
    std::uint8_t VersionReported = 0;  // 1: the identification came in the 'V' form
};

inline bool HasExtendedBlock(std::uint8_t bios) {
    return bios >= kExtendedMinBios && bios <= kExtendedMaxBios;
}

// The checksum byte that makes bytes + checksum add up to 0 modulo 256.
std::uint8_t Checksum(std::span<const std::uint8_t> bytes);

// BootPacket: the one outgoing packet buffer, 0xFF-filled before each packet is built.
// The largest packet (5 header bytes, 256 data bytes, checksum) takes 262 bytes.
struct BootPacket {
    static constexpr std::size_t kSize = 300;
    static constexpr std::uint8_t kFill = 0xFF;
    std::array<std::uint8_t, kSize> bytes{};
    BootPacket() { Reset(); }
    void Reset() { bytes.fill(kFill); }
};

enum class ParserState : std::uint16_t { Idle = 0, ExtLength, ExtSkip, ExtData };

// Position in a version reply: 0..3 while collecting, kNotCollecting otherwise.
inline constexpr std::uint8_t kNotCollecting = 255;

// ReplyParser: one step per received byte. Holds the link's receive-side state: the
// acknowledge flags, the committed and pending identification and the extended block.
struct ReplyParser {
    ParserState state = ParserState::Idle;
    std::uint8_t AckSeen = 0;
    std::uint8_t NakSeen = 0;
    DeviceIdentity identity;  // DeviceIdentity as last committed
    // PendingIdentity: bios, chip, print, preparation.
    std::uint8_t pending_bios = 0;
    std::uint8_t pending_chip = 0;
    std::uint8_t pending_print = 0;
    std::uint8_t pending_preparation = 0;
    std::uint8_t PendingIndex = kNotCollecting;
    std::uint16_t ExtLength = 0;
    std::uint16_t ExtIndex = 0;
    std::uint16_t ExtComplete = 0;
    std::array<char, kDeviceTextLength + 1> DeviceText{};  // always NUL-terminated
    std::uint16_t WindowStart = 0;
    std::uint16_t WindowExtent = 0;

    void Feed(std::uint8_t b);
    void Feed(std::span<const std::uint8_t> bytes) {
        for (std::uint8_t b : bytes) Feed(b);
    }
    std::string_view device_text() const { return std::string_view(DeviceText.data()); }
    // What a device search resets before it starts: state, extended information and the
    // committed identity bytes. Pending bytes and VersionReported carry over.
    void ResetForSearch();
};

}  // namespace quillon::engine
