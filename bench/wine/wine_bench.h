// What the Windows benchmarks share: the pump under test and their command line, the COM
// number devsim serves and how many runs to time.
#pragma once

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>

#include "serial/ports.h"
#include "ui/win32/win32_pump.h"
#include "wait/poll_pump.h"

namespace quillon::bench {

inline constexpr int kDefaultCom = 5;

// The Win32 pump (message queue included) or the headless pump, on the port's handle.
inline std::unique_ptr<engine::Pump> MakePump(bool ui_pump, std::function<int()> handle) {
    if (ui_pump) return std::make_unique<ui::win32::Win32Pump>(std::move(handle));
    return std::make_unique<engine::PollPump>(std::move(handle));
}

// Times `measure(name, port, runs, ui_pump)` with both pumps. argv[1]: the COM number
// (default 5); argv[2]: the runs (default `default_runs`, at least `min_runs`). The exit
// code: 0 when both measured without a failure, 2 for a COM number out of range.
template <typename Measure>
int MeasureBothPumps(int argc, char** argv, int default_runs, int min_runs, Measure measure) {
    const int com = argc > 1 ? std::atoi(argv[1]) : kDefaultCom;
    const int runs = argc > 2 ? std::max(min_runs, std::atoi(argv[2])) : default_runs;
    if (com < 1 || com > serial::kHighestComNumber) {
        std::fprintf(stderr, "COM number outside 1..257\n");
        return 2;
    }
    // QUILLON_BENCH_PUMP=Win32Pump or PollPump measures that pump alone (wine_bench.sh runs
    // one pump per devsim, so that each has its own record for the ideal host).
    const char* only = std::getenv("QUILLON_BENCH_PUMP");
    auto wanted = [only](const char* name) { return !only || std::strcmp(only, name) == 0; };
    int failed = 0;
    if (wanted("Win32Pump")) failed |= measure("Win32Pump", com - 1, runs, true);
    if (wanted("PollPump")) failed |= measure("PollPump", com - 1, runs, false);
    return failed;
}

}  // namespace quillon::bench
