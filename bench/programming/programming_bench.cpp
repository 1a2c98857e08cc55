// Programming this build's PIC18F26K80 image (7,402 bytes, fix block, 1,024 EEPROM bytes)
// into the devsim program over a pseudo-terminal, devsim taking the wire time of a
// 115200 bit/s 8N2 line (11 bits a byte) for every byte in both directions. The session
// runs with the real serial backend and the real pumps; the search before it is not
// timed. Reported per pump:
//   elapsed_s   the session, PrgMode from its start to its end
//   wire_s      the wire time of every byte the session wrote and read
//   ratio       elapsed_s / wire_s (budget with the poll pump: 1.05)
//   dev_ratio   the same as devsim sees it (its last session, on its own clock)
//   ta_*_us     devsim's turnaround: from its answer's last byte to the first byte of the
//               next packet (median, p90, p99, max; budgets: median 100 us, p99 1 ms),
//               ta_over_1ms / ta_over_4ms how many took longer
//   ideal_*     the same of the ideal host (bench/replay), which replays the bytes this
//               host sent against a fresh devsim with the same settings, in the same run
//   to_ideal    this host's session ÷ the ideal host's (budget 1.01)
// The exchange is one packet at a time, each waiting for its 'K', so the wire time is
// the floor: the ratio shows what the host adds to it (reply latency, packet building).
// The latency variants make devsim hold its answers like a USB adapter's latency timer:
// 16 ms is an FTDI adapter's default, 1 ms what it gives when the port asks for low
// latency.
#include <benchmark/benchmark.h>
#include <poll.h>
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "bench/common/ideal_host.h"
#include "bench/common/silent_frontend.h"
#include "catalog/preparation.h"
#include "engine/search.h"
#include "engine/session.h"
#include "serial/counting_device.h"
#include "serial/posix_backend.h"
#include "tests/support/devsim_process.h"
#include "wait/poll_pump.h"
#ifdef QUILLON_BENCH_QT
#include "ui/qt/qt_pump.h"
#endif

