#include <poll.h>

#include <cerrno>
#include <thread>

#include "wait/poll_pump.h"

namespace quillon::engine {

void PollPump::wait(Clock::duration max, bool /*process_ui*/, bool wake_on_input) {
    if (max <= Clock::duration::zero()) return;
    const int fd = wake_on_input && input_handle_ ? input_handle_() : -1;
    if (fd < 0) {
        std::this_thread::sleep_for(max);
        return;
    }
    // ppoll takes the time-out with nanosecond resolution; poll's whole milliseconds would
    // round a slice's remainder away and add a late millisecond to every reply.
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(max).count();
    timespec timeout{static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
    pollfd p{fd, POLLIN, 0};
    const int r = ::ppoll(&p, 1, &timeout, nullptr);
    // A hung-up or failed handle is readable at once for ever: sleep out the wait instead.
    if (r > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL)) && !(p.revents & POLLIN))
        std::this_thread::sleep_for(max);
}

}  // namespace quillon::engine
