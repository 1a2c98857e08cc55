// The driver settings that decide how late received bytes reach the program. A USB serial
// adapter holds what it receives until its buffer fills or its latency timer runs out
// (16 ms on an FTDI chip by default); the bootloader exchange is one short packet at a
// time, so every answer would wait that long. Asking the tty for low latency
// (ASYNC_LOW_LATENCY) makes the Linux USB-serial drivers drop the timer to 1 ms.
//
// TtyTuning is the seam between the POSIX backend and the kernel: the kernel version uses
// TIOCGSERIAL / TIOCSSERIAL and sysfs, tests record the calls.
#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>

namespace quillon::serial {

// ASYNC_LOW_LATENCY of <linux/tty_flags.h>: one of the flags an unprivileged user may set.
inline constexpr int kLowLatencyFlag = 1 << 13;
// An adapter that still holds received bytes longer than this after the request is slow.
inline constexpr int kFastLatencyTimerMs = 1;

class TtyTuning {
public:
    virtual ~TtyTuning() = default;
    // The driver's serial flags; nullopt when the driver has none (a pseudo-terminal) or
    // does not tell them.
    virtual std::optional<int> serial_flags(int fd) = 0;
    // Sets the serial flags, every other serial setting as it is; false when refused.
    virtual bool set_serial_flags(int fd, int flags) = 0;
    // The latency timer in ms of the USB adapter behind the device path (symbolic links
    // followed); nullopt when the device has none or it cannot be read.
    virtual std::optional<int> latency_timer_ms(const std::string& device_path) = 0;
};

// The kernel's: ioctls on the open descriptor, the latency timer from
// <sysfs>/class/tty/<name>/device/latency_timer.
std::shared_ptr<TtyTuning> MakeKernelTtyTuning(std::filesystem::path sysfs = "/sys");

// The latency timer file's content ("16\n"): nullopt when it is not a whole number of
// milliseconds in 0..255, the range the adapters accept.
std::optional<int> ParseLatencyTimer(const std::string& text);

}  // namespace quillon::serial
