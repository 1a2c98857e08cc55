// A pump for programs without windows (and for measuring): it sleeps in the operating
// system until the serial port has input or the wait is over. It processes no window
// events; a front end with windows wraps or replaces it (ui/qt/qt_pump.h).
#pragma once

#include <functional>

#include "engine/pump.h"

namespace quillon::engine {

class PollPump : public Pump {
public:
    // `input_handle` gives the pollable handle of the port being read (-1: none; the wait
    // then simply lets the time pass).
    explicit PollPump(std::function<int()> input_handle) : input_handle_(std::move(input_handle)) {}

    Clock::time_point now() override { return Clock::now(); }
    void wait(Clock::duration max, bool process_ui, bool wake_on_input) override;

private:
    std::function<int()> input_handle_;
};

}  // namespace quillon::engine
