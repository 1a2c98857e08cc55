// The bootloader wire protocol, sans I/O: packet framing, the checksum and the reply parser.
// Nothing here reads, writes or looks at a clock; link.h moves the bytes and waits. The
// protocol itself is described at the top of link.h.
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
inline constexpr std::uint8_t kEntryCommand = 0xCC;  // enter programming mode
inline constexpr std::uint8_t kEepromMark = 0x40;    // first byte of an EEPROM packet
inline constexpr std::uint8_t kExtendedMinBios = 8;  // versions that send an extended block
inline constexpr std::uint8_t kExtendedMaxBios = 31;

// Extended block layout.
inline constexpr std::size_t kDeviceTextLength = 24;  // data bytes 0..23
inline constexpr std::size_t kWindowStartAt = 24;     // data bytes 24..25
inline constexpr std::size_t kWindowExtentAt = 26;    // data bytes 26..27
inline constexpr std::size_t kExtendedUsed = 28;      // bytes from here on are ignored

// How a packet exchange ended: 0 on success, negative on failure. A failure is shown to
// the user once, by the front end, not by the link.
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

// The one outgoing packet buffer, filled with 0xFF (erased flash) before each packet is
// built. The largest packet (5 header bytes, 256 data bytes, checksum) takes 262 bytes.
struct BootPacket {
    static constexpr std::size_t kSize = 300;
    static constexpr std::uint8_t kFill = 0xFF;
    std::array<std::uint8_t, kSize> bytes{};
    BootPacket() { Reset(); }
    void Reset() { bytes.fill(kFill); }
};

enum class ParserState : std::uint16_t { Idle = 0, ExtLength, ExtSkip, ExtData };

// What a wait for the device's answer brought: nothing (the time-out), its 'K' or 'N', a
// Stop from the user, or a line that hung up.
enum class Reply { None = 0, Ack, Nak, Stop, LineGone };

// Position in a version reply: 0..3 while collecting, kNotCollecting otherwise.
inline constexpr std::uint8_t kNotCollecting = 255;
inline constexpr std::uint8_t kLastPendingIndex = 3;  // the preparation code

// Reads the device's replies one byte at a time, so a reply split over any number of
// reads parses the same. Holds the link's receive-side state: the acknowledge flags, the
// identification (complete and being collected) and the extended block.
struct ReplyParser {
    ParserState state = ParserState::Idle;
    std::uint8_t AckSeen = 0;
    std::uint8_t NakSeen = 0;
    DeviceIdentity identity;  // the last complete identification
    // The identification being collected, in the order the bytes come; it replaces
    // `identity` only once its last byte has arrived.
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
    // Zeroes the four committed identity bytes; VersionReported keeps its value.
    void ClearIdentity();
    // Before a command that wants an answer: an earlier 'K' or 'N' is not its answer.
    void ExpectReply() { AckSeen = NakSeen = 0; }
    // The answer seen since ExpectReply, taken ('K' before 'N'); Reply::None if none.
    Reply TakeReply();
    // The wait for an extended block is over: a block that never closed (announced longer
    // than sent) would go on taking the acknowledgements of the packets that follow as its
    // data, so it ends here too.
    void EndExtendedWait() {
        if (!ExtComplete) state = ParserState::Idle;
    }

private:
    // Stores byte PendingIndex (0..3) of a version reply and moves on.
    void TakePendingByte(std::uint8_t b);
};

}  // namespace quillon::engine
