#include "serial/posix_backend.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <optional>
#include <thread>

#include "serial/port_holders.h"
#include "serial/ports.h"

namespace quillon::serial {
namespace {

using Clock = std::chrono::steady_clock;

// The character size, parity and stop-bit flags of a line; none when termios cannot give it.
std::optional<tcflag_t> FramingFlags(const LineSettings& line) {
    tcflag_t flags = 0;
    switch (line.data_bits) {
        case 5:
            flags |= CS5;
            break;
        case 6:
            flags |= CS6;
            break;
        case 7:
            flags |= CS7;
            break;
        case 8:
            flags |= CS8;
            break;
        default:
            return std::nullopt;
    }
    switch (line.parity) {
        case 0:
            break;
        case 1:
            flags |= PARENB | PARODD;
            break;
        case 2:
            flags |= PARENB;
            break;
#ifdef CMSPAR
        case 3:
            flags |= PARENB | PARODD | CMSPAR;
            break;
        case 4:
            flags |= PARENB | CMSPAR;
            break;
#endif
        default:
            return std::nullopt;
    }
    switch (line.stop_bits) {
        case 0:
            break;
        case 1:  // one and a half: a UART gives it for 5-bit words with CSTOPB
            if (line.data_bits != 5) return std::nullopt;
            flags |= CSTOPB;
            break;
        case 2:
            flags |= CSTOPB;
            break;
        default:
            return std::nullopt;
    }
    return flags;
}

speed_t SpeedCode(std::uint32_t speed) {
    switch (speed) {
        case 1200:
            return B1200;
        case 2400:
            return B2400;
        case 4800:
            return B4800;
        case 9600:
            return B9600;
        case 19200:
            return B19200;
        case 38400:
            return B38400;
        case 57600:
            return B57600;
        case 115200:
            return B115200;
        case 230400:
            return B230400;
#ifdef B460800
        case 460800:
            return B460800;
#endif
#ifdef B921600
        case 921600:
            return B921600;
#endif
        default:
            return B0;
    }
}

class PosixDevice : public Device {
public:
    PosixDevice(int fd, std::shared_ptr<TtyTuning> tuning) : fd_(fd), tuning_(std::move(tuning)) {}
    ~PosixDevice() override {
        if (restore_flags_) tuning_->set_serial_flags(fd_, *restore_flags_);
        flock(fd_, LOCK_UN);
        ioctl(fd_, TIOCNXCL);
        ::close(fd_);
    }

    bool drain() override { return drain_until(Clock::now() + write_budget(0)); }

    LineResult set_line(const LineSettings& line) override {
        termios t{};
        if (tcgetattr(fd_, &t) != 0) return LineResult::ReadFailed;
        const speed_t code = SpeedCode(line.speed);
        if (code == B0) return LineResult::Refused;
        cfmakeraw(&t);  // raw binary bytes: no translation, no echo, no signals
        t.c_iflag &= ~tcflag_t(IXON | IXOFF | IXANY | INPCK | PARMRK | ISTRIP | IGNPAR);
        t.c_cflag &= ~tcflag_t(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS | HUPCL);
#ifdef CMSPAR
        t.c_cflag &= ~tcflag_t(CMSPAR);
#endif
        t.c_cflag |= CREAD | CLOCAL;  // no modem-line dependence (DSR/DCD ignored)
        const std::optional<tcflag_t> framing = FramingFlags(line);
        if (!framing) return LineResult::Refused;
        t.c_cflag |= *framing;
        t.c_cc[VMIN] = 0;
        t.c_cc[VTIME] = 0;
        if (cfsetispeed(&t, code) != 0 || cfsetospeed(&t, code) != 0) return LineResult::Refused;
        if (tcsetattr(fd_, TCSANOW, &t) != 0) return LineResult::Refused;
        bps_ = line.speed;
        // tcsetattr succeeds when any part was applied: check that all of it was.
        termios now{};
        if (tcgetattr(fd_, &now) != 0) return LineResult::Refused;
        const tcflag_t cmask = CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS | CREAD | CLOCAL;
        if ((now.c_cflag & cmask) != (t.c_cflag & cmask) || cfgetospeed(&now) != code ||
            (now.c_iflag & (IXON | IXOFF)) != 0)
            return LineResult::Refused;
        return LineResult::Ok;
    }

