#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "cli/board_log.h"
#include "cli/platform.h"
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

std::string ProcessName(const std::string& pid) {
    std::string comm;
    std::ifstream("/proc/" + pid + "/comm") >> comm;
    return (comm.empty() ? std::string("a program") : comm) + " (pid " + pid + ")";
}

// "name (pid N)" for every other process that has `device` open; empty when none is found
// (another user's processes cannot be looked into).
std::string Holders(const std::string& device) {
    std::error_code ec;
    const std::filesystem::path target = std::filesystem::canonical(device, ec);
    if (ec) return {};
    std::string names;
    DIR* proc = ::opendir("/proc");
    if (proc == nullptr) return {};
    const std::string self = std::to_string(::getpid());
    while (dirent* entry = ::readdir(proc)) {
        const std::string pid = entry->d_name;
        if (pid.empty() || pid.find_first_not_of("0123456789") != std::string::npos || pid == self)
            continue;
        const std::filesystem::path fds = "/proc/" + pid + "/fd";
        bool holds = false;
        for (auto it = std::filesystem::directory_iterator(fds, ec);
             !ec && it != std::filesystem::directory_iterator() && !holds; it.increment(ec)) {
            std::error_code link_ec;
            holds = std::filesystem::read_symlink(it->path(), link_ec) == target;
        }
        ec.clear();
        if (!holds) continue;
        if (!names.empty()) names += ", ";
        names += ProcessName(pid);
    }
    ::closedir(proc);
    return names;
}

// The processes that hold a flock on `device`, from /proc/locks: lines such as
// "1: FLOCK  ADVISORY  WRITE 4711 00:19:4 0 EOF" (major:minor in hex, then the inode).
std::string LockHolders(const std::string& device) {
    struct stat st {};
    if (::stat(device.c_str(), &st) != 0) return {};
    char id[64];
    std::snprintf(id, sizeof id, "%02x:%02x:%lu", major(st.st_dev), minor(st.st_dev),
                  static_cast<unsigned long>(st.st_ino));
    std::ifstream locks("/proc/locks");
    std::string line, names;
    while (std::getline(locks, line)) {
        std::istringstream fields(line);
        std::string number, type, mode, access, pid, where;
        if (!(fields >> number >> type)) continue;
        if (type == "->") fields >> type;  // a waiting lock
        if (!(fields >> mode >> access >> pid >> where)) continue;
        if (type != "FLOCK" || where != id || pid == std::to_string(::getpid())) continue;
        if (!names.empty()) names += ", ";
        names += ProcessName(pid);
    }
    return names;
}

PortCheck Busy(const std::string& device) {
    // Who locked it says more than who merely has it open (devsim keeps its own pty open).
    std::string holders = LockHolders(device);
    if (holders.empty()) holders = Holders(device);
    return {PortCheck::State::Busy,
            "in use by " + (holders.empty() ? std::string("another program") : holders)};
}

class PosixAppendFile : public AppendFile {
public:
    explicit PosixAppendFile(int fd) : fd_(fd) {}
    ~PosixAppendFile() override { ::close(fd_); }
    bool Append(std::string_view line) override {
        const char* p = line.data();
        std::size_t left = line.size();
        while (left > 0) {
            const ssize_t n = ::write(fd_, p, left);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return false;
            p += n;
            left -= static_cast<std::size_t>(n);
        }
        return ::fsync(fd_) == 0;
    }

private:
    int fd_;
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
}

PortCheck CheckPort(const std::string& device) {
    if (device.empty()) return {PortCheck::State::Missing, {}};
    const int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const int err = errno;
        if (err == ENOENT || err == ENXIO || err == ENODEV || err == ENOTDIR)
            return {PortCheck::State::Missing, {}};
        if (err == EBUSY) return Busy(device);
        if (err == EACCES || err == EPERM) {
            struct stat st {};
            std::string why = "no permission to open it";
            if (::stat(device.c_str(), &st) == 0)
                if (const group* g = ::getgrgid(st.st_gid))
                    why += std::string("; members of the group \"") + g->gr_name + "\" may";
            return {PortCheck::State::Refused, why};
        }
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
