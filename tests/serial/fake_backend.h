// A recording fake of the serial backend: every platform call lands in one log, failures
// and arriving bytes are scripted. Shared by the channel and the port-selection tests.
#pragma once

#include <deque>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "serial/backend.h"

namespace quillon::serial::testing {

struct FakeScript {
    std::vector<std::string> log;
    bool open_fails = false;
    std::string refusal;    // what the backend says about a failed open
    bool exclusive = true;  // a second open of a device still open fails, like share mode 0
    LineResult line_result = LineResult::Ok;
    bool queues_fail = false;
    bool timeouts_fail = false;
    bool write_fails = false;
    std::deque<std::vector<std::uint8_t>> arriving;  // one entry per read call
    std::multiset<std::string> open_names;           // devices open now
    LineSettings last_line{};
    Timeouts last_timeouts{};
    std::vector<std::uint8_t> written;
    std::optional<int> receive_latency_ms;  // what an open device says of its adapter
};

class FakeDevice : public Device {
public:
    FakeDevice(std::shared_ptr<FakeScript> s, std::string name)
        : s_(std::move(s)), name_(std::move(name)) {
        s_->open_names.insert(name_);
    }
    ~FakeDevice() override {
        s_->open_names.erase(s_->open_names.find(name_));
        s_->log.push_back("close " + name_);
    }
    bool drain() override {
        s_->log.push_back("drain");
        return true;
    }
    LineResult set_line(const LineSettings& line) override {
        s_->log.push_back("set_line");
        s_->last_line = line;
        return s_->line_result;
    }
    bool set_queues(std::uint32_t rx, std::uint32_t tx) override {
        s_->log.push_back("queues " + std::to_string(rx) + " " + std::to_string(tx));
        return !s_->queues_fail;
    }
    bool set_timeouts(const Timeouts& t) override {
        s_->log.push_back("timeouts");
        s_->last_timeouts = t;
        return !s_->timeouts_fail;
    }
    bool write(std::span<const std::uint8_t> bytes) override {
        s_->log.push_back("write " + std::to_string(bytes.size()));
        if (s_->write_fails) return false;
        s_->written.insert(s_->written.end(), bytes.begin(), bytes.end());
        return true;
    }
    std::size_t read(std::span<std::uint8_t> buffer) override {
        s_->log.push_back("read " + std::to_string(buffer.size()));
        if (s_->arriving.empty()) return 0;
        auto& chunk = s_->arriving.front();
        const std::size_t n = std::min(chunk.size(), buffer.size());
        std::copy(chunk.begin(), chunk.begin() + std::ptrdiff_t(n), buffer.begin());
        chunk.erase(chunk.begin(), chunk.begin() + std::ptrdiff_t(n));
        if (chunk.empty()) s_->arriving.pop_front();
        return n;
    }
    bool escape(Escape c) override {
        static const char* names[] = {"", "", "", "SETRTS", "CLRRTS", "SETDTR", "CLRDTR"};
        s_->log.push_back(names[static_cast<int>(c)]);
        return true;
    }
    int poll_handle() const override { return 42; }
    std::optional<int> receive_latency_ms() const override { return s_->receive_latency_ms; }

private:
    std::shared_ptr<FakeScript> s_;
    std::string name_;
};

class FakeBackend : public Backend {
public:
    explicit FakeBackend(std::shared_ptr<FakeScript> s) : s_(std::move(s)) {}
    std::string device_name(int port) override { return "COM" + std::to_string(port + 1); }
    std::unique_ptr<Device> open(const std::string& name) override {
        s_->log.push_back("open " + name);
        if (s_->open_fails || (s_->exclusive && s_->open_names.count(name))) return nullptr;
        return std::make_unique<FakeDevice>(s_, name);
    }
    std::string refusal() const override { return s_->open_fails ? s_->refusal : ""; }

private:
    std::shared_ptr<FakeScript> s_;
};

}  // namespace quillon::serial::testing
