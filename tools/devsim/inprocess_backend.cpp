#include "tools/devsim/inprocess_backend.h"

namespace quillon::devsim {
namespace {

class InProcessDevice : public serial::BytesOnlyDevice {
public:
    InProcessDevice(std::shared_ptr<devsim::Device> device, InProcessBackend::ClockFn clock)
        : device_(std::move(device)), clock_(std::move(clock)) {}

    bool write(std::span<const std::uint8_t> bytes) override {
        device_->Receive(bytes, clock_());
        return true;
    }
    std::size_t read(std::span<std::uint8_t> buffer) override {
        return device_->TakeOutput(buffer, clock_());
    }
    // As on a pseudo-terminal: the line is gone once the device hung up and its last
    // answer has been read.
    bool gone() const override { return device_->hung_up() && !device_->NextOutputTime(); }

private:
    std::shared_ptr<devsim::Device> device_;
    InProcessBackend::ClockFn clock_;
};

}  // namespace

std::unique_ptr<serial::Device> InProcessBackend::open(const std::string& name) {
    if (name != device_name(port_)) return nullptr;
    ++opens_;
    return std::make_unique<InProcessDevice>(device_, clock_);
}

}  // namespace quillon::devsim
