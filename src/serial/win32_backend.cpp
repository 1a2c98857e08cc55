// The Win32 backend: the calls and values the line needs (CreateFileA on "\\.\COM<n>", the
// device control block, SetupComm, COMMTIMEOUTS, EscapeCommFunction, WriteFile, ReadFile,
// FlushFileBuffers, CloseHandle).
#include <windows.h>

#include <cstdio>

#include "serial/backend.h"

namespace quillon::serial {
namespace {

class Win32Device : public Device {
public:
    explicit Win32Device(HANDLE h) : h_(h) {}
    ~Win32Device() override { CloseHandle(h_); }

    bool drain() override { return FlushFileBuffers(h_) != 0; }

    LineResult set_line(const LineSettings& line) override {
        DCB dcb;
        ZeroMemory(&dcb, sizeof dcb);
        dcb.DCBlength = sizeof(DCB);  // 28
        if (!GetCommState(h_, &dcb)) return LineResult::ReadFailed;
        dcb.BaudRate = line.speed;
        dcb.fBinary = 1;
        dcb.fParity = 0;
        dcb.fOutxCtsFlow = 0;
        dcb.fOutxDsrFlow = 0;
        dcb.fDtrControl = DTR_CONTROL_DISABLE;
        dcb.fDsrSensitivity = 0;
        dcb.fTXContinueOnXoff = 0;
        dcb.fOutX = 0;
        dcb.fInX = 0;
        dcb.fErrorChar = 0;
        dcb.fNull = 0;
        dcb.fRtsControl = RTS_CONTROL_DISABLE;
        dcb.fAbortOnError = 0;
        dcb.ByteSize = line.data_bits;
        dcb.Parity = line.parity;
        dcb.StopBits = line.stop_bits;
        return SetCommState(h_, &dcb) ? LineResult::Ok : LineResult::Refused;
    }

    bool set_queues(std::uint32_t receive, std::uint32_t transmit) override {
        return SetupComm(h_, receive, transmit) != 0;
    }

    bool set_timeouts(const Timeouts& t) override {
        COMMTIMEOUTS ct;
        ZeroMemory(&ct, sizeof ct);
        GetCommTimeouts(h_, &ct);  // read first, then every field is set
        ct.ReadIntervalTimeout = t.read_interval;
        ct.ReadTotalTimeoutMultiplier = t.read_multiplier;
        ct.ReadTotalTimeoutConstant = t.read_constant;
        ct.WriteTotalTimeoutMultiplier = t.write_multiplier;
        ct.WriteTotalTimeoutConstant = t.write_constant;
        return SetCommTimeouts(h_, &ct) != 0;
    }

    bool write(std::span<const std::uint8_t> bytes) override {
        DWORD written = 0;
        if (!WriteFile(h_, bytes.data(), DWORD(bytes.size()), &written, nullptr)) return false;
        return written == bytes.size();  // short: the write time-out ran out
    }

    std::size_t read(std::span<std::uint8_t> buffer) override {
        DWORD got = 0;
        if (!ReadFile(h_, buffer.data(), DWORD(buffer.size()), &got, nullptr)) return 0;
        return got;
    }

    bool escape(Escape command) override {
        return EscapeCommFunction(h_, static_cast<DWORD>(command)) != 0;
    }

private:
    HANDLE h_;
};

class Win32Backend : public Backend {
public:
    std::string device_name(int port) override {
        char name[32];
        std::snprintf(name, sizeof name, "\\\\.\\COM%d", port + 1);
        return name;
    }

    std::unique_ptr<Device> open(const std::string& name) override {
        const HANDLE h = CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                     OPEN_EXISTING, 0, nullptr);
        if (h == INVALID_HANDLE_VALUE) return nullptr;
        return std::make_unique<Win32Device>(h);
    }
};

static_assert(SETRTS == 3 && CLRRTS == 4 && SETDTR == 5 && CLRDTR == 6,
              "Escape carries the EscapeCommFunction codes");

}  // namespace

std::shared_ptr<Backend> MakePlatformBackend() {
    return std::make_shared<Win32Backend>();
}

}  // namespace quillon::serial
