// The device on a pseudo-terminal: the line, the stop signals and the loop that moves bytes
// between the host and the device on the real clock.
#pragma once

#include <signal.h>

#include <string>

#include "tools/devsim/device.h"
#include "tools/devsim/report.h"

namespace quillon::devsim {

// The pseudo-terminal the device serves: the host opens `path`, devsim keeps both ends.
struct Pty {
    int master = -1;
    int slave = -1;
    std::string path;
};

// Opens a raw pseudo-terminal with a non-blocking master. Says why on stderr and returns
// false when it cannot.
bool OpenPty(Pty& pty);
void ClosePty(Pty& pty);

// Makes `link` a symbolic link to `target` (replacing an earlier one; the caller checked
// that nothing else stands there). Says why on stderr and returns false when it cannot.
bool MakeLink(const std::string& link, const std::string& target);
// Removes `link` if it still points at `target`: a later devsim may have taken it over.
void RemoveOwnLink(const std::string& link, const std::string& target);

// SIGTERM, SIGINT and SIGHUP ask the loop to stop; they are blocked but while it waits.
// SIGPIPE is ignored: a caller that closed its end of stdout must not end devsim before
// it writes its HEX files. Returns the signal mask to wait with.
sigset_t StopOnSignals();

// Serves `device` on `pty` until a stop signal arrives or the device has hung up and the
// host has taken its last bytes; `timing` gathers what the device sees of the host and
// `exchanges` what it sent.
void Serve(const Pty& pty, Device& device, const sigset_t& wait_mask, Timing& timing,
           Exchanges& exchanges);

}  // namespace quillon::devsim