namespace {

using namespace quillon;
constexpr int kPort = 0;
constexpr double kBitsPerByte = 11;  // start, 8 data, 2 stop
constexpr double kBitsPerSecond = 115200;

// Shows nothing; remembers whether the session succeeded.
class BenchFrontend : public bench::SilentFrontend {
public:
    void Succeeded() override { succeeded = true; }
    bool succeeded = false;
};

enum class Kind { Poll, Qt };

// Both devsims' closing figures into counters: the real host's, the ideal host's (ideal_*)
// and the real host's session as a ratio to the ideal host's (to_ideal).
void ReportFigures(benchmark::State& state, const std::string& report,
                   const std::optional<bench::DevsimFigures>& ideal) {
    const auto host = bench::ReadDevsimFigures(report);
    if (!host) return;
    state.counters["dev_ratio"] = host->ratio;
    state.counters["ta_median_us"] = static_cast<double>(host->median_us);
    state.counters["ta_p90_us"] = static_cast<double>(host->p90_us);
    state.counters["ta_p99_us"] = static_cast<double>(host->p99_us);
    state.counters["ta_max_us"] = static_cast<double>(host->max_us);
    state.counters["ta_over_1ms"] = static_cast<double>(host->over_1ms);
    state.counters["ta_over_4ms"] = static_cast<double>(host->over_4ms);
    if (!ideal || ideal->session_s <= 0) return;
    state.counters["ideal_ratio"] = ideal->ratio;
    state.counters["ideal_ta_median_us"] = static_cast<double>(ideal->median_us);
    state.counters["ideal_ta_p99_us"] = static_cast<double>(ideal->p99_us);
    state.counters["to_ideal"] = host->session_s / ideal->session_s;
}

void ProgramK80(benchmark::State& state, Kind kind, int latency_ms) {
    std::vector<std::string> args = {"--pace",  "--chip", "48",     "--bios", "7",
                                     "--print", "16",     "--prep", "3"};
    if (latency_ms > 0) {
        args.push_back("--latency-ms");
        args.push_back(std::to_string(latency_ms));
    }
    bench::RecordFile record;
    std::vector<std::string> recording = args;
    recording.insert(recording.end(), {"--record", record.path()});
    devsim::DevsimProcess devsim(recording);
    if (devsim.path().empty()) {
        state.SkipWithError("devsim did not start");
        return;
    }
    auto count = std::make_shared<serial::LineCounters>();
    // The bytes that cross the line, counted around the real POSIX backend.
    const std::string path = devsim.path();
    serial::ChannelTable channels(std::make_shared<serial::CountingBackend>(
        std::make_shared<serial::PosixBackend>(
            [path](int port) { return port == kPort ? path : std::string(); }),
        count));
    serial::PortSelection ports;
    ports.selected_port = kPort;
    auto handle = [&channels] { return channels.PollHandle(kPort); };
    std::unique_ptr<engine::Pump> pump;
    if (kind == Kind::Poll) pump = std::make_unique<engine::PollPump>(handle);
#ifdef QUILLON_BENCH_QT
    if (kind == Kind::Qt) pump = std::make_unique<ui::qt::QtPump>(handle);
#endif
    if (!pump) {
        state.SkipWithError("pump not built");
        return;
    }
    BenchFrontend ui;
    engine::Engine e(ui, channels, ports, *pump);
    catalog::CatalogState catalog;
    catalog::InitCatalog(catalog);

    double elapsed = 0, wire = 0;
    int failures = 0;
    for (auto _ : state) {
        if (engine::SearchDevice(e) != engine::SearchResult::Found) {
            state.SkipWithError("devsim not found");
            break;
        }
        const std::uint64_t before = count->written + count->read;
        ui.succeeded = false;
        const auto t0 = engine::Clock::now();
        engine::PrgMode(e, catalog);
        const auto t1 = engine::Clock::now();
        if (!ui.succeeded) ++failures;
        const double s = std::chrono::duration<double>(t1 - t0).count();
        const double bytes = static_cast<double>(count->written + count->read - before);
        elapsed += s;
        wire += bytes * kBitsPerByte / kBitsPerSecond;
        state.SetIterationTime(s);
    }
    const double n = static_cast<double>(state.iterations());
    if (n > 0 && wire > 0) {
        state.counters["elapsed_s"] = elapsed / n;
        state.counters["wire_s"] = wire / n;
        state.counters["ratio"] = elapsed / wire;
    }
    state.counters["failures"] = failures;
    channels.CloseChannel(kPort);
    devsim.Stop();
    // The same bytes from the ideal host, against a devsim with the same settings. Not
    // for an adapter's latency: there the ideal host waits as long for every answer, and
    // a 16 ms replay would double the benchmark's time for nothing new.
    std::string error;
    std::optional<bench::DevsimFigures> ideal;
    if (latency_ms == 0) ideal = bench::RunIdealHost(args, record.path(), error);
    if (latency_ms == 0 && !ideal)
        std::fprintf(stderr, "programming_bench: ideal host: %s\n", error.c_str());
    ReportFigures(state, devsim.report(), ideal);
}

BENCHMARK_CAPTURE(ProgramK80, PollPump, Kind::Poll, 0)
    ->UseManualTime()
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond);
#ifdef QUILLON_BENCH_QT
BENCHMARK_CAPTURE(ProgramK80, QtPump, Kind::Qt, 0)
    ->UseManualTime()
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond);
#endif
// An adapter's latency timer: one session each, 16 ms makes it about 20 s long.
BENCHMARK_CAPTURE(ProgramK80, PollPump_Latency1ms, Kind::Poll, 1)
    ->UseManualTime()
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(ProgramK80, PollPump_Latency16ms, Kind::Poll, 16)
    ->UseManualTime()
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

}  // namespace
