// When the windows draw what changes once per packet during a session (the progress bar,
// the status texts). Drawing costs a fraction of a millisecond with Qt and more under Wine,
// where every change of a control is a round trip to its server; done between a device's
// answer and the next packet it would hold that packet back. So a write of that kind only
// marks the windows out of date (the models get every value at once), and the drawing runs
// right after the engine has written to the port: the line is then busy with the packet
// (a 69-byte block takes 6.6 ms at 115200 8N2) and no answer can come before it is out.
// It runs there at most once per frame. When no write follows (the last packet, a device
// that keeps the host waiting), the binding's timer brings the drawing once the line has
// been quiet for a while, so the last value is always shown.
#pragma once

#include <chrono>
#include <functional>
#include <string>

#include "engine/pump.h"

namespace quillon::ui {

// Drawings during a session, at most one per frame: a progress bar moving 30 steps a
// second looks smooth; more would be drawn over before anyone could see them.
inline constexpr std::chrono::milliseconds kDrawFrame{32};
// Drawing takes at most this share of a session: when a drawing costs more than a tenth of
// a frame (under Wine on a busy machine each one took tens of milliseconds), the next one
// waits ten times its cost, so the packets keep nine tenths of the time whatever the
// windows cost, and the last value is still drawn.
inline constexpr int kDrawShareInverse = 10;
// A line without a write for this long carries no packet: a waiting drawing runs then.
inline constexpr std::chrono::milliseconds kQuietLine{2 * kDrawFrame};

class FramePacer {
public:
    using Clock = engine::Clock;
    // What a binding lends the pacer: its sync (every window drawn from its model) and a
    // timer that calls Quiet() once after the given time (one at a time).
    struct Binding {
        std::function<void()> sync;
        std::function<void(Clock::duration)> call_back;
    };

    explicit FramePacer(std::function<Clock::time_point()> now = [] { return Clock::now(); })
        : now_(std::move(now)) {}

    void bind(Binding binding) { binding_ = std::move(binding); }
    void unbind() {
        binding_ = {};
        armed_ = false;
    }
    bool bound() const { return static_cast<bool>(binding_.sync); }
    // The clock of the frame rule (the fake pump's in tests).
    void set_clock(std::function<Clock::time_point()> now) { now_ = std::move(now); }

    // A model changed in a way drawn at the next frame.
    void Request();
    // The engine has just written to the port: the line is busy, a due drawing (a frame
    // after the last one ended) runs now.
    void Written();
    // The binding's timer: the drawing runs if the line has been quiet long enough.
    void Quiet();
    // Every window was just drawn, whatever asked for it.
    void Synced();

    bool pending() const { return pending_; }

    // The drawings the pacer ran and what they cost (the benchmarks report it).
    struct Stats {
        int syncs = 0;
        Clock::duration total{}, longest{};
    };
    const Stats& stats() const { return stats_; }
    void reset_stats() { stats_ = {}; }
    // "drawings N, mean M us, max X us"
    std::string StatsText() const;

private:
    void Sync();
    void CallBack(Clock::duration after);

    std::function<Clock::time_point()> now_;
    Binding binding_;
    bool pending_ = false;  // a model changed since the last drawing
    bool armed_ = false;    // the binding's timer will call Quiet()
    Clock::time_point last_sync_{};
    Clock::time_point last_write_{};
    Clock::duration frame_ = kDrawFrame;  // until the next drawing (see kDrawShareInverse)
    Stats stats_;
};

}  // namespace quillon::ui
