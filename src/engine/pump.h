// The only way the engine lets time pass. A wait returns early when serial input arrives, so
// a reply is seen as soon as it is there; the slice arithmetic of the callers is measured
// against deadlines on the pump's clock, so an early return never shortens a time-out.
#pragma once

#include <chrono>

namespace quillon::engine {

using Clock = std::chrono::steady_clock;

// Every wait of the engine is counted in slices of this length.
inline constexpr std::chrono::milliseconds kSlice{5};

class Pump {
public:
    virtual ~Pump() = default;
    virtual Clock::time_point now() = 0;
    // Lets at most `max` pass. With `process_ui` the pending window events run meanwhile
    // (the Stop command among them). With `wake_on_input` it returns as soon as the serial
    // port has input to read; without, input does not end the wait (a caller that does
    // not read would otherwise be woken again and again by the same bytes).
    virtual void wait(Clock::duration max, bool process_ui, bool wake_on_input) = 0;
};

// PumpDelay: lets `ms` pass in 5 ms slices with window events processed, whether input
// arrives or not. 0 ms returns at once; 3 ms makes one slice (a started slice is whole).
void PumpDelay(Pump& pump, int ms);

// Number of 5 ms slices that PumpDelay makes of `ms`.
constexpr int DelaySlices(int ms) {
    return ms <= 0 ? 0
                   : (ms + static_cast<int>(kSlice.count()) - 1) / static_cast<int>(kSlice.count());
}

}  // namespace quillon::engine
