// The engine's pump in the Qt front end: a wait runs the window events, so the windows stay
// live and the Stop button works, and it ends as soon as the serial port has input (a
// socket notifier on the port's handle), the user has clicked, typed or closed a window,
// or its time is up (a precise timer). A wait without window processing sleeps in poll()
// instead.
//
// The notifier, the timer and the event filter are built once and kept: a wait only arms
// them. A session makes thousands of waits, one per packet at least, and building and
// installing them per wait cost more than the device's answer takes to arrive. The
// notifier also stays enabled from one wait to the next until the run is over (rest()):
// with the GLib event loop every enable and disable wakes the loop once more and makes
// it poll again, twice per packet.
#pragma once

#include <functional>
#include <memory>

#include "engine/pump.h"
#include "wait/poll_pump.h"

class QObject;
class QSocketNotifier;
class QTimer;

namespace quillon::ui::qt {

class QtPump : public engine::Pump {
public:
    // `input_handle`: the pollable handle of the port being read, -1 when there is none.
    explicit QtPump(std::function<int()> input_handle);
    ~QtPump() override;
    QtPump(const QtPump&) = delete;
    QtPump& operator=(const QtPump&) = delete;

    engine::Clock::time_point now() override { return engine::Clock::now(); }
    void wait(engine::Clock::duration max, bool process_ui, bool wake_on_input) override;
    void rest() override;
    // Whether the port's handle is being watched.
    bool watching() const;

    // What the pump has built so far: one timer and one filter for its life, one notifier
    // per port handle it has waited on.
    struct Built {
        int timers = 0;
        int notifiers = 0;
        int filters = 0;
    };
    const Built& built() const { return built_; }

private:
    // One running wait; waits nest when a window event handler waits in turn.
    struct Active {
        engine::Clock::time_point deadline;
        int fd = -1;  // the handle whose input ends the wait; -1: none
        bool woken = false;
    };
    void build();
    void arm(const Active& a);
    void wake();
    void input();

    std::function<int()> input_handle_;
    engine::PollPump plain_;
    std::unique_ptr<QTimer> timer_;
    std::unique_ptr<QSocketNotifier> notifier_;
    int notifier_fd_ = -1;
    std::unique_ptr<QObject> filter_;
    Active* active_ = nullptr;
    Built built_;
};

}  // namespace quillon::ui::qt
