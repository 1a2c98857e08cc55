#include "engine/protocol.h"

namespace quillon::engine {

std::uint8_t Checksum(std::span<const std::uint8_t> bytes) {
    std::uint8_t sum = 0;
    for (std::uint8_t b : bytes) sum = static_cast<std::uint8_t>(sum + b);
    return static_cast<std::uint8_t>(0u - sum);
}

void ReplyParser::ResetForSearch() {
    state = ParserState::Idle;
    DeviceText.fill('\0');
    WindowStart = 0;
    WindowExtent = 0;
    identity.ChipCode = 0;
    identity.BiosVersion = 0;
    identity.PrintCode = 0;
    identity.PreparationCode = 0;
}

namespace {

void SetByte(std::uint16_t& value, std::size_t which, std::uint8_t b) {
    const unsigned shift = which == 0 ? 0 : 8;
    value = static_cast<std::uint16_t>((value & ~(0xFFu << shift)) | (unsigned{b} << shift));
}

}  // namespace

void ReplyParser::TakePendingByte(std::uint8_t b) {
    switch (PendingIndex) {
        case 0:
            pending_bios = b;
            break;
        case 1:
            pending_chip = b;
            break;
        case 2:
            pending_print = b;
            break;
        default:
            pending_preparation = b;
            PendingIndex = kNotCollecting;
            return;
    }
    ++PendingIndex;
}

void ReplyParser::Feed(std::uint8_t b) {
    switch (state) {
        case ParserState::Idle:
            // Inside a version reply every byte is data, whatever its value: a version,
            // chip, print or preparation code of 'K', 'N', 'V' or 'R' must not end or
            // restart the reply half read.
            if (PendingIndex <= kLastPendingIndex) {
                TakePendingByte(b);
            } else if (b == kExtendedMark && HasExtendedBlock(identity.BiosVersion)) {
                ExtIndex = 0;
                state = ParserState::ExtLength;
            } else if (b == kAck) {
                identity.ChipCode = pending_chip;
                identity.BiosVersion = pending_bios;
                identity.PrintCode = pending_print;
                identity.PreparationCode = pending_preparation;
                AckSeen = 1;
            } else if (b == kNak) {
                NakSeen = 1;
            } else if (b == kVersionMark) {
                identity.VersionReported = 1;
                pending_bios = 1;
                PendingIndex = 0;
                ExtComplete = 0;
            } else {
                // A bare chip code.
                identity.VersionReported = 0;
                pending_bios = 0;
                pending_chip = b;
            }
            return;
        case ParserState::ExtLength:
            ExtLength = b;
            ExtIndex = 0;
            state = ParserState::ExtSkip;
            return;
        case ParserState::ExtSkip:
            state = ParserState::ExtData;
            return;
        case ParserState::ExtData:
            if (ExtIndex < ExtLength) {
                if (ExtIndex < kDeviceTextLength) {
                    DeviceText[ExtIndex] = static_cast<char>(b);
                    DeviceText[ExtIndex + 1u] = '\0';
                } else if (ExtIndex < kWindowExtentAt) {
                    SetByte(WindowStart, ExtIndex - kWindowStartAt, b);
                } else if (ExtIndex < kExtendedUsed) {
                    SetByte(WindowExtent, ExtIndex - kWindowExtentAt, b);
                }
                // ExtLength is at most 255, so the index never wraps.
                ++ExtIndex;
            } else if (b == kAck) {
                ExtComplete = 1;
                state = ParserState::Idle;
            }
            return;
    }
}

}  // namespace quillon::engine
