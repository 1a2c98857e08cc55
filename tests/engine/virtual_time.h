// Ties a fake pump's virtual clock to an in-process virtual device: a wait for input ends
// when the device's next byte is due, so a whole session runs in microseconds.
#pragma once

#include <chrono>
#include <memory>
#include <optional>

#include "tests/support/fake_pump.h"
#include "tools/devsim/device.h"

namespace quillon::devsim {

inline engine::FakePump::InputSource NextByteDue(std::shared_ptr<devsim::Device> device) {
    return [device = std::move(device)]() -> std::optional<engine::Clock::time_point> {
        const auto next = device->NextOutputTime();
        if (!next) return std::nullopt;
        return engine::Clock::time_point(
            std::chrono::duration_cast<engine::Clock::duration>(*next));
    };
}

}  // namespace quillon::devsim
