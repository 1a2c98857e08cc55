// Reply latency of the Windows waits against the devsim program on a COM port (under Wine:
// a pseudo-terminal mapped to $WINEPREFIX/dosdevices/com<n>). SendPacket writes an EEPROM
// packet, devsim answers 'K', and the time until SendPacket returns is measured with the
// Win32 pump (message queue included) and with the headless pump. Prints the median and the
// 90th percentile in microseconds. Usage: reply_latency_win32 [COM number] [iterations]
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include "bench/common/eeprom_round_trip.h"
#include "bench/common/silent_frontend.h"
#include "bench/wine/wine_bench.h"

namespace {

using namespace quillon;

int Measure(const char* name, int port, int iterations, bool ui_pump) {
    serial::ChannelTable channels;
    serial::PortSelection ports;
    ports.selected_port = static_cast<std::int16_t>(port);
    if (!channels.OpenChannel(port, 115200, 0, 2, 8, 0)) {
        std::fprintf(stderr, "cannot open COM%d\n", port + 1);
        return 1;
    }
    auto handle = [&channels, port] { return channels.PollHandle(port); };
    const std::unique_ptr<engine::Pump> pump = bench::MakePump(ui_pump, handle);
    bench::SilentFrontend frontend;
    engine::Engine e(frontend, channels, ports, *pump);
    std::vector<double> micros;
    int failures = 0;
    for (int i = 0; i < iterations; ++i) {
        const bench::RoundTrip trip = bench::TimeEepromPacket(e);
        if (!trip.ok) ++failures;
        micros.push_back(trip.us);
    }
    channels.CloseChannel(port);
    std::sort(micros.begin(), micros.end());
    std::printf("%-10s median %8.0f us   p90 %8.0f us   failures %d of %d\n", name,
                micros[micros.size() / 2], micros[micros.size() * 9 / 10], failures, iterations);
    return failures == 0 ? 0 : 1;
}

}  // namespace

constexpr int kDefaultIterations = 200;  // round trips per pump
constexpr int kMinIterations = 10;

int main(int argc, char** argv) {
    return quillon::bench::MeasureBothPumps(argc, argv, kDefaultIterations, kMinIterations,
                                            Measure);
}
