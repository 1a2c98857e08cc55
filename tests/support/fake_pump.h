// A pump on a virtual clock, for tests and the in-process virtual device. A wait jumps the
// clock to its end, or to the moment the input source says bytes become readable, so a
// full device search of 100 tries of 100 ms passes in microseconds of real time.
//
// A run that lets more virtual time pass than any scenario needs (a search that starts
// over and over, a session that goes on past its end) has gone wrong: the wait that
// passes the limit throws, so the test fails within a second of real time instead of
// spinning until ctest's time-out.
#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <stdexcept>

#include "engine/pump.h"

namespace quillon::engine {

// Far beyond the longest scenario (a sequence run of several boards with their pauses),
// and reached within about a second of real time by a run that never ends.
inline constexpr Clock::duration kVirtualTimeLimit = std::chrono::minutes(30);

struct VirtualTimeLimitPassed : std::runtime_error {
    VirtualTimeLimitPassed()
        : std::runtime_error("the run let more virtual time pass than any scenario needs") {}
};

class FakePump : public Pump {
public:
    // When the next input becomes readable, if any is on its way (the in-process device).
    using InputSource = std::function<std::optional<Clock::time_point>()>;
    // Runs for every wait with process_ui, at the virtual time the wait ends: stands for
    // the window events (a test presses Stop here).
    using UiHook = std::function<void(Clock::time_point)>;

    Clock::time_point now() override { return now_; }
    void wait(Clock::duration max, bool process_ui, bool wake_on_input) override {
        ++waits_;
        if (max < Clock::duration::zero()) max = Clock::duration::zero();
        Clock::time_point end = now_ + max;
        if (wake_on_input && input_) {
            if (auto ready = input_(); ready && *ready < end) end = *ready < now_ ? now_ : *ready;
        }
        waited_ += end - now_;
        now_ = end;
        if (waited_ > limit_) throw VirtualTimeLimitPassed();
        if (process_ui && ui_) ui_(now_);
    }

    void rest() override { ++rests_; }

    void set_input_source(InputSource source) { input_ = std::move(source); }
    void set_ui_hook(UiHook hook) { ui_ = std::move(hook); }
    void advance(Clock::duration d) { now_ += d; }
    // The virtual time waits may pass in all before the next one throws.
    void set_time_limit(Clock::duration limit) { limit_ = limit; }
    int waits() const { return waits_; }
    int rests() const { return rests_; }

private:
    Clock::time_point now_{};  // the virtual clock starts at its epoch
    InputSource input_;
    UiHook ui_;
    Clock::duration waited_{};
    Clock::duration limit_ = kVirtualTimeLimit;
    int waits_ = 0;
    int rests_ = 0;
};

}  // namespace quillon::engine