    bool set_queues(std::uint32_t, std::uint32_t) override {
        return true;
    }

    bool set_timeouts(const Timeouts& t) override {
        timeouts_ = t;
        return true;
    }

    bool write(std::span<const std::uint8_t> bytes) override {
        if (gone_) return false;
        const auto deadline = Clock::now() + write_budget(bytes.size());
        std::size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
            if (n > 0) {
                done += std::size_t(n);
                continue;
            }
            if (n < 0 && errno == EINTR) continue;
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
                if (!wait_for(POLLOUT, deadline)) return give_up();
                continue;
            }
            if (n < 0 && (errno == EIO || errno == ENXIO || errno == ENODEV)) gone_ = true;
            return false;
        }
        // Like WriteFile: done once the driver has handed the bytes on. Waiting for the
        // transmitter too is the channel's drain() that follows every write; asking twice
        // costs a USB adapter a status request, and a jiffy's sleep, each time.
        return wait_queue_empty(deadline);
    }

    std::size_t read(std::span<std::uint8_t> buffer) override {
        if (gone_ || buffer.empty()) return 0;
        for (;;) {
            const ssize_t n = ::read(fd_, buffer.data(), buffer.size());
            if (n > 0) return std::size_t(n);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
                gone_ = true;  // EIO, ENODEV: the other side hung up, the adapter is gone
                return 0;
            }
            // With VMIN 0 and VTIME 0 an empty read answers 0 whether nothing has arrived
            // or the line was hung up: only the hang-up makes the device poll as such.
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, 0) > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL))) gone_ = true;
            return 0;
        }
    }

    bool escape(Escape command) override {
        int bits = 0;
        unsigned long request = TIOCMBIS;
        switch (command) {
            case Escape::SetRts:
                bits = TIOCM_RTS;
                break;
            case Escape::ClrRts:
                bits = TIOCM_RTS;
                request = TIOCMBIC;
                break;
            case Escape::SetDtr:
                bits = TIOCM_DTR;
                break;
            case Escape::ClrDtr:
                bits = TIOCM_DTR;
                request = TIOCMBIC;
                break;
        }
        if (ioctl(fd_, request, &bits) == 0) return true;
        // A pseudo-terminal has no modem-control lines (ENOTTY, or EINVAL): carry on.
        return errno == ENOTTY || errno == EINVAL;
    }

    int poll_handle() const override {
        return gone_ ? -1 : fd_;
    }

    std::optional<int> receive_latency_ms() const override {
        return latency_ms_;
    }

    // Asks the driver to hand received bytes over at once. A driver that refuses, or a
    // device without the setting (a pseudo-terminal), is used as it is.
    void ask_low_latency(const std::string& path) {
        if (!tuning_) return;
        const std::optional<int> flags = tuning_->serial_flags(fd_);
        if (flags && (*flags & kLowLatencyFlag) == 0 &&
            tuning_->set_serial_flags(fd_, *flags | kLowLatencyFlag))
            restore_flags_ = *flags;
        latency_ms_ = tuning_->latency_timer_ms(path);
    }

    bool gone() const override {
        return gone_;
    }

