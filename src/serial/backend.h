// The small byte-oriented interface that the serial channel sits on. A backend
// names and opens devices; an open device is configured, written, drained, read (never
// blocking) and has its modem-control lines driven. Destroying a Device closes it.
//
// Backends: POSIX (posix_backend.cpp, termios) and Win32 (win32_backend.cpp, the Win32
// communications calls), chosen by CMake; tests and the in-process virtual device bring their own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>

namespace quillon::serial {

// Line settings of one open, with the codes of the Win32 device control block.
struct LineSettings {
    std::uint32_t speed = 115200;  // bit/s
    std::uint8_t parity = 0;       // 0 none, 1 odd, 2 even, 3 mark, 4 space
    std::uint8_t stop_bits = 2;    // 0 one, 1 one and a half, 2 two
    std::uint8_t data_bits = 8;
    friend bool operator==(const LineSettings&, const LineSettings&) = default;
};

// The five fields of the Win32 COMMTIMEOUTS, in milliseconds. The channel always sets
// reads to return at once (interval MAXDWORD, multiplier 0, constant 0) and a write of n
// bytes to fail when it cannot complete within write_constant + write_multiplier * n.
struct Timeouts {
    std::uint32_t read_interval = 0xFFFFFFFF;
    std::uint32_t read_multiplier = 0;
    std::uint32_t read_constant = 0;
    std::uint32_t write_multiplier = 10;
    std::uint32_t write_constant = 1000;
    friend bool operator==(const Timeouts&, const Timeouts&) = default;
};

// Result of applying the line settings: the channel shows a message box only for Refused.
enum class LineResult {
    Ok,
    ReadFailed,  // the current settings could not be read (GetCommState): no message
    Refused,     // the new settings were refused (SetCommState): "Unable to configure ..."
};

// Modem-control commands, with the values of Win32 EscapeCommFunction.
enum class Escape : std::uint8_t { SetRts = 3, ClrRts = 4, SetDtr = 5, ClrDtr = 6 };

// One open device. Every call is synchronous and made on the user-interface thread.
class Device {
public:
    virtual ~Device() = default;  // closes the device

    // Waits until every byte written has left the driver (FlushFileBuffers / tcdrain).
    virtual bool drain() = 0;
    virtual LineResult set_line(const LineSettings& line) = 0;
    // Driver queue sizes in bytes (SetupComm); backends without such queues accept them.
    virtual bool set_queues(std::uint32_t receive, std::uint32_t transmit) = 0;
    virtual bool set_timeouts(const Timeouts& timeouts) = 0;
    // Writes all bytes within the write time-out; false when the write failed or timed out.
    virtual bool write(std::span<const std::uint8_t> bytes) = 0;
    // Copies what has already arrived, at most buffer.size() bytes; never waits. 0 when
    // nothing has arrived or the read failed.
    virtual std::size_t read(std::span<std::uint8_t> buffer) = 0;
    // Drives DTR or RTS. A device without modem-control lines (a pseudo-terminal) ignores
    // it and answers true; the channel ignores the answer in any case.
    virtual bool escape(Escape command) = 0;
    // A handle that a waiter can poll for readable input: the file descriptor on POSIX,
    // -1 where there is none (Win32) or once the device has gone away.
    virtual int poll_handle() const { return -1; }
    // How long the adapter holds received bytes before handing them over, in ms, as the
    // driver tells it after the open asked for low latency (USB serial adapters on Linux);
    // nullopt where there is no such setting.
    virtual std::optional<int> receive_latency_ms() const { return std::nullopt; }
    // True once the line has hung up for good (the other side closed it, the adapter was
    // unplugged): nothing written will be answered any more.
    virtual bool gone() const { return false; }
};

// A device that only carries bytes (the in-process virtual device, a scripted line in a
// test, a raw pseudo-terminal in a benchmark): it has no driver queues, time-outs, line
// settings or modem lines, so each of those calls succeeds without doing anything.
class BytesOnlyDevice : public Device {
public:
    bool drain() override { return true; }
    LineResult set_line(const LineSettings&) override { return LineResult::Ok; }
    bool set_queues(std::uint32_t, std::uint32_t) override { return true; }
    bool set_timeouts(const Timeouts&) override { return true; }
    bool escape(Escape) override { return true; }
};

// Names and opens devices. One backend serves one ChannelTable (and may serve several).
class Backend {
public:
    virtual ~Backend() = default;
    // The platform's name of port number `port` (0 = COM1); empty when the platform has no
    // device for it. Win32: "\\.\COM<port+1>"; Linux: the device path (see ports.h).
    virtual std::string device_name(int port) = 0;
    // Opens the named device for reading and writing, exclusively; null on any failure
    // (missing, in use, access refused).
    virtual std::unique_ptr<Device> open(const std::string& name) = 0;
    // Why the last open failed, in words for the user ("In use by minicom (pid 812)");
    // empty after a successful open or when there is nothing more to say.
    virtual std::string refusal() const { return {}; }
};

// Where this platform's user sets a USB adapter's latency timer: a udev rule (Linux, where
// the open asks for low latency and the timer stays high only when the driver refuses)
// or the port's advanced settings in the Device Manager (Windows' FTDI driver).
enum class LatencyFix { UdevRule, DeviceManager };
LatencyFix PlatformLatencyFix();

// The backend of the platform this program was built for, with default port naming.
std::shared_ptr<Backend> MakePlatformBackend();

}  // namespace quillon::serial
