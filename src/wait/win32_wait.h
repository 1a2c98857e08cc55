// The Win32 waits' common parts: a waitable timer that ends a wait at its deadline with
// sub-millisecond precision (so no wait depends on the 15.6 ms system tick), and the
// conversion of the channel's int handle back to the event it carries.
#pragma once

#include <windows.h>

#include <chrono>

namespace quillon::engine {

class PreciseTimer {
public:
    PreciseTimer() {
        // High resolution (Windows 10 1803 and later); older systems and Wine versions
        // without it get a plain waitable timer, still not rounded up to whole ticks by us.
        constexpr DWORD kHighResolution = 0x00000002;  // CREATE_WAITABLE_TIMER_HIGH_RESOLUTION
        h_ = CreateWaitableTimerExW(nullptr, nullptr, kHighResolution, TIMER_ALL_ACCESS);
        if (!h_) h_ = CreateWaitableTimerExW(nullptr, nullptr, 0, TIMER_ALL_ACCESS);
    }
    ~PreciseTimer() {
        if (h_) CloseHandle(h_);
    }
    PreciseTimer(const PreciseTimer&) = delete;
    PreciseTimer& operator=(const PreciseTimer&) = delete;

    // Arms the timer to fire once after `d` (relative, in 100 ns units).
    bool start(std::chrono::steady_clock::duration d) {
        if (!h_) return false;
        const auto ticks = std::chrono::duration_cast<std::chrono::nanoseconds>(d).count() / 100;
        LARGE_INTEGER due;
        due.QuadPart = -(ticks > 0 ? ticks : 1);
        return SetWaitableTimer(h_, &due, 0, nullptr, nullptr, FALSE) != 0;
    }
    HANDLE handle() const { return h_; }

private:
    HANDLE h_ = nullptr;
};

// How the waits of this thread ended, for the benchmarks (bench/wine): a reply that is
// seen late shows here as a wait that ended by its timer, or by input that read nothing.
struct WaitCounts {
    unsigned long long input = 0;     // the port's pending read completed
    unsigned long long timer = 0;     // the precise timer (the slice or the delay is over)
    unsigned long long messages = 0;  // window messages arrived (handled, then waited on)
    unsigned long long other = 0;     // the backstop time-out or a failed wait
};
inline WaitCounts& ThreadWaitCounts() {
    thread_local WaitCounts counts;
    return counts;
}
// Counts a wait's result: `input_index` is the index of the port's event, `count` the
// number of handles (WAIT_OBJECT_0 + count: messages).
inline void CountWait(DWORD r, DWORD input_index, DWORD count, bool timer_armed) {
    WaitCounts& c = ThreadWaitCounts();
    if (r == WAIT_OBJECT_0 + count)
        ++c.messages;
    else if (input_index < count && r == WAIT_OBJECT_0 + input_index)
        ++c.input;
    else if (timer_armed && r == WAIT_OBJECT_0)
        ++c.timer;
    else
        ++c.other;
}

// The event a channel hands out as its poll handle (-1: none).
inline HANDLE EventFromPollHandle(int handle) {
    return handle < 0 ? nullptr : LongToHandle(handle);
}

// Milliseconds for a wait call's own time-out, rounded up so that it never ends first:
// the timer ends the wait on time, this bound is only a backstop.
inline DWORD BackstopMs(std::chrono::steady_clock::duration d) {
    return DWORD(std::chrono::ceil<std::chrono::milliseconds>(d).count()) + 1;
}

}  // namespace quillon::engine
