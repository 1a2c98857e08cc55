// The engine's pump in the Win32 front end. A wait blocks in MsgWaitForMultipleObjectsEx on
// the port's pending-read event, a precise timer and the message queue: a reply's first
// byte ends it at once, window messages are handled as they come (so the windows stay
// live), and a click or key ends it too, so a Stop is seen at once. Nothing depends on
// the system timer's resolution.
#pragma once

#include <functional>

#include "engine/pump.h"

namespace quillon::ui::win32 {

class Binding;

class Win32Pump : public engine::Pump {
public:
    // `input_handle`: the channel's poll handle of the port being read (-1: none).
    explicit Win32Pump(std::function<int()> input_handle)
        : input_handle_(std::move(input_handle)) {}

    // The binding whose keyboard handling the waits' messages go through (may be null).
    void set_binding(Binding* binding) { binding_ = binding; }

    engine::Clock::time_point now() override { return engine::Clock::now(); }
    void wait(engine::Clock::duration max, bool process_ui, bool wake_on_input) override;

private:
    std::function<int()> input_handle_;
    Binding* binding_ = nullptr;
};

}  // namespace quillon::ui::win32
