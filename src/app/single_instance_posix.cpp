#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "app/single_instance.h"

namespace quillon::app {
namespace {

std::string LockPath(const std::string& dir) {
    if (!dir.empty()) return dir + "/" + kInstanceGuardName;
    if (const char* run = std::getenv("XDG_RUNTIME_DIR"); run && *run)
        return std::string(run) + "/" + kInstanceGuardName;
    return "/tmp/" + std::string(kInstanceGuardName) + "." + std::to_string(getuid());
}

}  // namespace

SingleInstance::SingleInstance(const std::string& dir) {
    fd_ = ::open(LockPath(dir).c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd_ < 0) return;  // nowhere to lock: run rather than refuse to start
    int rc;
    do rc = ::flock(fd_, LOCK_EX | LOCK_NB);
    while (rc != 0 && errno == EINTR);
    if (rc != 0) {
        already_running_ = errno == EWOULDBLOCK;
        ::close(fd_);
        fd_ = -1;
    }
}

SingleInstance::~SingleInstance() {
    release();
}

void SingleInstance::release() {
    if (fd_ >= 0) {
        ::flock(fd_, LOCK_UN);
        ::close(fd_);
        fd_ = -1;
    }
}

}  // namespace quillon::app
