// Programming this build's PIC18F26K80 image into devsim on a COM port (under Wine: a
// pseudo-terminal mapped to $WINEPREFIX/dosdevices/com<n>, devsim started with --pace so
// that it takes the 115200 8N2 wire time for every byte). The search before the session is
// not timed. Printed per pump: the session's time, the wire time of every byte it wrote
// and read (11 bits a byte), their ratio, and the turn-around of the packets (from a
// packet written to the first byte of its answer read) as median, 90th percentile and
// maximum. Usage: programming_win32 [COM number] [sessions]
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include "bench/common/silent_frontend.h"
#include "bench/wine/wine_bench.h"
#include "catalog/preparation.h"
#include "engine/search.h"
#include "engine/session.h"
#include "serial/backend.h"
#include "serial/counting_device.h"

namespace {

using namespace quillon;
constexpr double kBitsPerByte = 11;  // start, 8 data, 2 stop
constexpr double kBitsPerSecond = 115200;

// Times each packet's answer: from the packet written to the first byte of its answer read.
struct Turnarounds {
    bool awaiting = false;  // a packet was written, its answer not yet read
    engine::Clock::time_point written_at{};
    std::vector<double> us;
};

// Counts the bytes that cross the line and times the answers, around the real Win32 device.
class TimingDevice : public serial::CountingDevice {
public:
    TimingDevice(std::unique_ptr<serial::Device> inner,
                 std::shared_ptr<serial::LineCounters> counters, Turnarounds& t)
        : CountingDevice(std::move(inner), std::move(counters)), t_(t) {}
    bool write(std::span<const std::uint8_t> bytes) override {
        const bool ok = CountingDevice::write(bytes);
        if (ok) {
            t_.awaiting = true;
            t_.written_at = engine::Clock::now();
        }
        return ok;
    }
    std::size_t read(std::span<std::uint8_t> buffer) override {
        const std::size_t n = CountingDevice::read(buffer);
        if (n > 0 && t_.awaiting) {
            t_.awaiting = false;
            t_.us.push_back(
                std::chrono::duration<double, std::micro>(engine::Clock::now() - t_.written_at)
                    .count());
        }
        return n;
    }

private:
    Turnarounds& t_;
};

class TimingBackend : public serial::CountingBackend {
public:
    TimingBackend(std::shared_ptr<serial::LineCounters> counters, Turnarounds& t)
        : CountingBackend(serial::MakePlatformBackend(), std::move(counters)), t_(t) {}

protected:
    std::unique_ptr<serial::Device> wrap(std::unique_ptr<serial::Device> device) override {
        return std::make_unique<TimingDevice>(std::move(device), counters(), t_);
    }

private:
    Turnarounds& t_;
};

class BenchFrontend : public bench::SilentFrontend {
public:
    void Succeeded() override { succeeded = true; }
    bool succeeded = false;
};

double At(const std::vector<double>& sorted, double q) {
    return sorted.empty() ? 0 : sorted[std::size_t(q * double(sorted.size() - 1))];
}

int Measure(const char* name, int port, int sessions, bool ui_pump) {
    auto counters = std::make_shared<serial::LineCounters>();
    Turnarounds turnarounds;
    serial::ChannelTable channels(std::make_shared<TimingBackend>(counters, turnarounds));
    serial::PortSelection ports;
    ports.selected_port = static_cast<std::int16_t>(port);
    auto handle = [&channels, port] { return channels.PollHandle(port); };
    const std::unique_ptr<engine::Pump> pump = bench::MakePump(ui_pump, handle);
    BenchFrontend frontend;
    engine::Engine e(frontend, channels, ports, *pump);
    auto catalog = std::make_unique<catalog::CatalogState>();
    catalog::InitCatalog(*catalog);
    int failures = 0;
    for (int i = 0; i < sessions; ++i) {
        if (engine::SearchDevice(e) != engine::SearchResult::Found) {
            std::fprintf(stderr, "%s: devsim not found on COM%d\n", name, port + 1);
            return 1;
        }
        const std::uint64_t bytes_before = counters->written + counters->read;
        turnarounds.us.clear();
        frontend.succeeded = false;
        const auto t0 = engine::Clock::now();
        engine::PrgMode(e, *catalog);
        const double s = std::chrono::duration<double>(engine::Clock::now() - t0).count();
        if (!frontend.succeeded) ++failures;
        const double wire = double(counters->written + counters->read - bytes_before) *
                            kBitsPerByte / kBitsPerSecond;
        std::vector<double> t = turnarounds.us;
        std::sort(t.begin(), t.end());
        std::printf(
            "%-10s session %6.3f s   wire %6.3f s   ratio %5.2f   turn-around median %6.0f us  "
            "p90 %6.0f us  max %7.0f us (%zu packets)%s\n",
            name, s, wire, wire > 0 ? s / wire : 0, At(t, 0.5), At(t, 0.9), At(t, 1.0), t.size(),
            frontend.succeeded ? "" : "   FAILED");
        std::fflush(stdout);
    }
    channels.CloseChannel(port);
    return failures == 0 ? 0 : 1;
}

}  // namespace

constexpr int kDefaultSessions = 3;  // whole sessions per pump
constexpr int kMinSessions = 1;

int main(int argc, char** argv) {
    return quillon::bench::MeasureBothPumps(argc, argv, kDefaultSessions, kMinSessions, Measure);
}
