// Time from starting the executable to its main window being shown (offscreen), the
// budget is 0.5 s. Each iteration starts a fresh process with its own runtime directory.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/child_process.h"

namespace {

constexpr int kHangCheckMs = 10000;  // a start that takes this long has failed

// Starts the program and returns once it has printed its "running" trace line.
bool StartAndWaitShown(const std::string& runtime) {
    quillon::support::ChildProcess program({QUILLON_EXECUTABLE},
                                           quillon::support::ChildProcess::kErr,
                                           {"QT_QPA_PLATFORM=offscreen", "QUILLON_TRACE=1",
                                            "XDG_RUNTIME_DIR=" + runtime, "HOME=" + runtime});
    return program.WaitFor(quillon::support::ChildProcess::Stream::Err, "quillon: running", 1,
                           kHangCheckMs);
}

void BM_StartToWindowShown(benchmark::State& state) {
    char tmpl[] = "/tmp/quillon-bench-XXXXXX";
    const std::string runtime = ::mkdtemp(tmpl);
    for (auto _ : state)
        if (!StartAndWaitShown(runtime)) state.SkipWithError("the program did not start");
    std::filesystem::remove_all(runtime);
}
BENCHMARK(BM_StartToWindowShown)->Unit(benchmark::kMillisecond)->Iterations(10)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
