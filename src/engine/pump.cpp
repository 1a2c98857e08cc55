#include "engine/pump.h"

namespace quillon::engine {

void PumpDelay(Pump& pump, int ms) {
    const int slices = DelaySlices(ms);
    const Clock::time_point start = pump.now();
    for (int i = 1; i <= slices; ++i) {
        const Clock::time_point slice_end = start + i * kSlice;
        for (Clock::time_point t = pump.now(); t < slice_end; t = pump.now())
            pump.wait(slice_end - t, /*process_ui=*/true, /*wake_on_input=*/false);
    }
}

}  // namespace quillon::engine
