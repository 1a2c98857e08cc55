#include <thread>

#include "engine/poll_pump.h"

namespace quillon::engine {

// The Win32 channel has no handle to wait on: the wait is a plain sleep of the slice.
void PollPump::wait(Clock::duration max, bool /*process_ui*/, bool /*wake_on_input*/) {
    if (max > Clock::duration::zero()) std::this_thread::sleep_for(max);
}

}  // namespace quillon::engine
