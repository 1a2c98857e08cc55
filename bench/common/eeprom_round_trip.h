// The round trip both reply-latency benchmarks time, so that their figures compare: one
// EEPROM packet out through the engine's link, the device's 'K' back.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <iterator>

#include "engine/link.h"

namespace quillon::bench {

struct RoundTrip {
    bool ok = false;
    double us = 0;  // from the packet handed to the link to its answer read
};

inline RoundTrip TimeEepromPacket(engine::Engine& e) {
    constexpr std::uint8_t kEepromPacket[] = {0x40, 0x01, 0x22, 0x01, 0x00};
    e.packet.Reset();
    std::copy(std::begin(kEepromPacket), std::end(kEepromPacket), e.packet.bytes.begin());
    const auto t0 = engine::Clock::now();
    const engine::LinkResult r =
        engine::SendPacket(e, e.packet.bytes, int(std::size(kEepromPacket)));
    const auto t1 = engine::Clock::now();
    return {r == engine::LinkOk, std::chrono::duration<double, std::micro>(t1 - t0).count()};
}

}  // namespace quillon::bench
