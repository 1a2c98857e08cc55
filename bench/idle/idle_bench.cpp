// CPU used while a reply wait finds nothing: one second of 5 ms slices on an open,
// silent pseudo-terminal, as a session waits for a device that does not answer. Reported
// as CPU milliseconds per second waited (the counter cpu_ms_per_s); near 0 means the
// pumps sleep in the operating system rather than spinning.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <pty.h>
#include <sys/resource.h>
#include <unistd.h>

#include <QCoreApplication>
#include <chrono>

#include "ui/qt/qt_pump.h"
#include "wait/poll_pump.h"

namespace {

using namespace quillon;
using namespace std::chrono_literals;

constexpr auto kSlice = 5ms;
constexpr int kSlicesPerSecond = 200;

double CpuSeconds() {
    rusage u{};
    ::getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

struct SilentPort {
    int master = -1, slave = -1;
    SilentPort() { ::openpty(&master, &slave, nullptr, nullptr, nullptr); }
    ~SilentPort() {
        ::close(master);
        ::close(slave);
    }
};

template <class MakePump>
void WaitOneSecond(benchmark::State& state, MakePump make) {
    SilentPort port;
    auto pump = make(port.slave);
    double cpu = 0;
    for (auto _ : state) {
        const double before = CpuSeconds();
        for (int i = 0; i < kSlicesPerSecond; ++i) pump->wait(kSlice, true, true);
        cpu += CpuSeconds() - before;
    }
    state.counters["cpu_ms_per_s"] = 1000.0 * cpu / double(state.iterations());
}

void BM_IdleWait_PollPump(benchmark::State& state) {
    WaitOneSecond(state,
                  [](int fd) { return std::make_unique<engine::PollPump>([fd] { return fd; }); });
}
BENCHMARK(BM_IdleWait_PollPump)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

void BM_IdleWait_QtPump(benchmark::State& state) {
    WaitOneSecond(state,
                  [](int fd) { return std::make_unique<ui::qt::QtPump>([fd] { return fd; }); });
}
BENCHMARK(BM_IdleWait_QtPump)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
