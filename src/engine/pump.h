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
    // The run is over, or the port is about to be closed and opened again (a search). A
    // pump may keep a watch on the port armed from one wait to the next (re-arming it per
    // wait costs more than a device's answer takes); here it lets it go, so that nothing
    // wakes the idle program or watches a closed handle.
    virtual void rest() {}
    // The engine has just written to the port and its answer cannot come before those bytes
    // are on the wire: a front end may draw here without holding the next packet back.
    virtual void written() {}
};

// What one look after a wake found: `result` ends the wait when it is not R{}; `read`
// tells whether the look read any input.
template <typename R>
struct SliceStep {
    R result{};
    bool read = false;
};

// The one wait loop of the engine: `slices` slices of 5 ms from now, each measured against
// its own deadline on the pump's clock, so a slice that ends early never shortens the
// whole. Window events run throughout. After every wake `look` runs; a result other than
// R{} ends the wait and is returned, else R{} once the last slice is over. With
// `wake_on_input` arriving input ends a slice early; a wake that read nothing (a hung-up
// device keeps its handle readable) makes the rest of that slice a plain wait, so the
// loop never spins.
template <typename Look>
auto WaitSlices(Pump& pump, int slices, bool wake_on_input, Look look) -> decltype(look().result) {
    using R = decltype(look().result);
    const Clock::time_point start = pump.now();
    for (int i = 1; i <= slices; ++i) {
        const Clock::time_point slice_end = start + i * kSlice;
        bool wake = wake_on_input;
        for (;;) {
            const Clock::time_point t = pump.now();
            if (t < slice_end) pump.wait(slice_end - t, /*process_ui=*/true, wake);
            const SliceStep<R> step = look();
            if (step.result != R{}) return step.result;
            if (pump.now() >= slice_end) break;
            if (!step.read) wake = false;
        }
    }
    return R{};
}

// Number of 5 ms slices that PumpDelay makes of `ms`.
constexpr int DelaySlices(int ms) {
    return ms <= 0 ? 0
                   : (ms + static_cast<int>(kSlice.count()) - 1) / static_cast<int>(kSlice.count());
}

// Lets `ms` pass in 5 ms slices with window events processed, whether input
// arrives or not. 0 ms returns at once; 3 ms makes one slice (a started slice is whole).
inline void PumpDelay(Pump& pump, int ms) {
    WaitSlices(pump, DelaySlices(ms), /*wake_on_input=*/false, [] { return SliceStep<int>{}; });
}

}  // namespace quillon::engine
