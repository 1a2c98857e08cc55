// Counts what crosses a line, around a real device: every call passes through. The command
// line logs the packets each board took; the benchmarks compare the bytes with the wire time.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>

#include "serial/backend.h"

namespace quillon::serial {

// The shortest checksummed packet (an EEPROM byte and its checksum): shorter writes are
// the identify byte, the entry command and the short pass-on frame.
inline constexpr std::size_t kShortestPacket = 6;

// Bytes and packets that crossed one line; read from another thread while it runs.
struct LineCounters {
    std::atomic<std::uint64_t> written{0}, read{0}, packets{0};
};

class CountingDevice : public Device {
public:
    CountingDevice(std::unique_ptr<Device> inner, std::shared_ptr<LineCounters> counters)
        : inner_(std::move(inner)), counters_(std::move(counters)) {}
    bool drain() override { return inner_->drain(); }
    LineResult set_line(const LineSettings& line) override { return inner_->set_line(line); }
    bool set_queues(std::uint32_t r, std::uint32_t t) override { return inner_->set_queues(r, t); }
    bool set_timeouts(const Timeouts& t) override { return inner_->set_timeouts(t); }
    bool write(std::span<const std::uint8_t> bytes) override {
        const bool ok = inner_->write(bytes);
        counters_->written += bytes.size();
        if (bytes.size() >= kShortestPacket) ++counters_->packets;
        return ok;
    }
    std::size_t read(std::span<std::uint8_t> buffer) override {
        const std::size_t n = inner_->read(buffer);
        counters_->read += n;
        return n;
    }
    bool escape(Escape e) override { return inner_->escape(e); }
    int poll_handle() const override { return inner_->poll_handle(); }
    std::optional<int> receive_latency_ms() const override { return inner_->receive_latency_ms(); }
    bool gone() const override { return inner_->gone(); }

private:
    std::unique_ptr<Device> inner_;
    std::shared_ptr<LineCounters> counters_;
};

// Opens the devices of another backend inside counting devices. `before_open`, when set,
// runs each time the channel asks which device a port names, before every open.
class CountingBackend : public Backend {
public:
    CountingBackend(std::shared_ptr<Backend> inner, std::shared_ptr<LineCounters> counters,
                    std::function<void()> before_open = {})
        : inner_(std::move(inner)),
          counters_(std::move(counters)),
          before_open_(std::move(before_open)) {}
    std::string device_name(int port) override {
        if (before_open_) before_open_();
        return inner_->device_name(port);
    }
    std::unique_ptr<Device> open(const std::string& name) override {
        auto device = inner_->open(name);
        if (!device) return nullptr;
        return wrap(std::move(device));
    }
    std::string refusal() const override { return inner_->refusal(); }

protected:
    // The counting device around an opened one; a benchmark that also times the packets
    // gives its own.
    virtual std::unique_ptr<Device> wrap(std::unique_ptr<Device> device) {
        return std::make_unique<CountingDevice>(std::move(device), counters_);
    }
    const std::shared_ptr<LineCounters>& counters() const { return counters_; }

private:
    std::shared_ptr<Backend> inner_;
    std::shared_ptr<LineCounters> counters_;
    std::function<void()> before_open_;
};

}  // namespace quillon::serial
