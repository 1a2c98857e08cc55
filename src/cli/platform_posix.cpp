#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "cli/board_log.h"
#include "cli/platform.h"
#include "serial/port_holders.h"
#include "serial/posix_backend.h"

namespace quillon::cli {
namespace {

constexpr int kDefaultColumns = 80;
constexpr mode_t kLogMode = 0644;

std::atomic<int>* g_interrupts = nullptr;
int g_second_exit = 1;

void OnInterrupt(int) {
    if (g_interrupts == nullptr) return;
    // Only lock-free atomics and _exit here: both are safe in a signal handler.
    if (g_interrupts->fetch_add(1) + 1 >= 2) _exit(g_second_exit);
}

PortCheck Busy(const std::string& device) {
    const auto holders = serial::PortHolders(device);
    // Another user's processes cannot be looked into.
    return {PortCheck::State::Busy, holders.empty() ? std::string("In use by another program")
                                                    : serial::InUseText(holders)};
}

class PosixAppendFile : public AppendFile {
public:
    explicit PosixAppendFile(int fd) : fd_(fd) {}
    ~PosixAppendFile() override { ::close(fd_); }
    bool Append(std::string_view line, std::string& error) override {
        struct stat before {};
        if (::fstat(fd_, &before) != 0) return Failed(error, std::strerror(errno));
        // A removed file still takes lines through the open descriptor, into nowhere.
        if (before.st_nlink == 0) return Failed(error, "the log file was removed");
        std::string text;
        if (broken_) text = "\n";  // a half line that could not be taken back ends here
        text += line;
        const char* p = text.data();
        std::size_t left = text.size();
        while (left > 0) {
            const ssize_t n = ::write(fd_, p, left);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) {
                const std::string why = n < 0 ? std::strerror(errno) : "nothing written";
                // Whatever part went in is cut off again, so no half line is left for the
                // next line to extend.
                if (left < text.size())
                    broken_ = !S_ISREG(before.st_mode) || ::ftruncate(fd_, before.st_size) != 0;
                return Failed(error, why);
            }
            p += n;
            left -= static_cast<std::size_t>(n);
        }
        broken_ = false;
        // Devices and pipes (/dev/null) have nothing to force to a disk.
        if (::fsync(fd_) != 0 && errno != EINVAL && errno != EROFS)
            return Failed(error, std::strerror(errno));
        return true;
    }

private:
    static bool Failed(std::string& error, std::string why) {
        error = std::move(why);
        return false;
    }
    int fd_;
    bool broken_ = false;
};

}  // namespace

bool StdoutIsTerminal() {
    return ::isatty(STDOUT_FILENO) == 1;
}

int TerminalColumns() {
    winsize w{};
    if (::ioctl(STDOUT_FILENO, TIOCGWINSZ, &w) == 0 && w.ws_col > 0) return w.ws_col;
    return kDefaultColumns;
}

void InstallInterruptHandler(std::atomic<int>& interrupts, int second_exit_code) {
    g_interrupts = &interrupts;
    g_second_exit = second_exit_code;
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
    // A log beyond the file size limit fails its write (and says so) instead of ending
    // the program with the boards in the middle.
    ::signal(SIGXFSZ, SIG_IGN);
}

PortCheck CheckPort(const std::string& device) {
    if (device.empty()) return {PortCheck::State::Missing, {}};
    // A program holding the device with a plain open takes no lock, yet it would share the
    // board's replies: it counts as busy as much as one that locked it.
    if (!serial::PortHolders(device).empty()) return Busy(device);
    const int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const int err = errno;
        if (err == ENOENT || err == ENXIO || err == ENODEV || err == ENOTDIR)
            return {PortCheck::State::Missing, {}};
        if (err == EBUSY) return Busy(device);
        if (err == EACCES || err == EPERM)
            return {PortCheck::State::Refused, serial::NoPermissionText(device)};
        return {PortCheck::State::Refused, std::strerror(err)};
    }
    PortCheck result;
    if (!::isatty(fd)) {
        result = {PortCheck::State::Refused, "not a serial device"};
    } else if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        result = Busy(device);
    } else {
        ::flock(fd, LOCK_UN);
    }
    ::close(fd);
    return result;
}

std::unique_ptr<AppendFile> OpenAppendFile(const std::string& path, std::string& error) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, kLogMode);
    if (fd < 0) {
        error = std::strerror(errno);
        return nullptr;
    }
    return std::make_unique<PosixAppendFile>(fd);
}

std::tm UtcTime(std::time_t t) {
    std::tm tm{};
    ::gmtime_r(&t, &tm);
    return tm;
}

bool DevicePathsSupported() {
    return true;
}

std::shared_ptr<serial::Backend> MakePortBackend(std::function<std::string()> device) {
    return std::make_shared<serial::PosixBackend>(
        [device = std::move(device)](int) { return device ? device() : std::string(); });
}

}  // namespace quillon::cli
