// The virtual device in the same process, behind the serial backend interface: the channel
// table opens it like any port, and its clock is whatever the caller gives (the fake
// pump's virtual clock in tests).
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "serial/backend.h"
#include "tools/devsim/device.h"

namespace quillon::devsim {

class InProcessBackend : public serial::Backend {
public:
    using ClockFn = std::function<Nanos()>;
    // Serves `device` under the name of port number `port`.
    InProcessBackend(std::shared_ptr<Device> device, int port, ClockFn clock)
        : device_(std::move(device)), port_(port), clock_(std::move(clock)) {}

    std::string device_name(int port) override {
        return port == port_ ? "devsim:" + std::to_string(port) : std::string();
    }
    std::unique_ptr<serial::Device> open(const std::string& name) override;

    int opens() const { return opens_; }

private:
    std::shared_ptr<Device> device_;
    int port_;
    ClockFn clock_;
    int opens_ = 0;
};

}  // namespace quillon::devsim
