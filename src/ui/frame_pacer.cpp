#include "ui/frame_pacer.h"

#include <algorithm>

namespace quillon::ui {

void FramePacer::Request() {
    pending_ = true;
    // Only the timer's due time is set here: this write comes between an answer and the
    // next packet, where nothing may be drawn.
    if (!armed_) CallBack(kQuietLine);
}

void FramePacer::Written() {
    const Clock::time_point t = now_();
    last_write_ = t;
    if (pending_ && t - last_sync_ >= frame_) Sync();
}

void FramePacer::Quiet() {
    armed_ = false;
    if (!pending_) return;
    const Clock::duration quiet = now_() - last_write_;
    if (quiet >= kQuietLine) {
        Sync();
    } else {
        CallBack(kQuietLine - quiet);  // writes are still coming: they draw
    }
}

void FramePacer::Synced() {
    pending_ = false;
    last_sync_ = now_();
}

void FramePacer::Sync() {
    const Clock::time_point start = now_();
    if (binding_.sync) binding_.sync();
    Synced();  // also when the binding's sync was a no-op (called from inside a sync)
    const Clock::duration took = last_sync_ - start;
    frame_ = std::max<Clock::duration>(kDrawFrame, took * kDrawShareInverse);
    ++stats_.syncs;
    stats_.total += took;
    if (took > stats_.longest) stats_.longest = took;
}

std::string FramePacer::StatsText() const {
    using std::chrono::microseconds;
    const auto us = [](Clock::duration d) {
        return std::to_string(std::chrono::duration_cast<microseconds>(d).count());
    };
    const Clock::duration mean = stats_.syncs > 0 ? stats_.total / stats_.syncs : Clock::duration{};
    return "drawings " + std::to_string(stats_.syncs) + ", mean " + us(mean) + " us, max " +
           us(stats_.longest) + " us";
}

void FramePacer::CallBack(Clock::duration after) {
    if (!binding_.call_back) return;
    armed_ = true;
    binding_.call_back(after);
}

}  // namespace quillon::ui
