#include <grp.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <fstream>
#include <set>

#include "serial/port_holders.h"

namespace quillon::serial {
namespace fs = std::filesystem;
namespace {

// Pseudo-terminal slaves (/dev/pts/N) have the majors 136..143; N = (major - 136) * 256 +
// minor.
constexpr unsigned kPtsFirstMajor = 136;
constexpr unsigned kPtsLastMajor = 143;
constexpr unsigned kMinorsPerMajor = 256;
// A process command name is at most 15 characters; a longer line is not a name.
constexpr std::size_t kCommLimit = 64;

bool SameDevice(const struct stat& a, const struct stat& b) {
    if (S_ISCHR(a.st_mode) && S_ISCHR(b.st_mode)) return a.st_rdev == b.st_rdev;
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

int PtyIndex(const struct stat& s) {
    if (!S_ISCHR(s.st_mode)) return -1;
    const unsigned major_number = major(s.st_rdev);
    if (major_number < kPtsFirstMajor || major_number > kPtsLastMajor) return -1;
    return static_cast<int>((major_number - kPtsFirstMajor) * kMinorsPerMajor + minor(s.st_rdev));
}

// Whether the process holds the master of pseudo-terminal `index` (its fdinfo names the
// pty by "tty-index:").
bool HoldsPtyMaster(const fs::path& pid_dir, int index) {
    std::error_code ec;
    for (fs::directory_iterator it(pid_dir / "fdinfo", ec), end; !ec && it != end;
         it.increment(ec)) {
        std::ifstream in(it->path());
        std::string line;
        while (std::getline(in, line))
            if (line.rfind("tty-index:", 0) == 0 && std::atoi(line.c_str() + 10) == index)
                return true;
    }
    return false;
}

std::string CommandName(const fs::path& pid_dir) {
    std::ifstream in(pid_dir / "comm");
    std::string name;
    std::getline(in, name);
    if (name.empty() || name.size() > kCommLimit) return "?";
    for (char& c : name)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
    return name;
}

bool AllDigits(const std::string& s) {
    if (s.empty()) return false;
    for (char c : s)
        if (c < '0' || c > '9') return false;
    return true;
}

}  // namespace

std::vector<PortHolder> PortHolders(const std::string& device, const fs::path& proc) {
    std::vector<PortHolder> out;
    struct stat target {};
    if (device.empty() || ::stat(device.c_str(), &target) != 0) return out;
    const int pty_index = PtyIndex(target);
    const std::string self = std::to_string(::getpid());
    std::error_code ec;
    for (fs::directory_iterator it(proc, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string pid = it->path().filename().string();
        if (!AllDigits(pid) || pid == self || pid.size() > 9) continue;
        bool holds = false;
        std::error_code fd_ec;  // a process that ends meanwhile or is not ours: passed over
        for (fs::directory_iterator fd(it->path() / "fd", fd_ec), fd_end;
             !fd_ec && fd != fd_end && !holds; fd.increment(fd_ec)) {
            struct stat s {};
            holds = ::stat(fd->path().c_str(), &s) == 0 && SameDevice(s, target);
        }
        if (!holds) continue;
        if (pty_index >= 0 && HoldsPtyMaster(it->path(), pty_index)) continue;
        out.push_back({std::atoi(pid.c_str()), CommandName(it->path())});
    }
    return out;
}

std::string InUseText(const std::vector<PortHolder>& holders) {
    std::string text = "In use by ";
    for (std::size_t i = 0; i < holders.size(); ++i) {
        if (i > 0) text += ", ";
        text += holders[i].program + " (pid " + std::to_string(holders[i].pid) + ")";
    }
    return text;
}

std::string NoPermissionText(const std::string& device) {
    std::string group;
    struct stat s {};
    if (::stat(device.c_str(), &s) == 0) {
        if (const struct group* g = ::getgrgid(s.st_gid)) group = g->gr_name;
        if (group.empty()) group = std::to_string(s.st_gid);
    }
    if (group.empty()) return "No permission (" + device + ")";
    return "No permission: join group " + group + ", then log in again (" + device + ")";
}

}  // namespace quillon::serial
