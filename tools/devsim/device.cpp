#include "tools/devsim/device.h"

#include <algorithm>
#include <cstdio>

#include "catalog/families.h"
#include "catalog/scramble.h"

namespace quillon::devsim {
namespace {

constexpr std::uint8_t kAck = 'K';
constexpr std::uint8_t kNak = 'N';
constexpr std::uint8_t kEntry = 0xCC;
constexpr std::uint8_t kEepromMark = 0x40;
constexpr std::size_t kEepromPacket = 6;  // 5 bytes and the checksum
// Pass-on frames: type 0x00 with 15 bytes ("528174639GhJkLm") and type 0x04 with none,
// each with a 16-bit sum. The first cannot be a program block: address 0x000F35 is not
// the start of a block.
constexpr std::uint8_t kFrame1Head[] = {0x00, 0x0F, '5'};
constexpr std::size_t kFrame1Length = 19;
constexpr std::uint8_t kFrame2Type = 0x04;
constexpr std::size_t kFrame2Length = 4;
constexpr std::size_t kNarrowHeader = 4;  // address (3) + length (1)
constexpr std::size_t kWideHeader = 5;    // address (3) + length (2)
constexpr std::size_t kExtendedLayout = 28;
constexpr std::int32_t kNarrowBlockMax = 255;  // longest block with a one-byte length

}  // namespace

std::uint32_t AddressUnitOf(std::uint8_t chip) {
    const catalog::ChipFamily* family = catalog::FamilyOf(chip);
    return family != nullptr ? static_cast<std::uint32_t>(family->unit) : 1;
}

bool HasWideLength(std::uint8_t chip) {
    const catalog::ChipFamily* family = catalog::FamilyOf(chip);
    return family != nullptr && family->block > kNarrowBlockMax;
}

Device::Device(Options options) : options_(std::move(options)) {}

void Device::Receive(std::span<const std::uint8_t> bytes, Nanos at) {
    for (std::uint8_t b : bytes) {
        if (hung_up_) return;
        Nanos done = at;
        if (options_.pace) {
            rx_free_ = std::max(rx_free_, at) + kByteTime;
            done = rx_free_;
        }
        ReceiveByte(b, done);
    }
}

std::size_t Device::TakeOutput(std::span<std::uint8_t> out, Nanos at) {
    const std::optional<Nanos> release = NextOutputTime();
    if (!release || at < *release) return 0;
    // An adapter hands over one buffer at a time.
    const std::size_t limit =
        options_.adapter_latency > Nanos{0} ? std::min(out.size(), kAdapterBuffer) : out.size();
    std::size_t n = 0;
    while (n < limit && !output_.empty() && output_.front().ready <= at) {
        out[n++] = output_.front().byte;
        output_.pop_front();
    }
    return n;
}

std::optional<Nanos> Device::NextOutputTime() const {
    if (output_.empty()) return std::nullopt;
    const Nanos first = output_.front().ready;
    if (options_.adapter_latency <= Nanos{0}) return first;
    const Nanos timer = first + options_.adapter_latency;
    if (output_.size() >= kAdapterBuffer) return std::min(timer, output_[kAdapterBuffer - 1].ready);
    return timer;
}

Turnaround Summarize(std::vector<Nanos> samples) {
    Turnaround t;
    t.count = samples.size();
    if (samples.empty()) return t;
    std::sort(samples.begin(), samples.end());
    // Nearest rank: the smallest sample with at least p of them at or below it.
    auto rank = [&samples](std::size_t percent) {
        const std::size_t r = (samples.size() * percent + 99) / 100;
        return samples[r == 0 ? 0 : r - 1];
    };
    t.median = rank(50);
    t.p90 = rank(90);
    t.p99 = rank(99);
    t.max = samples.back();
    for (const Nanos n : samples) {
        t.over_1ms += n > kLongTurnaround;
        t.over_4ms += n > kMissedWakeTurnaround;
    }
    return t;
}

void Device::Send(std::span<const std::uint8_t> bytes, Nanos at) {
    Nanos t = at + options_.answer_delay;
    for (std::uint8_t b : bytes) {
        if (options_.pace) {
            tx_free_ = std::max(tx_free_, t) + kByteTime;
            t = tx_free_;
        }
        output_.push_back({t, b});
    }
}

void Device::SendIdentification(Nanos at) {
    if (options_.nak_only) {
        Send(kNak, at);
        return;
    }
    std::vector<std::uint8_t> out;
    if (options_.version_form) {
        out = {'V', options_.bios, options_.chip, options_.print, options_.preparation, kAck};
    } else {
        out = {options_.chip, kAck};
    }
    const bool extended_version = options_.bios >= 8 && options_.bios <= 31;
    if (options_.extended && options_.version_form && extended_version) {
        std::vector<std::uint8_t> data(kExtendedLayout, 0);
        const std::size_t text = std::min<std::size_t>(options_.device_text.size(), 24);
        std::copy_n(options_.device_text.begin(), text, data.begin());
        data[24] = static_cast<std::uint8_t>(options_.window_start & 0xFF);
        data[25] = static_cast<std::uint8_t>(options_.window_start >> 8);
        data[26] = static_cast<std::uint8_t>(options_.window_extent & 0xFF);
        data[27] = static_cast<std::uint8_t>(options_.window_extent >> 8);
        const int announced = options_.ext_announced >= 0 ? options_.ext_announced : 28;
        const int sent = options_.ext_sent >= 0 ? options_.ext_sent : announced;
        data.resize(static_cast<std::size_t>(sent), 0x20);  // longer blocks carry blanks
        std::vector<std::uint8_t> block = {'R', static_cast<std::uint8_t>(announced), 0x00};
        block.insert(block.end(), data.begin(), data.end());
        block.push_back(kAck);
        Send(out, at);
        Send(block, at + options_.ext_delay);
        return;
    }
    Send(out, at);
}

void Device::ReceiveByte(std::uint8_t b, Nanos at) {
    if (packet_.empty()) {
        if (std::find(options_.accept_search.begin(), options_.accept_search.end(), b) !=
            options_.accept_search.end()) {
            ++stats_.identifies;
            eeprom_last_ = -1;
            stats_.search_bytes.push_back(b);
            if (stats_.identifies == options_.hang_up_at_identify) {
                hung_up_ = true;
                return;
            }
            SendIdentification(at);
            return;
        }
        if (b == 0xC2 || b == 0xC5 || b == 0xC6) {  // another loader's identify byte
            stats_.search_bytes.push_back(b);
            return;
        }
        if (b == kEntry) {
            ++stats_.entries;
            Send(kAck, at);
            return;
        }
    }
    packet_.push_back(b);
    const std::size_t expected = ExpectedLength();
    if (expected == 0) return;
    if (expected > kMaxPacket) {
        // Not a packet of ours: reject it and start over with the next byte.
        packet_.clear();
        ++stats_.checksum_errors;
        Send(kNak, at);
        return;
    }
    if (packet_.size() >= expected) HandlePacket(at);
}

std::size_t Device::ExpectedLength() const {
    const std::size_t n = packet_.size();
    if (packet_[0] == kEepromMark) return kEepromPacket;
    if (packet_[0] == kFrame2Type) return kFrame2Length;
    if (packet_[0] == kFrame1Head[0]) {
        if (n < 3) return 0;
        if (packet_[1] == kFrame1Head[1] && packet_[2] == kFrame1Head[2]) return kFrame1Length;
    }
    if (HasWideLength(options_.chip)) {
        if (n < kWideHeader) return 0;
        return kWideHeader + ((std::size_t{packet_[3]} << 8) | packet_[4]) + 1;
    }
    if (n < kNarrowHeader) return 0;
    return kNarrowHeader + packet_[3] + 1;
}

void Device::HandlePacket(Nanos at) {
    std::vector<std::uint8_t> p;
    p.swap(packet_);
    if (options_.log_packets) stats_.packet_log.push_back(p);
    if ((p[0] == kFrame1Head[0] && p.size() == kFrame1Length && p[1] == kFrame1Head[1]) ||
        (p[0] == kFrame2Type && p.size() == kFrame2Length)) {
        ++stats_.pass_on_frames;  // summed frames: no answer
        return;
    }
    const int number = ++stats_.packets;
    if (!options_.noise.empty()) Send(options_.noise, at);
    std::uint8_t sum = 0;
    for (std::uint8_t b : p) sum = static_cast<std::uint8_t>(sum + b);
    if (options_.ignore.Matches(number)) {
        ++stats_.ignored;
    } else if (sum != 0) {
        ++stats_.checksum_errors;
        Send(kNak, at);
    } else if (options_.reject.Matches(number)) {
        ++stats_.rejected;
        Send(kNak, at);
    } else {
        packet_ = std::move(p);
        StoreBlock();
        packet_.clear();
        Send(kAck, at);
    }
    if (options_.hang_up_after > 0 && number >= options_.hang_up_after) hung_up_ = true;
}

void Device::StoreBlock() {
    const std::vector<std::uint8_t>& p = packet_;
    const std::uint8_t flag = options_.scrambled ? catalog::CatalogScrambled : 0;
    if (p[0] == kEepromMark) {
        const std::uint8_t key =
            options_.eeprom_scrambled ? catalog::ScrambleKey(p[1], catalog::CatalogScrambled) : 0;
        std::int64_t address = (eeprom_last_ + 1) & ~std::int64_t{0xFF};
        address |= p[1];
        if (address <= eeprom_last_) address += 0x100;
        eeprom_last_ = address;
        eeprom_[static_cast<std::uint32_t>(address)] = static_cast<std::uint8_t>(p[2] ^ key);
        return;
    }
    const std::uint32_t address = (std::uint32_t{p[0]} << 16) | (std::uint32_t{p[1]} << 8) | p[2];
    const std::size_t header = HasWideLength(options_.chip) ? kWideHeader : kNarrowHeader;
    const std::uint32_t unit = AddressUnitOf(options_.chip);
    const std::uint8_t key = catalog::BlockKey(address, flag);
    for (std::size_t i = header; i + 1 < p.size(); ++i)
        flash_[address * unit + static_cast<std::uint32_t>(i - header)] =
            static_cast<std::uint8_t>(p[i] ^ key);
}

void WriteIntelHex(std::ostream& out, const std::map<std::uint32_t, std::uint8_t>& image) {
    constexpr std::size_t kRecordBytes = 16;
    auto record = [&out](std::uint8_t type, std::uint16_t address,
                         const std::vector<std::uint8_t>& data) {
        std::uint8_t sum =
            static_cast<std::uint8_t>(data.size() + (address >> 8) + (address & 0xFF) + type);
        char head[16];
        std::snprintf(head, sizeof head, ":%02X%04X%02X", static_cast<unsigned>(data.size()),
                      address, type);
        out << head;
        for (std::uint8_t b : data) {
            char hex[3];
            std::snprintf(hex, sizeof hex, "%02X", b);
            out << hex;
            sum = static_cast<std::uint8_t>(sum + b);
        }
        char tail[8];
        std::snprintf(tail, sizeof tail, "%02X\n", static_cast<std::uint8_t>(0u - sum));
        out << tail;
    };
    std::uint32_t upper = 0;
    auto it = image.begin();
    while (it != image.end()) {
        const std::uint32_t start = it->first;
        if ((start >> 16) != upper) {
            upper = start >> 16;
            record(
                0x04, 0,
                {static_cast<std::uint8_t>(upper >> 8), static_cast<std::uint8_t>(upper & 0xFF)});
        }
        std::vector<std::uint8_t> data;
        std::uint32_t next = start;
        while (it != image.end() && it->first == next && data.size() < kRecordBytes &&
               (next >> 16) == upper) {
            data.push_back(it->second);
            ++it;
            ++next;
        }
        record(0x00, static_cast<std::uint16_t>(start & 0xFFFF), data);
    }
    record(0x01, 0, {});
}

std::optional<std::map<std::uint32_t, std::uint8_t>> ReadIntelHex(std::istream& in) {
    std::map<std::uint32_t, std::uint8_t> image;
    std::uint32_t upper = 0;
    std::string line;
    auto byte_at = [&line](std::size_t pos) -> int {
        if (pos + 2 > line.size()) return -1;
        unsigned v = 0;
        if (std::sscanf(line.c_str() + pos, "%2x", &v) != 1) return -1;
        return static_cast<int>(v);
    };
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty()) continue;
        if (line[0] != ':' || line.size() < 11) return std::nullopt;
        const int count = byte_at(1);
        if (count < 0 || line.size() != 11 + 2 * static_cast<std::size_t>(count))
            return std::nullopt;
        std::uint8_t sum = 0;
        std::vector<std::uint8_t> bytes;
        for (std::size_t pos = 1; pos + 1 < line.size(); pos += 2) {
            const int b = byte_at(pos);
            if (b < 0) return std::nullopt;
            bytes.push_back(static_cast<std::uint8_t>(b));
            sum = static_cast<std::uint8_t>(sum + b);
        }
        if (sum != 0) return std::nullopt;
        const std::uint32_t address = (std::uint32_t{bytes[1]} << 8) | bytes[2];
        switch (bytes[3]) {
            case 0x00:
                for (int i = 0; i < count; ++i)
                    image[(upper << 16) + address + static_cast<std::uint32_t>(i)] =
                        bytes[4 + static_cast<std::size_t>(i)];
                break;
            case 0x01:
                return image;
            case 0x04:
                if (count != 2) return std::nullopt;
                upper = (std::uint32_t{bytes[4]} << 8) | bytes[5];
                break;
            default:
                return std::nullopt;
        }
    }
    return std::nullopt;  // no end-of-file record
}

}  // namespace quillon::devsim
