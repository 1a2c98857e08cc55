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
#include "wait/win32_wait.h"

namespace {

using namespace quillon;
constexpr double kBitsPerByte = 11;  // start, 8 data, 2 stop
constexpr double kBitsPerSecond = 115200;

// Times each packet's answer: from the packet written to the first byte of its answer read.
// An answer read more than kLateAnswer after its packet's wire time is late: how the waits
// in between ended, and how many reads found nothing, are summed apart for those.
constexpr auto kLateAnswer = std::chrono::milliseconds(4);
constexpr std::size_t kLateBins = 20;  // how late, in whole milliseconds (the last: or more)
struct Turnarounds {
    bool awaiting = false;  // a packet was written, its answer not yet read
    engine::Clock::time_point written_at{};
    engine::Clock::duration wire{};  // the packet's and a one-byte answer's
    std::vector<double> us;
    std::vector<double> write_us;  // WriteFile and FlushFileBuffers of each packet
    engine::WaitCounts at_write{};
    unsigned long long empty_reads = 0, empty_at_write = 0;
    int late = 0;
    int late_ms[kLateBins] = {};
    engine::WaitCounts late_waits{};
    unsigned long long late_empty_reads = 0;
};

// Counts the bytes that cross the line and times the answers, around the real Win32 device.
class TimingDevice : public serial::CountingDevice {
public:
    TimingDevice(std::unique_ptr<serial::Device> inner,
                 std::shared_ptr<serial::LineCounters> counters, Turnarounds& t)
        : CountingDevice(std::move(inner), std::move(counters)), t_(t) {}
    bool write(std::span<const std::uint8_t> bytes) override {
        const auto t0 = engine::Clock::now();
        const bool ok = CountingDevice::write(bytes);
        if (ok) {
            t_.awaiting = true;
            t_.written_at = t0;
            t_.wire = std::chrono::microseconds(96) * (bytes.size() + 1);
            t_.at_write = engine::ThreadWaitCounts();
            t_.empty_at_write = t_.empty_reads;
        }
        return ok;
    }
    bool drain() override {
        const bool ok = CountingDevice::drain();
        if (t_.awaiting)
            t_.write_us.push_back(
                std::chrono::duration<double, std::micro>(engine::Clock::now() - t_.written_at)
                    .count());
        return ok;
    }
    std::size_t read(std::span<std::uint8_t> buffer) override {
        const std::size_t n = CountingDevice::read(buffer);
        if (n == 0 && t_.awaiting) ++t_.empty_reads;
        if (n > 0 && t_.awaiting) {
            t_.awaiting = false;
            const auto took = engine::Clock::now() - t_.written_at;
            t_.us.push_back(std::chrono::duration<double, std::micro>(took).count());
            if (took > t_.wire + kLateAnswer) {
                const engine::WaitCounts& now = engine::ThreadWaitCounts();
                ++t_.late;
                const auto ms = std::size_t((took - t_.wire) / std::chrono::milliseconds(1));
                ++t_.late_ms[std::min(kLateBins - 1, ms)];
                t_.late_waits.input += now.input - t_.at_write.input;
                t_.late_waits.timer += now.timer - t_.at_write.timer;
                t_.late_waits.messages += now.messages - t_.at_write.messages;
                t_.late_waits.other += now.other - t_.at_write.other;
                t_.late_empty_reads += t_.empty_reads - t_.empty_at_write;
            }
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
        std::vector<double> w = turnarounds.write_us;
        std::sort(w.begin(), w.end());
        std::printf(
            "%-10s session %6.3f s   wire %6.3f s   ratio %5.2f   turn-around median %6.0f us  "
            "p90 %6.0f us  max %7.0f us (%zu packets)%s\n",
            name, s, wire, wire > 0 ? s / wire : 0, At(t, 0.5), At(t, 0.9), At(t, 1.0), t.size(),
            frontend.succeeded ? "" : "   FAILED");
        const engine::WaitCounts& lw = turnarounds.late_waits;
        std::printf(
            "%-10s write+flush median %5.0f us  p99 %6.0f us  max %6.0f us; %d answers late by "
            "over 4 ms, their waits ended by input %llu, timer %llu, messages %llu, other %llu, "
            "%llu reads found nothing\n",
            "", At(w, 0.5), At(w, 0.99), At(w, 1.0), turnarounds.late, lw.input, lw.timer,
            lw.messages, lw.other, turnarounds.late_empty_reads);
        std::printf("%-10s late answers by ms past the wire time:", "");
        for (std::size_t k = 0; k < kLateBins; ++k)
            if (turnarounds.late_ms[k] > 0) std::printf(" %zu:%d", k, turnarounds.late_ms[k]);
        std::printf("\n");
        for (int& k : turnarounds.late_ms) k = 0;
        turnarounds.late = 0;
        turnarounds.late_waits = {};
        turnarounds.late_empty_reads = 0;
        turnarounds.write_us.clear();
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
