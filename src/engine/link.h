// The bootloader link: moves packets and replies between the selected serial port and the
// reply parser (protocol.h), waits for answers on the pump's clock and resends rejected
// packets. All of its state lives in one Engine, owned by the application context.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "engine/frontend.h"
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

// Reply of WaitReply.
inline constexpr int kReplyAck = 1;
inline constexpr int kReplyNak = -1;
inline constexpr int kReplyStop = -2;
inline constexpr int kReplyTimeout = 0;

// ProtectedWindow: device address units the session leaves out; start 0 means none.
struct ProtectedWindow {
    std::int32_t start = 0;
    std::int32_t extent = 0;
};

// The programming engine's state and the services it runs on.
struct Engine {
    Engine(Frontend& frontend, serial::ChannelTable& channel_table,
           serial::PortSelection& port_selection, Pump& the_pump)
        : ui(frontend), channels(channel_table), ports(port_selection), pump(the_pump) {}

    Frontend& ui;
    serial::ChannelTable& channels;
    serial::PortSelection& ports;
    Pump& pump;

    ReplyParser parser;  // link state and DeviceIdentity
    BootPacket packet;
    ProtectedWindow protected_window;
    std::array<std::uint8_t, kReceiveBufferSize> receive{};

    const DeviceIdentity& identity() const { return parser.identity; }
};

// Reads what has arrived on the selected port (never waits) and feeds it to the parser.
// Returns the number of bytes read; 0 when the port is closed.
int PollReply(Engine& e);
// Reads and throws away until a read yields nothing (bounded by kDrainMaxReads).
void DrainInput(Engine& e);
// One read, thrown away.
void DiscardInput(Engine& e);
// Waits up to `ms` (counted in whole 5 ms slices; 3 ms makes none) for the device's answer:
// kReplyAck, kReplyNak, kReplyStop (StopRequested observed and cleared) or kReplyTimeout.
// Input ends a slice early, so a reply is seen at once; the time-out is measured against
// the deadline and is never shorter than ms rounded down to slices.
int WaitReply(Engine& e, int ms);
// Writes the checksum at packet[n], transmits the n + 1 bytes and waits for the answer,
// resending up to four times on rejection ("Resend %d" in the main window's status bar).
// `packet` must have room for the checksum; when it has not, nothing is sent.
LinkResult SendPacket(Engine& e, std::span<std::uint8_t> packet, int n);
// Writes bytes as they are (single-byte commands, summed frames); the result is not used.
void WriteBytes(Engine& e, std::span<const std::uint8_t> bytes);

}  // namespace quillon::engine
