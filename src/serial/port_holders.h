// Who else has a serial device open, found as fuser(1) finds it: the entries of
// /proc/<pid>/fd that are the same device. flock and TIOCEXCL keep out only programs that
// lock or that run unprivileged; a terminal program or a modem manager holding the port
// with a plain open would otherwise share the device's replies with us.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace quillon::serial {

struct PortHolder {
    int pid = 0;
    std::string program;  // the process's command name (/proc/<pid>/comm)
    friend bool operator==(const PortHolder&, const PortHolder&) = default;
};

// The other processes that hold `device` open, by pid. This process is not counted, nor
// a process at the far end of a pseudo-terminal (it holds the pty's master: it plays the
// device, like devsim). Only processes whose /proc entries can be read are seen (all of
// them for root, the user's own otherwise). Empty when the device does not exist.
std::vector<PortHolder> PortHolders(const std::string& device,
                                    const std::filesystem::path& proc = "/proc");

// "In use by minicom (pid 812)", several holders separated by ", ". The texts lead with
// what the user needs, since a status panel shows only their start.
std::string InUseText(const std::vector<PortHolder>& holders);

// Why an open of `device` was refused for lack of permission, and what to do about it:
// the group that owns the device, and that group membership takes effect at the next login.
std::string NoPermissionText(const std::string& device);

}  // namespace quillon::serial
