// Boards programmed at once by the command line, each port on its own thread with its own
// engine, each against its own devsim taking the wire time of a 115200 bit/s 8N2 line (11
// bits a byte) for every byte in both directions. One run = search and session of every
// board, the K80 image (7,402 bytes, fix block, 1,024 EEPROM bytes). Reported:
//   elapsed_s   wall time until the last board is done
//   wire_s      the wire time of one board: every byte it wrote and read, 11 bits each
//   ratio       elapsed_s / wire_s (budget for four boards: 1.2)
//   to_ideal    the slowest board's session (its devsim's figure) ÷ the ideal host's, which
//               replays the first board's bytes against a fresh devsim in the same run
//               (bench/replay; budget for one board: 1.01); ideal_ratio is the ideal
//               host's session ÷ its wire time, ta_* the slowest board's turnarounds
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdio>
#include <memory>
#include <thread>
#include <vector>

#include "bench/common/ideal_host.h"
#include "cli/runner.h"
#include "tests/support/devsim_process.h"

namespace {

using namespace quillon;
constexpr double kBitsPerByte = 11;  // start, 8 data, 2 stop
constexpr double kBitsPerSecond = 115200;

void Boards(benchmark::State& state) {
    const int boards = static_cast<int>(state.range(0));
    std::vector<std::unique_ptr<devsim::DevsimProcess>> devices;
    std::vector<std::string> labels;
    const std::vector<std::string> args = {"--pace",  "--chip", "48",     "--bios", "7",
                                           "--print", "16",     "--prep", "3"};
    bench::RecordFile record;  // the first board's bytes, for the ideal host
    for (int i = 0; i < boards; ++i) {
        std::vector<std::string> with = args;
        if (i == 0) with.insert(with.end(), {"--record", record.path()});
        devices.push_back(std::make_unique<devsim::DevsimProcess>(with));
        if (devices.back()->path().empty()) {
            state.SkipWithError("devsim did not start");
            return;
        }
        labels.push_back(devices.back()->path());
    }
    cli::Output output(
        cli::OutputMode::Plain, [](std::string_view) {}, labels);
    std::atomic<int> interrupts{0};
    cli::RunSettings settings;
    settings.edition = editions::Edition::Upgrade;
    settings.engine =
        engine::EngineOptions{editions::IdentifyByte(editions::Edition::Upgrade, 0), false};

    double elapsed = 0, wire = 0;
    std::atomic<int> failures{0};
    for (auto _ : state) {
        std::vector<std::unique_ptr<cli::PortRun>> runs;
        for (int i = 0; i < boards; ++i) {
            const std::string path = labels[static_cast<std::size_t>(i)];
            runs.push_back(
                std::make_unique<cli::PortRun>(i, cli::PortTarget{path, 0, [path] { return path; }},
                                               settings, output, nullptr, interrupts));
        }
        const auto t0 = std::chrono::steady_clock::now();
        {
            std::vector<std::jthread> threads;
            for (auto& run : runs)
                threads.emplace_back([&run, &failures] {
                    if (run->Update() != cli::Exit::Success) ++failures;
                });
        }
        const double s =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        state.SetIterationTime(s);
        elapsed += s;
        const auto& c = runs.front()->counters();
        wire += double(c.written.load() + c.read.load()) * kBitsPerByte / kBitsPerSecond;
    }
    if (failures > 0) state.SkipWithError("a board failed");
    const double n = static_cast<double>(state.iterations());
    state.counters["elapsed_s"] = elapsed / n;
    state.counters["wire_s"] = wire / n;
    state.counters["ratio"] = wire > 0 ? elapsed / wire : 0;

    std::optional<bench::DevsimFigures> slowest;
    for (auto& d : devices) {
        d->Stop();
        const auto f = bench::ReadDevsimFigures(d->report());
        if (f && (!slowest || f->session_s > slowest->session_s)) slowest = f;
    }
    std::string error;
    const auto ideal = bench::RunIdealHost(args, record.path(), error);
    if (!ideal) std::fprintf(stderr, "cli_bench: ideal host: %s\n", error.c_str());
    if (slowest && ideal && ideal->session_s > 0) {
        state.counters["to_ideal"] = slowest->session_s / ideal->session_s;
        state.counters["ideal_ratio"] = ideal->ratio;
        state.counters["ta_median_us"] = static_cast<double>(slowest->median_us);
        state.counters["ta_p99_us"] = static_cast<double>(slowest->p99_us);
        state.counters["ta_over_1ms"] = static_cast<double>(slowest->over_1ms);
    }
}

BENCHMARK(Boards)->Arg(1)->Arg(4)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
