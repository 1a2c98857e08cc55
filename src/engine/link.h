// The bootloader link: moves packets and replies between the selected serial port and the
// reply parser (protocol.h), waits for answers on the pump's clock and resends rejected
// packets. All of its state lives in one Engine, owned by the application context.
//
// THE BOOTLOADER PROTOCOL (framing and parsing in protocol.h)
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
// Device to host (one byte stream; the reply parser gives it meaning)
//   'K' 0x4B    acknowledges a packet; also closes an identification
//   'N' 0x4E    rejects a packet (the device computed a different checksum)
//   'V' bios chip print preparation 'K'     identification, version form
//   chip 'K'                                 identification, bare form (no version)
//   'R' n x data[n] 'K'                      extended block; understood only while the
//       committed bootloader version is 8..31. x is ignored. data[0..23] device text,
//       data[24..25] protected window start, data[26..27] its extent (both low byte
//       first), data[28..] ignored; bytes between data[n-1] and 'K' are ignored.
//   Inside an extended block 'K' and 'N' are data; only the closing 'K' ends it.
//   The four codes after 'V' are data whatever their value ('K', 'N', 'V' and 'R' too).
//
// Every byte stream leaves the parser in one of its four states with all indices in range:
// the parser has no error state and no buffer that a long or short block could overrun.
//
// Timing (host side)
//   identify: up to 100 tries, 100 ms for an identification after each
//   packet:   2000 ms for 'K' or 'N'; on 'N' the packet is sent again, five times at most
//   extended block: up to about 1.25 s after the identification (versions 8..31)
//   A wait is counted in 5 ms slices against its deadline; input ends a slice early.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "engine/events.h"
#include "engine/protocol.h"
#include "engine/pump.h"
#include "serial/channel.h"
#include "serial/port_selection.h"

namespace quillon::engine {

inline constexpr std::size_t kReceiveBufferSize = 3072;  // every read asks for this much
// DrainInput reads until the port is empty, but never more than this many times: a device
// that sends without pause must not hold the program (64 reads cover twice the driver's
// 32 KiB receive queue).
inline constexpr int kDrainMaxReads = 64;
inline constexpr int kPacketWaitMs = 2000;  // a packet's acknowledgement
inline constexpr int kMaxResends = 4;       // five transmissions in all

// Device address units the bootloader asks the session to leave out; start 0 means none.
struct ProtectedWindow {
    std::int32_t start = 0;
    std::int32_t extent = 0;
};

// What the front end chooses for its runs.
struct EngineOptions {
    // Which identify byte a bootloader answers depends on the product it belongs to: each
    // front end sets its edition's (edition/edition.h). 0xC2 is the Updater's.
    std::uint8_t identify_byte = 0xC2;
    // Program the catalog's images one after another into a row of devices: a device of a
    // family already programmed in the run is passed on.
    bool sequence_mode = false;
};

// The programming engine's state and the services it runs on.
struct Engine {
    Engine(Events& event_sink, serial::ChannelTable& channel_table,
           serial::PortSelection& port_selection, Pump& the_pump)
        : events(event_sink), channels(channel_table), ports(port_selection), pump(the_pump) {}

    Events& events;
    serial::ChannelTable& channels;
    serial::PortSelection& ports;
    Pump& pump;
    EngineOptions options;

    ReplyParser parser;  // link state and DeviceIdentity
    BootPacket packet;
    ProtectedWindow protected_window;
    std::array<std::uint8_t, kReceiveBufferSize> receive{};

    const DeviceIdentity& identity() const { return parser.identity; }
};

// The port the link talks to: the one the running search opened, else SelectedPort.
std::int16_t LinkPort(const Engine& e);
// Reads what has arrived on the selected port (never waits) and feeds it to the parser.
// Returns the number of bytes read; 0 when the port is closed.
int PollReply(Engine& e);
// Reads and throws away until a read yields nothing (bounded by kDrainMaxReads).
void DrainInput(Engine& e);
// One read, thrown away.
void DiscardInput(Engine& e);
// Waits up to `ms` (counted in whole 5 ms slices; 3 ms makes none) for the device's answer:
// Reply::Ack or Reply::Nak, Reply::Stop (StopRequested observed and cleared), Reply::None
// at the time-out, or Reply::LineGone at once when the port's line has hung up (what
// arrived before is read first), so a pulled cable is not waited out. Input ends a slice
// early, so a reply is seen at once; the time-out is measured against the deadline and is
// never shorter than ms rounded down to slices.
Reply WaitReply(Engine& e, int ms);
// Writes the checksum at packet[n], transmits the n + 1 bytes and waits for the answer,
// resending up to four times on rejection (each resend is told to the front end).
// `packet` must have room for the checksum; when it has not, nothing is sent.
LinkResult SendPacket(Engine& e, std::span<std::uint8_t> packet, int n);
// Writes bytes as they are (single-byte commands, summed frames); the result is not used.
void WriteBytes(Engine& e, std::span<const std::uint8_t> bytes);

}  // namespace quillon::engine
