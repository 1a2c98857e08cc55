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
#include "ui/win32/win32_pump.h"
#include "wait/poll_pump.h"

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
    std::unique_ptr<engine::Pump> pump;
    if (ui_pump)
        pump = std::make_unique<ui::win32::Win32Pump>(handle);
    else
        pump = std::make_unique<engine::PollPump>(handle);
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

int main(int argc, char** argv) {
    const int com = argc > 1 ? std::atoi(argv[1]) : 5;
    const int iterations = argc > 2 ? std::max(10, std::atoi(argv[2])) : 200;
    if (com < 1 || com > 257) {
        std::fprintf(stderr, "COM number outside 1..257\n");
        return 2;
    }
    int failed = Measure("Win32Pump", com - 1, iterations, true);
    failed |= Measure("PollPump", com - 1, iterations, false);
    return failed;
}
