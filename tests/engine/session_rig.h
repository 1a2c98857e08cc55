// A programming session on the fake clock against the in-process virtual device, with the
// device's packet log, and what the device must hold after programming one of this build's
// catalog images.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "catalog/preparation.h"
#include "engine/search.h"
#include "engine/session.h"
#include "tests/engine/engine_rig.h"
#include "tools/devsim/device.h"
#include "tools/devsim/expected.h"

namespace quillon::engine::testing {

using Image = std::map<std::uint32_t, std::uint8_t>;
using Bytes = std::vector<std::uint8_t>;

inline devsim::Options Logged(devsim::Options o) {
    o.log_packets = true;
    return o;
}

struct SessionRig : Rig {
    explicit SessionRig(devsim::Options o = {}) : Rig(Logged(std::move(o))) {}

    // Searches, then runs the session; the log holds the session's events only.
    SessionResult Run() {
        EXPECT_EQ(Search(), SearchResult::Found);
        ui.log.clear();
        session_start = pump.now();
        return PrgMode(engine, catalog);
    }
    const std::vector<Bytes>& packets() const { return device->stats().packet_log; }
    Clock::duration elapsed() { return pump.now() - session_start; }

    catalog::CatalogState catalog;
    Clock::time_point session_start{};
};

// What the device must hold after a session programmed this build's images, from the
// images' own HEX files (shared with the expected_hex tool).
using devsim::ExpectedDevice;
using devsim::kHexEepromBase;

inline ExpectedDevice Expected(std::optional<ExpectedDevice> d) {
    EXPECT_TRUE(d.has_value()) << "cannot read an image's HEX file in " << QUILLON_IMAGES_DIR;
    return d.value_or(ExpectedDevice{});
}
inline ExpectedDevice ExpectedK80() {
    return Expected(devsim::ExpectedK80(QUILLON_IMAGES_DIR));
}
inline ExpectedDevice ExpectedHj64() {
    return Expected(devsim::ExpectedHj64(QUILLON_IMAGES_DIR));
}

}  // namespace quillon::engine::testing
