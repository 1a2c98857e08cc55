// The Win32 backend: the calls and values the line needs (CreateFileA on "\\.\COM<n>", the
// device control block, SetupComm, COMMTIMEOUTS, EscapeCommFunction, WriteFile, ReadFile,
// FlushFileBuffers, CloseHandle).
//
// The port is opened overlapped. One one-byte ReadFile is kept pending on it at all times;
// its event is what a waiter blocks on (poll_handle), so the first byte of a reply ends
// the wait at once, whatever the system timer's resolution. read() takes that byte and
// whatever else is queued (ClearCommError's count), then starts the next pending read.
#include <windows.h>

#include <cstdio>

#include "serial/backend.h"
#include "serial/win32_ftdi.h"

namespace quillon::serial {
namespace {

// A read or write that the driver reported as pending but that must already be complete
// (the bytes are queued) is given this long before the device counts as gone.
constexpr DWORD kQueuedReadWaitMs = 1000;

class Win32Device : public Device {
public:
    Win32Device(HANDLE h, std::optional<int> latency_ms) : h_(h), latency_ms_(latency_ms) {
        read_event_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        io_event_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    }
    ~Win32Device() override {
        // The pending read refers to our buffer: cancel it and let it finish first.
        if (pending_) {
            CancelIo(h_);
            DWORD got = 0;
            GetOverlappedResult(h_, &pending_ov_, &got, TRUE);
        }
        CloseHandle(h_);
        if (read_event_) CloseHandle(read_event_);
        if (io_event_) CloseHandle(io_event_);
    }

    bool drain() override { return !gone_ && FlushFileBuffers(h_) != 0; }

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

    // The write time-outs are the channel's. Reads never need a time-out of their own: the
    // pending read waits without one, and read() asks only for bytes already queued. So
    // the read fields are all 0 ("wait for the bytes asked"), whatever the channel asks.
    bool set_timeouts(const Timeouts& t) override {
        COMMTIMEOUTS ct;
        ZeroMemory(&ct, sizeof ct);
        GetCommTimeouts(h_, &ct);  // read first, then every field is set
        ct.ReadIntervalTimeout = 0;
        ct.ReadTotalTimeoutMultiplier = 0;
        ct.ReadTotalTimeoutConstant = 0;
        ct.WriteTotalTimeoutMultiplier = t.write_multiplier;
        ct.WriteTotalTimeoutConstant = t.write_constant;
        if (!SetCommTimeouts(h_, &ct)) return false;
        arm();
        return true;
    }

    bool write(std::span<const std::uint8_t> bytes) override {
        if (gone_) return false;
        OVERLAPPED ov;
        ZeroMemory(&ov, sizeof ov);
        ov.hEvent = io_event_;  // ReadFile and WriteFile reset it when they start
        DWORD written = 0;
        if (!WriteFile(h_, bytes.data(), DWORD(bytes.size()), &written, &ov)) {
            if (GetLastError() != ERROR_IO_PENDING) return fail();
            // The driver ends the write by the write time-out at the latest.
            if (!GetOverlappedResult(h_, &ov, &written, TRUE)) return fail();
        }
        return written == bytes.size();  // short: the write time-out ran out
    }

    std::size_t read(std::span<std::uint8_t> buffer) override {
        if (gone_ || buffer.empty()) return 0;
        if (!pending_) arm();
        if (!pending_) return 0;
        DWORD got = 0;
        if (!Completed(got)) return 0;
        pending_ = false;
        std::size_t n = 0;
        if (got == 1) buffer[n++] = first_;
        n += read_queued(buffer.subspan(n));
        arm();
        return n;
    }

    bool escape(Escape command) override {
        // On a pseudo-terminal under Wine this answers ERROR_NOT_SUPPORTED; the channel
        // ignores the answer, as it does on a port without modem-control lines.
        return EscapeCommFunction(h_, static_cast<DWORD>(command)) != 0;
    }

