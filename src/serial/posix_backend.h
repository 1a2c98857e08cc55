// The POSIX backend: termios raw, no flow control, reads that never block, writes drained
// within the write time-out, exclusive opens (TIOCEXCL plus flock), DTR/RTS through the
// modem-control ioctls where the device has them. An open asks the driver for low latency
// (tty_tuning.h) and a close gives the previous setting back.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "serial/backend.h"
#include "serial/tty_tuning.h"

namespace quillon::serial {

class PosixBackend : public Backend {
public:
    // `naming` gives the device path of a port number (empty: none); by default the Linux
    // COM-number scheme of ports.h with its default places.
    PosixBackend();
    explicit PosixBackend(std::function<std::string(int port)> naming);
    // `tuning`: the driver settings' seam; null leaves them alone.
    PosixBackend(std::function<std::string(int port)> naming, std::shared_ptr<TtyTuning> tuning);
    std::string device_name(int port) override;
    std::unique_ptr<Device> open(const std::string& path) override;
    std::string refusal() const override { return refusal_; }

private:
    std::function<std::string(int)> naming_;
    std::shared_ptr<TtyTuning> tuning_;
    std::string refusal_;
};

}  // namespace quillon::serial
