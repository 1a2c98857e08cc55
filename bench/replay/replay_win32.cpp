#include <windows.h>

#include <chrono>

#include "bench/replay/record.h"

namespace quillon::replay {
namespace {

// A device that has not answered within this long will not: a watchdog ends the replay.
constexpr DWORD kAnswerBoundMs = 10000;

struct Watch {
    HANDLE port;
    HANDLE done;
    volatile LONG exchanges = 0;  // finished so far
};

// Cancels the blocked read when no exchange finished within the bound, so that a broken
// record ends the replay instead of hanging it.
DWORD WINAPI Watchdog(void* p) {
    Watch* w = static_cast<Watch*>(p);
    LONG seen = -1;
    while (WaitForSingleObject(w->done, kAnswerBoundMs) == WAIT_TIMEOUT) {
        const LONG now = InterlockedCompareExchange(&w->exchanges, 0, 0);
        if (now == seen) CancelIoEx(w->port, nullptr);
        seen = now;
    }
    return 0;
}

}  // namespace

Result Replay(const std::string& device, const std::vector<Exchange>& exchanges) {
    Result result;
    const std::string name = "\\\\.\\" + device;
    const HANDLE h = CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                 OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        result.error = device + ": cannot open (error " + std::to_string(GetLastError()) + ")";
        return result;
    }
    DCB dcb;
    ZeroMemory(&dcb, sizeof dcb);
    dcb.DCBlength = sizeof dcb;
    GetCommState(h, &dcb);
    dcb.BaudRate = CBR_115200;
    dcb.fBinary = 1;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = TWOSTOPBITS;
    dcb.fOutxCtsFlow = dcb.fOutxDsrFlow = dcb.fOutX = dcb.fInX = 0;
    dcb.fDtrControl = DTR_CONTROL_DISABLE;
    dcb.fRtsControl = RTS_CONTROL_DISABLE;
    SetCommState(h, &dcb);
    // All zero: a read waits for every byte it asks for, a write for all of its bytes.
    COMMTIMEOUTS ct;
    ZeroMemory(&ct, sizeof ct);
    SetCommTimeouts(h, &ct);
    PurgeComm(h, PURGE_RXCLEAR | PURGE_TXCLEAR);

    Watch watch{h, CreateEventA(nullptr, TRUE, FALSE, nullptr)};
    const HANDLE watchdog = CreateThread(nullptr, 0, Watchdog, &watch, 0, nullptr);
    std::uint8_t buf[kMaxAnswer];
    const auto start = std::chrono::steady_clock::now();
    result.ok = true;
    for (const Exchange& e : exchanges) {
        DWORD wrote = 0, got = 0;
        if (!e.send.empty() &&
            (!WriteFile(h, e.send.data(), DWORD(e.send.size()), &wrote, nullptr) ||
             wrote != e.send.size())) {
            result.ok = false;
            break;
        }
        if (e.answer > 0 &&
            (!ReadFile(h, buf, DWORD(e.answer), &got, nullptr) || got != e.answer)) {
            result.ok = false;
            break;
        }
        result.bytes += e.send.size() + e.answer;
        InterlockedIncrement(&watch.exchanges);
    }
    result.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (!result.ok) result.error = device + ": the device did not take a packet or answer it";
    SetEvent(watch.done);
    if (watchdog) {
        WaitForSingleObject(watchdog, INFINITE);
        CloseHandle(watchdog);
    }
    CloseHandle(watch.done);
    CloseHandle(h);
    return result;
}

}  // namespace quillon::replay
