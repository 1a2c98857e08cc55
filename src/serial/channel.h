// The serial channel: one record per port number 0..256 and the operations on
// them. Every operation takes the port number; a number outside 0..256 counts as a closed
// channel and never reaches the backend.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "serial/backend.h"

namespace quillon::serial {

inline constexpr int kHighestPortNumber = 256;                // COM257
inline constexpr int kChannelCount = kHighestPortNumber + 1;  // one record per 0..256
// A half-duplex (echo mode) line hears its own bytes: after each write they are read
// back and dropped, so that they are never taken for the device's answer.
inline constexpr bool kEchoDrain = true;
// 1: RTS raised while transmitting on a half-duplex line; otherwise lowered.
inline constexpr int kDirectionPolarity = 1;
inline constexpr std::uint32_t kReceiveQueue = 32768;  // SetupComm sizes
inline constexpr std::uint32_t kTransmitQueue = 9216;
inline constexpr int kEchoTries = 100;  // echo drain: at most 100 waits of 5 ms
inline constexpr std::chrono::milliseconds kEchoWait{5};
inline constexpr std::size_t kEchoScratch = 3000;

inline constexpr std::string_view kConfigureFailed = "Unable to configure the serial port";
inline constexpr std::string_view kTimeoutsFailed = "Unable to set the time-out parameters";
inline constexpr std::string_view kErrorCaption = "Error";

// One port number's record in the table: whether it is open, and the device behind it.
struct SerialChannel {
    std::int32_t port_number = 0;
    std::uint8_t echo_mode = 0;
    std::int32_t open = 0;           // 1 while open and fully configured
    std::unique_ptr<Device> handle;  // meaningful only while open is 1
    std::string refusal;             // why the last open of the device failed, if known
};

// Shows a message with one OK button. The channel cannot show a box itself, so the
// application wires this to a real one.
using MessageBoxHook = std::function<void(std::string_view caption, std::string_view text)>;
// The plain wait of the echo drain (Sleep); tests replace it with a recording fake.
using SleepHook = std::function<void(std::chrono::milliseconds)>;

// Drives RTS for the direction of a half-duplex line: with kDirectionPolarity 1 it is set
// while transmitting and cleared otherwise.
void SetTransmitDirection(bool transmitting, Device& device);

class ChannelTable {
public:
    // Uses the platform backend.
    ChannelTable();
    explicit ChannelTable(std::shared_ptr<Backend> backend);
    ~ChannelTable();
    ChannelTable(const ChannelTable&) = delete;
    ChannelTable& operator=(const ChannelTable&) = delete;

    // The record when open and configured; null on any failure (the record is then closed
    // and its device released).
    SerialChannel* OpenChannel(std::int32_t port, std::uint32_t speed, std::uint8_t parity,
                               std::uint8_t stop_bits, std::uint8_t data_bits,
                               std::uint8_t echo_mode);
    void CloseChannel(std::int32_t port);
    // 2 when written and sent; 0 when the channel is not open or the write failed.
    int WriteChannel(std::int32_t port, std::span<const std::uint8_t> bytes);
    int WriteChannel(std::int32_t port, const std::uint8_t* bytes, std::uint32_t length) {
        return WriteChannel(port, std::span<const std::uint8_t>(bytes, length));
    }
    // Bytes placed in the buffer; 0 when nothing has arrived. Never waits.
    std::uint32_t ReadChannel(std::int32_t port, std::span<std::uint8_t> buffer);
    std::uint32_t ReadChannel(std::int32_t port, std::uint8_t* buffer, std::uint32_t capacity) {
        return ReadChannel(port, std::span<std::uint8_t>(buffer, capacity));
    }
    // 0 after the flush; -2 when the channel is not open.
    std::int16_t FlushChannel(std::int16_t port);
    // Drop: DTR then RTS cleared; otherwise both set. Always 0.
    int SetControlLines(std::int32_t port, bool drop);

    // Whether a port is open, and the handle a waiter can poll for its input (-1 when
    // closed or when the backend has none).
    bool IsOpen(std::int32_t port) const;
    int PollHandle(std::int32_t port) const;
    // Whether the open port's line has hung up for good (false for a closed port).
    bool LineGone(std::int32_t port) const;
    // The record of a port number in 0..256.
    const SerialChannel& record(int port) const { return records_[port]; }

    Backend& backend() { return *backend_; }

    MessageBoxHook message_box;  // unset: the message is not shown
    SleepHook sleep;             // unset: std::this_thread::sleep_for

private:
    SerialChannel* open_record(std::int32_t port);
    void show(std::string_view text);
    void wait(std::chrono::milliseconds ms);

    std::shared_ptr<Backend> backend_;
    SerialChannel records_[kChannelCount];
};

}  // namespace quillon::serial
