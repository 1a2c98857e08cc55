#include "serial/channel.h"

#include <array>
#include <thread>
#include <utility>

namespace quillon::serial {
namespace {

bool InRange(std::int32_t port) {
    return port >= 0 && port <= kHighestPortNumber;
}

}  // namespace

void SetTransmitDirection(bool transmitting, Device& device) {
    const bool raise = kDirectionPolarity == 1 ? transmitting : !transmitting;
    device.escape(raise ? Escape::SetRts : Escape::ClrRts);
}

ChannelTable::ChannelTable() : ChannelTable(MakePlatformBackend()) {}

ChannelTable::ChannelTable(std::shared_ptr<Backend> backend) : backend_(std::move(backend)) {}

ChannelTable::~ChannelTable() = default;

SerialChannel* ChannelTable::open_record(std::int32_t port) {
    if (!InRange(port)) return nullptr;
    SerialChannel& r = records_[port];
    return r.open == 1 && r.handle ? &r : nullptr;
}

bool ChannelTable::IsOpen(std::int32_t port) const {
    return InRange(port) && records_[port].open == 1 && records_[port].handle;
}

int ChannelTable::PollHandle(std::int32_t port) const {
    return IsOpen(port) ? records_[port].handle->poll_handle() : -1;
}

bool ChannelTable::LineGone(std::int32_t port) const {
    return IsOpen(port) && records_[port].handle->gone();
}

void ChannelTable::show(std::string_view text) {
    if (message_box) message_box(kErrorCaption, text);
}

void ChannelTable::wait(std::chrono::milliseconds ms) {
    if (sleep)
        sleep(ms);
    else
        std::this_thread::sleep_for(ms);
}

SerialChannel* ChannelTable::OpenChannel(std::int32_t port, std::uint32_t speed,
                                         std::uint8_t parity, std::uint8_t stop_bits,
                                         std::uint8_t data_bits, std::uint8_t echo_mode) {
    if (!InRange(port)) return nullptr;
    SerialChannel& r = records_[port];
    r.port_number = port;
    // An open always starts from a released device.
    if (r.open == 1) r.open = 0;
    r.handle.reset();

    r.refusal.clear();
    r.handle = backend_->open(backend_->device_name(port));
    auto fail = [&r] {
        r.open = 0;
        r.handle.reset();
        return nullptr;
    };
    if (!r.handle) {
        r.refusal = backend_->refusal();
        return fail();
    }
    Device& d = *r.handle;
    d.drain();
    switch (d.set_line(LineSettings{speed, parity, stop_bits, data_bits})) {
        case LineResult::Ok:
            break;
        case LineResult::ReadFailed:
            return fail();
        case LineResult::Refused:
            show(kConfigureFailed);
            return fail();
    }
    if (!d.set_queues(kReceiveQueue, kTransmitQueue)) return fail();
    if (!d.set_timeouts(Timeouts{})) {
        show(kTimeoutsFailed);
        return fail();
    }
    r.port_number = port;
    r.echo_mode = echo_mode;
    r.open = 1;
    return &r;
}

void ChannelTable::CloseChannel(std::int32_t port) {
    if (!InRange(port) || records_[port].open != 1) return;
    records_[port].open = 0;
    records_[port].handle.reset();
}

int ChannelTable::WriteChannel(std::int32_t port, std::span<const std::uint8_t> bytes) {
    SerialChannel* r = open_record(port);
    if (!r) return 0;
    Device& d = *r->handle;
    if (r->echo_mode) SetTransmitDirection(true, d);
    // The direction line stays raised after a failed write (left to the implementer).
    if (!d.write(bytes)) return 0;
    d.drain();
    if (!r->echo_mode) return 2;
    SetTransmitDirection(false, d);
    if (!kEchoDrain) return 2;

    std::array<std::uint8_t, kEchoScratch> scratch;
    std::size_t remaining = bytes.size();
    for (int tries = 0; remaining > 0 && tries < kEchoTries; ++tries) {
        wait(kEchoWait);
        const std::size_t want = remaining < scratch.size() ? remaining : scratch.size();
        const std::size_t got = d.read(std::span<std::uint8_t>(scratch.data(), want));
        remaining -= got < remaining ? got : remaining;
    }
    return 2;
}

std::uint32_t ChannelTable::ReadChannel(std::int32_t port, std::span<std::uint8_t> buffer) {
    SerialChannel* r = open_record(port);
    if (!r || buffer.empty()) return 0;
    const std::size_t n = r->handle->read(buffer);
    return static_cast<std::uint32_t>(n < buffer.size() ? n : buffer.size());
}

std::int16_t ChannelTable::FlushChannel(std::int16_t port) {
    SerialChannel* r = open_record(port);
    if (!r) return -2;
    r->handle->drain();
    return 0;
}

int ChannelTable::SetControlLines(std::int32_t port, bool drop) {
    SerialChannel* r = open_record(port);
    if (!r) return 0;
    Device& d = *r->handle;
    if (drop) {
        d.escape(Escape::ClrDtr);
        d.escape(Escape::ClrRts);
    } else {
        d.escape(Escape::SetDtr);
        d.escape(Escape::SetRts);
    }
    return 0;
}

}  // namespace quillon::serial
