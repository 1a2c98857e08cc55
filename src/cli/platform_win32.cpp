#include <io.h>
#include <windows.h>

#include <cstdio>

#include "cli/board_log.h"
#include "cli/console_mode.h"
#include "cli/platform.h"

namespace quillon::cli {
namespace {

constexpr int kDefaultColumns = 80;

std::atomic<int>* g_interrupts = nullptr;
int g_second_exit = 1;

BOOL WINAPI OnConsoleControl(DWORD type) {
    if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT) return FALSE;
    if (g_interrupts == nullptr) return FALSE;
    if (g_interrupts->fetch_add(1) + 1 >= 2) ExitProcess(static_cast<UINT>(g_second_exit));
    return TRUE;
}

std::string LastErrorText(DWORD code) {
    char text[256] = {};
    FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0,
                   text, sizeof text, nullptr);
    std::string s = text;
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r' || s.back() == ' ')) s.pop_back();
    return s;
}

class Win32AppendFile : public AppendFile {
public:
    explicit Win32AppendFile(HANDLE h) : h_(h) {}
    ~Win32AppendFile() override { CloseHandle(h_); }
    // The file is opened without delete sharing, so it cannot be removed while it is open.
    bool Append(std::string_view line, std::string& error) override {
        DWORD written = 0;
        if (!WriteFile(h_, line.data(), static_cast<DWORD>(line.size()), &written, nullptr) ||
            written != line.size()) {
            error = LastErrorText(GetLastError());
            return false;
        }
        if (!FlushFileBuffers(h_)) {
            error = LastErrorText(GetLastError());
            return false;
        }
        return true;
    }

private:
    HANDLE h_;
};

}  // namespace

// A console that cannot show escape codes (virtual-terminal processing refused, as on
// consoles before Windows 10) gets the plain lines of redirected output.
bool StdoutIsTerminal() {
    if (_isatty(_fileno(stdout)) == 0) return false;
    const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    return TurnOnEscapeCodes(
        {[out](std::uint32_t& mode) {
             DWORD m = 0;
             if (!GetConsoleMode(out, &m)) return false;
             mode = m;
             return true;
         },
         [out](std::uint32_t mode) { return SetConsoleMode(out, mode) != 0; }});
}

int TerminalColumns() {
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (GetConsoleScreenBufferInfo(GetStdHandle(STD_OUTPUT_HANDLE), &info))
        return info.srWindow.Right - info.srWindow.Left + 1;
    return kDefaultColumns;
}

void InstallInterruptHandler(std::atomic<int>& interrupts, int second_exit_code) {
    g_interrupts = &interrupts;
    g_second_exit = second_exit_code;
    SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}

// Windows does not say which program holds a port: the message says that one does.
PortCheck CheckPort(const std::string& device) {
    if (device.empty()) return {PortCheck::State::Missing, {}};
    const HANDLE h = CreateFileA(device.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                 OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        const DWORD err = GetLastError();
        if (err == ERROR_FILE_NOT_FOUND || err == ERROR_PATH_NOT_FOUND)
            return {PortCheck::State::Missing, {}};
        if (err == ERROR_ACCESS_DENIED || err == ERROR_SHARING_VIOLATION)
            return {PortCheck::State::Busy, "in use by another program"};
        return {PortCheck::State::Refused, LastErrorText(err)};
    }
    CloseHandle(h);
    return {};
}

std::unique_ptr<AppendFile> OpenAppendFile(const std::string& path, std::string& error) {
    const HANDLE h = CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr,
                                 OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        error = LastErrorText(GetLastError());
        return nullptr;
    }
    return std::make_unique<Win32AppendFile>(h);
}

std::tm UtcTime(std::time_t t) {
    std::tm tm{};
    gmtime_s(&tm, &t);
    return tm;
}

bool DevicePathsSupported() {
    return false;
}

std::shared_ptr<serial::Backend> MakePortBackend(std::function<std::string()>) {
    return serial::MakePlatformBackend();
}

}  // namespace quillon::cli
