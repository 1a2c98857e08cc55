// Reply latency of the engine's waits over a real pseudo-terminal: SendPacket writes an
// EEPROM packet, the devsim program answers 'K', and the time until SendPacket returns is
// measured. The pumps compared, in the same run on the same machine:
//   PollPump   the headless pump: poll() on the port, woken by the answer
//   QtPump     the GUI pump: nested event loop with a socket notifier (with Qt)
//   Sleep5ms   fixed 5 ms sleeps, the port read after each (what a tick-based wait gives)
// Each benchmark reports the median and the 90th percentile in microseconds.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string>
#include <thread>
#include <vector>

#include "bench/common/eeprom_round_trip.h"
#include "bench/common/silent_frontend.h"
#include "engine/link.h"
#include "tests/support/devsim_process.h"
#include "wait/poll_pump.h"
#ifdef QUILLON_BENCH_QT
#include "ui/qt/qt_pump.h"
#endif

namespace {

using namespace quillon;
constexpr int kPort = 0;

// A minimal raw tty backend for the bench, so that the measurement covers the channel
// table and the engine's own wait, not one backend's details.
class RawTty : public serial::BytesOnlyDevice {
public:
    explicit RawTty(int fd) : fd_(fd) {}
    ~RawTty() override { ::close(fd_); }
    bool drain() override { return ::tcdrain(fd_) == 0; }
    bool write(std::span<const std::uint8_t> b) override {
        return ::write(fd_, b.data(), b.size()) == static_cast<ssize_t>(b.size());
    }
    std::size_t read(std::span<std::uint8_t> b) override {
        const ssize_t n = ::read(fd_, b.data(), b.size());
        return n > 0 ? static_cast<std::size_t>(n) : 0;
    }
    int poll_handle() const override { return fd_; }

private:
    int fd_;
};

class RawTtyBackend : public serial::Backend {
public:
    explicit RawTtyBackend(std::string path) : path_(std::move(path)) {}
    std::string device_name(int port) override { return port == kPort ? path_ : std::string(); }
    std::unique_ptr<serial::Device> open(const std::string& name) override {
        const int fd = ::open(name.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) return nullptr;
        termios t{};
        ::tcgetattr(fd, &t);
        ::cfmakeraw(&t);
        ::tcsetattr(fd, TCSANOW, &t);
        return std::make_unique<RawTty>(fd);
    }

private:
    std::string path_;
};

// Sleeps the whole of every wait: input does not end it.
class SleepPump : public engine::Pump {
public:
    engine::Clock::time_point now() override { return engine::Clock::now(); }
    void wait(engine::Clock::duration max, bool, bool) override {
        if (max > engine::Clock::duration::zero()) std::this_thread::sleep_for(max);
    }
};

using NullFrontend = bench::SilentFrontend;

enum class Kind { Poll, Qt, Sleep5ms };

void ReplyLatency(benchmark::State& state, Kind kind) {
    devsim::DevsimProcess devsim;
    if (devsim.path().empty()) {
        state.SkipWithError("devsim did not start");
        return;
    }
    serial::ChannelTable channels(std::make_shared<RawTtyBackend>(devsim.path()));
    serial::PortSelection ports;
    ports.selected_port = kPort;
    const serial::LineSettings& line = serial::kBootloaderLine;
    if (!channels.OpenChannel(kPort, line.speed, line.parity, line.stop_bits, line.data_bits, 0)) {
        state.SkipWithError("cannot open the pseudo-terminal");
        return;
    }
    auto handle = [&channels] { return channels.PollHandle(kPort); };
    std::unique_ptr<engine::Pump> pump;
    switch (kind) {
        case Kind::Poll:
            pump = std::make_unique<engine::PollPump>(handle);
            break;
        case Kind::Qt:
#ifdef QUILLON_BENCH_QT
            pump = std::make_unique<ui::qt::QtPump>(handle);
#endif
            break;
        case Kind::Sleep5ms:
            pump = std::make_unique<SleepPump>();
            break;
    }
    if (!pump) {
        state.SkipWithError("pump not built");
        return;
    }
    NullFrontend ui;
    engine::Engine e(ui, channels, ports, *pump);
    std::vector<double> micros;
    int failures = 0;
    for (auto _ : state) {
        const bench::RoundTrip trip = bench::TimeEepromPacket(e);
        if (!trip.ok) ++failures;
        micros.push_back(trip.us);
        state.SetIterationTime(trip.us / 1e6);
    }
    std::sort(micros.begin(), micros.end());
    if (!micros.empty()) {
        state.counters["median_us"] = micros[micros.size() / 2];
        state.counters["p90_us"] = micros[micros.size() * 9 / 10];
    }
    state.counters["failures"] = failures;
    channels.CloseChannel(kPort);
}

BENCHMARK_CAPTURE(ReplyLatency, PollPump, Kind::Poll)->UseManualTime()->Iterations(500);
#ifdef QUILLON_BENCH_QT
BENCHMARK_CAPTURE(ReplyLatency, QtPump, Kind::Qt)->UseManualTime()->Iterations(500);
#endif
BENCHMARK_CAPTURE(ReplyLatency, Sleep5ms, Kind::Sleep5ms)->UseManualTime()->Iterations(100);

}  // namespace