private:
    std::chrono::milliseconds write_budget(std::size_t n) const {
        return std::chrono::milliseconds(std::uint64_t(timeouts_.write_constant) +
                                         std::uint64_t(timeouts_.write_multiplier) * n);
    }

    bool give_up() {
        tcflush(fd_, TCOFLUSH);  // a write that timed out leaves nothing queued behind it
        return false;
    }

    bool wait_for(short events, Clock::time_point deadline) {
        for (;;) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            if (left.count() <= 0) return false;
            pollfd p{fd_, events, 0};
            const int r = ::poll(&p, 1, int(left.count() > 1000 ? 1000 : left.count()));
            if (r < 0 && errno == EINTR) continue;
            if (r < 0) return false;
            if (r > 0) {
                if (p.revents & (POLLERR | POLLNVAL)) return false;
                if (p.revents & POLLHUP) {
                    gone_ = true;
                    return false;
                }
                if (p.revents & events) return true;
            }
        }
    }

    // Waits until the driver's output queue is empty, then for the transmitter itself
    // (tcdrain); gives up at the deadline, discarding what is still queued.
    bool drain_until(Clock::time_point deadline) {
        if (!wait_queue_empty(deadline)) return false;
        while (tcdrain(fd_) != 0) {
            if (errno == EINTR) continue;
            // A device without a transmitter to wait for is drained already.
            if (errno == ENOTTY || errno == EINVAL) return true;
            if (errno == EIO || errno == ENXIO || errno == ENODEV) gone_ = true;
            return false;
        }
        return true;
    }

    // Waits until the driver's output queue is empty; gives up at the deadline, discarding
    // what is still queued.
    bool wait_queue_empty(Clock::time_point deadline) {
        if (gone_) return false;
        for (;;) {
            int queued = 0;
            if (ioctl(fd_, TIOCOUTQ, &queued) != 0) queued = 0;
            if (queued <= 0) break;
            if (Clock::now() >= deadline) return give_up();
            // Sleep about the time the queue takes on the line (11 bits a byte at most).
            auto need = std::chrono::microseconds(std::int64_t(queued) * 11 * 1000000 / bps_);
            if (need < std::chrono::microseconds(200)) need = std::chrono::microseconds(200);
            const auto left = deadline - Clock::now();
            std::this_thread::sleep_for(need < left ? need : left);
        }
        return true;
    }

    int fd_;
    std::shared_ptr<TtyTuning> tuning_;
    std::optional<int> restore_flags_;  // the flags found at open, when we changed them
    std::optional<int> latency_ms_;
    Timeouts timeouts_{};
    std::int64_t bps_ = 115200;
    bool gone_ = false;
};

}  // namespace

PosixBackend::PosixBackend()
    : PosixBackend([](int port) { return ResolvePortDevice(port, PortPlaces::Default()); }) {}

PosixBackend::PosixBackend(std::function<std::string(int)> naming)
    : PosixBackend(std::move(naming), MakeKernelTtyTuning()) {}

PosixBackend::PosixBackend(std::function<std::string(int)> naming,
                           std::shared_ptr<TtyTuning> tuning)
    : naming_(std::move(naming)), tuning_(std::move(tuning)) {}

std::string PosixBackend::device_name(int port) {
    return naming_ ? naming_(port) : std::string();
}

std::unique_ptr<Device> PosixBackend::open(const std::string& path) {
    refusal_.clear();
    if (path.empty()) return nullptr;
    // A program holding the device with a plain open would share the replies with us.
    if (const auto holders = PortHolders(path); !holders.empty()) {
        refusal_ = InUseText(holders) + " (" + path + ")";
        return nullptr;
    }
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        if (error == EACCES || error == EPERM) refusal_ = NoPermissionText(path);
        if (error == EBUSY) refusal_ = "In use by another program (" + path + ")";
        return nullptr;
    }
    // Exclusive like the Win32 share mode 0: flock keeps out every program that locks
    // (another Quillon, most terminal programs); TIOCEXCL refuses any further open(2) of
    // the tty by an unprivileged process.
    if (!isatty(fd) || flock(fd, LOCK_EX | LOCK_NB) != 0 || ioctl(fd, TIOCEXCL) != 0) {
        if (errno == EWOULDBLOCK) refusal_ = "In use by another program (" + path + ")";
        ::close(fd);
        return nullptr;
    }
    auto device = std::make_unique<PosixDevice>(fd, tuning_);
    device->ask_low_latency(path);
    return device;
}

LatencyFix PlatformLatencyFix() {
    return LatencyFix::UdevRule;
}

std::shared_ptr<Backend> MakePlatformBackend() {
    return std::make_shared<PosixBackend>();
}

}  // namespace quillon::serial
