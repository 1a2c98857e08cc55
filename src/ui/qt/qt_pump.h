// The engine's pump in the Qt front end: a wait runs a nested event loop, so the windows
// stay live and the Stop button works, and it ends as soon as the serial port has input
// (a socket notifier on the port's handle), the user has clicked or typed, or its time is
// up (a precise timer). A wait
// without window processing sleeps in poll() instead.
#pragma once

#include <functional>

#include "engine/poll_pump.h"
#include "engine/pump.h"

namespace quillon::ui::qt {

class QtPump : public engine::Pump {
public:
    // `input_handle`: the pollable handle of the port being read, -1 when there is none.
    explicit QtPump(std::function<int()> input_handle);

    engine::Clock::time_point now() override { return engine::Clock::now(); }
    void wait(engine::Clock::duration max, bool process_ui, bool wake_on_input) override;

private:
    std::function<int()> input_handle_;
    engine::PollPump plain_;
};

}  // namespace quillon::ui::qt