    // The pending read's event. A kernel handle fits in 32 bits on 64-bit Windows too
    // (HandleToLong / LongToHandle), so it travels as the int the waiters take.
    int poll_handle() const override { return gone_ || !pending_ ? -1 : HandleToLong(read_event_); }
    bool gone() const override { return gone_; }
    // The FTDI driver's latency timer of this port, read at the open.
    std::optional<int> receive_latency_ms() const override { return latency_ms_; }

private:
    // Starts the pending one-byte read, unless one is running. A read that completes at
    // once leaves its byte for read() (the event is set).
    void arm() {
        if (pending_ || gone_ || !read_event_) return;
        ZeroMemory(&pending_ov_, sizeof pending_ov_);
        pending_ov_.hEvent = read_event_;
        DWORD got = 0;
        if (ReadFile(h_, &first_, 1, &got, &pending_ov_) || GetLastError() == ERROR_IO_PENDING) {
            pending_ = true;
            return;
        }
        fail();
    }

    // Whether the pending read has completed (its byte count in `got`). Wine completes an
    // overlapped read inside a call of the reading thread into its server, after the port
    // has input: a read that looks for the result before any such call finds the read
    // still pending although its byte has arrived, and its waiter would then sleep out the
    // rest of a 5 ms slice. So a pending read gets one zero-time wait on its event (the
    // call that lets it finish) before it counts as nothing arrived. On Windows that wait
    // is one more system call when nothing has arrived, never when something has.
    bool Completed(DWORD& got) {
        for (int look = 0; look < 2; ++look) {
            if (GetOverlappedResult(h_, &pending_ov_, &got, FALSE)) return true;
            if (GetLastError() != ERROR_IO_INCOMPLETE) {
                pending_ = false;
                fail();
                return false;
            }
            if (look == 0 && WaitForSingleObject(read_event_, 0) != WAIT_OBJECT_0) return false;
        }
        return false;
    }

    // Reads what the driver has queued, at most buffer.size() bytes, without waiting.
    std::size_t read_queued(std::span<std::uint8_t> buffer) {
        DWORD errors = 0;
        COMSTAT stat;
        ZeroMemory(&stat, sizeof stat);
        if (!ClearCommError(h_, &errors, &stat)) return 0;
        const DWORD want = stat.cbInQue < buffer.size() ? stat.cbInQue : DWORD(buffer.size());
        if (want == 0) return 0;
        OVERLAPPED ov;
        ZeroMemory(&ov, sizeof ov);
        ov.hEvent = io_event_;
        DWORD got = 0;
        if (!ReadFile(h_, buffer.data(), want, &got, &ov)) {
            if (GetLastError() != ERROR_IO_PENDING) return fail(), 0;
            // The bytes are queued, so this completes at once; a device that does not
            // answer within the bound is gone.
            if (WaitForSingleObject(io_event_, kQueuedReadWaitMs) != WAIT_OBJECT_0) {
                CancelIo(h_);
                GetOverlappedResult(h_, &ov, &got, TRUE);
                return fail(), std::size_t(got);
            }
            if (!GetOverlappedResult(h_, &ov, &got, FALSE)) return fail(), 0;
        }
        return got;
    }

    // A failed call on an open port: the device was unplugged or the far end closed.
    bool fail() {
        gone_ = true;
        return false;
    }

    HANDLE h_;
    HANDLE read_event_ = nullptr;  // manual reset, set when the pending read completes
    HANDLE io_event_ = nullptr;    // for the writes and the queued reads
    OVERLAPPED pending_ov_{};
    std::uint8_t first_ = 0;  // the pending read's byte
    bool pending_ = false;
    bool gone_ = false;
    std::optional<int> latency_ms_;
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
                                     OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
        if (h == INVALID_HANDLE_VALUE) return nullptr;
        // "\\.\COM5" -> "COM5", the name the driver's key gives.
        const std::size_t slash = name.find_last_of('\\');
        const std::string port = slash == std::string::npos ? name : name.substr(slash + 1);
        return std::make_unique<Win32Device>(h, FtdiLatencyTimerMs(port));
    }
};

static_assert(SETRTS == 3 && CLRRTS == 4 && SETDTR == 5 && CLRDTR == 6,
              "Escape carries the EscapeCommFunction codes");

}  // namespace

LatencyFix PlatformLatencyFix() {
    return LatencyFix::DeviceManager;
}

std::shared_ptr<Backend> MakePlatformBackend() {
    return std::make_shared<Win32Backend>();
}

}  // namespace quillon::serial
