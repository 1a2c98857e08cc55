#include "wait/poll_pump.h"
#include "wait/win32_wait.h"

namespace quillon::engine {

// Blocks on the port's read event (when input may end the wait) and a precise timer: a
// reply's first byte ends the wait at once, and the deadline is kept to well under a
// millisecond instead of the system tick.
void PollPump::wait(Clock::duration max, bool /*process_ui*/, bool wake_on_input) {
    if (max <= Clock::duration::zero()) return;
    // One timer per thread, armed again by each wait: making one costs three calls into
    // the system per wait (under Wine, three round trips to its server).
    thread_local PreciseTimer timer;
    HANDLE handles[2];
    DWORD count = 0;
    const bool timed = timer.start(max);
    if (timed) handles[count++] = timer.handle();
    const DWORD input_index = count;
    if (HANDLE input =
            wake_on_input && input_handle_ ? EventFromPollHandle(input_handle_()) : nullptr)
        handles[count++] = input;
    if (count == 0) {
        Sleep(BackstopMs(max));
        return;
    }
    CountWait(WaitForMultipleObjects(count, handles, FALSE, BackstopMs(max)), input_index, count,
              timed);
}

}  // namespace quillon::engine
