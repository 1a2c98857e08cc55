#include "tools/devsim/pty_loop.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>

namespace quillon::devsim {
namespace {

constexpr std::size_t kIoChunk = 4096;
constexpr int kHangUpGraceMs = 2000;    // at most this long for the host to read
constexpr int kHangUpSettleUs = 50000;  // 50 ms for the last bytes to reach its queue
constexpr int kHangUpPollUs = 1000;     // one step of the grace period
constexpr std::size_t kLinkTargetMax = 4096;
// A paced device answers at its line times. A process woken from a sleep runs tens of
// microseconds late (more on a virtual machine), which would be counted against the host:
// so a paced devsim sleeps until shortly before an answer is due and spins the rest,
// yielding the processor on every turn so that the host and the kernel's pty work run
// first when they are ready.
constexpr Nanos kSpinAhead = std::chrono::microseconds(200);

volatile sig_atomic_t g_stop = 0;
void OnSignal(int) {
    g_stop = 1;
}

// Writes all of `bytes` to the non-blocking master, waiting while the host's queue is
// full; returns how many went out (fewer only when the line failed).
std::size_t WriteAll(int master, const std::uint8_t* bytes, std::size_t n) {
    std::size_t done = 0;
    while (done < n) {
        const ssize_t w = ::write(master, bytes + done, n - done);
        if (w > 0) {
            done += static_cast<std::size_t>(w);
        } else if (w < 0 && errno == EAGAIN) {
            pollfd out{master, POLLOUT, 0};
            ::poll(&out, 1, -1);
        } else {
            break;
        }
    }
    return done;
}

// Closing the master discards what the host has not read yet: let it take the last answer
// first (bounded, a host may never read again). The pty moves written bytes to the host's
// queue a moment later, so an empty queue counts only after a first pause.
void LetHostReadLast(int slave) {
    ::usleep(kHangUpSettleUs);
    for (int waited_us = 0; waited_us < kHangUpGraceMs * 1000; waited_us += kHangUpPollUs) {
        int queued = 0;
        if (::ioctl(slave, TIOCINQ, &queued) != 0 || queued == 0) break;
        ::usleep(kHangUpPollUs);
    }
}

}  // namespace

bool OpenPty(Pty& pty) {
    if (openpty(&pty.master, &pty.slave, nullptr, nullptr, nullptr) != 0) {
        std::perror("devsim: openpty");
        return false;
    }
    // Raw line until the host configures it. The slave stays open here, so the master
    // does not see a hang-up each time the host closes the port.
    termios t{};
    tcgetattr(pty.slave, &t);
    cfmakeraw(&t);
    tcsetattr(pty.slave, TCSANOW, &t);
    fcntl(pty.master, F_SETFL, fcntl(pty.master, F_GETFL) | O_NONBLOCK);
    pty.path = ttyname(pty.slave);
    return true;
}

void ClosePty(Pty& pty) {
    ::close(pty.slave);
    ::close(pty.master);
    pty.slave = pty.master = -1;
}

bool MakeLink(const std::string& link, const std::string& target) {
    ::unlink(link.c_str());
    if (::symlink(target.c_str(), link.c_str()) != 0) {
        std::perror("devsim: symlink");
        return false;
    }
    return true;
}

void RemoveOwnLink(const std::string& link, const std::string& target) {
    char buf[kLinkTargetMax];
    const ssize_t n = ::readlink(link.c_str(), buf, sizeof buf - 1);
    if (n < 0) return;
    buf[n] = '\0';
    if (target == buf) ::unlink(link.c_str());
}

sigset_t StopOnSignals() {
    std::signal(SIGPIPE, SIG_IGN);
    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    sigset_t blocked, original;
    sigemptyset(&blocked);
    for (int sig : {SIGTERM, SIGINT, SIGHUP}) {
        sigaction(sig, &sa, nullptr);
        sigaddset(&blocked, sig);
    }
    sigprocmask(SIG_BLOCK, &blocked, &original);
    return original;
}

void Serve(const Pty& pty, Device& device, const sigset_t& wait_mask, Timing& timing,
           Exchanges& exchanges) {
    const auto epoch = std::chrono::steady_clock::now();
    auto now = [epoch] {
        return std::chrono::duration_cast<Nanos>(std::chrono::steady_clock::now() - epoch);
    };
    const bool punctual = device.options().pace;
    std::uint8_t buf[kIoChunk];
    while (!g_stop) {
        const Nanos t = now();
        const std::optional<Nanos> next = device.NextOutputTime();
        const bool spin = punctual && next && *next - t <= kSpinAhead;
        bool readable = true;  // a spinning turn simply tries a non-blocking read
        if (spin) {
            ::sched_yield();
        } else {
            // Wait for the host, or until the device's next byte is due (a little before
            // it when punctual, to spin the rest).
            timespec timeout{};
            timespec* timeout_ptr = nullptr;
            if (next) {
                const Nanos left =
                    std::max(Nanos{0}, *next - t - (punctual ? kSpinAhead : Nanos{0}));
                timeout.tv_sec = static_cast<time_t>(left.count() / 1000000000);
                timeout.tv_nsec = static_cast<long>(left.count() % 1000000000);
                timeout_ptr = &timeout;
            }
            pollfd p{pty.master, POLLIN, 0};
            const int r = ::ppoll(&p, 1, timeout_ptr, &wait_mask);
            if (r < 0 && errno != EINTR) break;
            readable = r > 0 && (p.revents & POLLIN);
        }
        if (readable) {
            const ssize_t n = ::read(pty.master, buf, sizeof buf);
            if (n > 0) {
                const Nanos at = now();
                timing.Received(static_cast<std::size_t>(n), at, device.stats().identifies);
                exchanges.Received({buf, static_cast<std::size_t>(n)});
                device.Receive({buf, static_cast<std::size_t>(n)}, at);
            }
        }
        if (const std::optional<Nanos> due = device.NextOutputTime()) {
            if (const Nanos at = now(); *due <= at) timing.late.push_back(at - *due);
        }
        for (std::size_t n; (n = device.TakeOutput(buf, now())) > 0;) {
            const std::size_t done = WriteAll(pty.master, buf, n);
            const bool all_out = !device.NextOutputTime();
            timing.Sent(done, now(), all_out);
            exchanges.Sent(done, all_out);
        }
        if (device.hung_up() && !device.NextOutputTime()) {
            LetHostReadLast(pty.slave);
            break;
        }
    }
}

}  // namespace quillon::devsim
