#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

#include "bench/replay/record.h"

namespace quillon::replay {
namespace {

// A device that has not answered within this long will not: the replay ends, not hangs.
// The bound is the line's own read timer (VTIME, in tenths of a second), so a read stays
// one blocking call that returns as soon as a byte is there.
constexpr cc_t kAnswerBoundDs = 100;  // 10 s

bool WriteAll(int fd, const std::vector<std::uint8_t>& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t w = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) return false;
        done += static_cast<std::size_t>(w);
    }
    return true;
}

// Blocking reads until `n` bytes came; a read that times out (0) means no answer.
bool ReadExactly(int fd, std::size_t n) {
    std::uint8_t buf[kMaxAnswer];
    std::size_t got = 0;
    while (got < n) {
        const ssize_t r = ::read(fd, buf, n - got);
        if (r > 0) {
            got += static_cast<std::size_t>(r);
        } else if (r == 0 || errno != EINTR) {
            return false;
        }
    }
    return true;
}

}  // namespace

Result Replay(const std::string& device, const std::vector<Exchange>& exchanges) {
    Result result;
    const int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        result.error = device + ": " + std::strerror(errno);
        return result;
    }
    termios t{};
    tcgetattr(fd, &t);
    cfmakeraw(&t);
    cfsetspeed(&t, B115200);
    t.c_cflag |= CSTOPB | CLOCAL | CREAD;
    t.c_cc[VMIN] = 0;  // a read blocks until a byte is there or the bound is over
    t.c_cc[VTIME] = kAnswerBoundDs;
    tcsetattr(fd, TCSANOW, &t);
    tcflush(fd, TCIOFLUSH);
    const auto start = std::chrono::steady_clock::now();
    result.ok = true;
    for (const Exchange& e : exchanges) {
        if (!WriteAll(fd, e.send) || !ReadExactly(fd, e.answer)) {
            result.ok = false;
            result.error = device + ": the device did not take a packet or answer it";
            break;
        }
        result.bytes += e.send.size() + e.answer;
    }
    result.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    ::close(fd);
    return result;
}

}  // namespace quillon::replay
