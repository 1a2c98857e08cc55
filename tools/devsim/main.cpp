// devsim: a virtual bootloader device on the other end of a pseudo-terminal. It prints the
// device path it serves ("devsim: /dev/pts/N") and can link it to a fixed path, so that
// Quillon can be pointed at it like at a board. See docs/devsim.md.
#include <fcntl.h>
#include <getopt.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "tools/devsim/device.h"

namespace {

using quillon::devsim::Device;
using quillon::devsim::Nanos;
using quillon::devsim::Options;

volatile sig_atomic_t g_stop = 0;
void OnSignal(int) {
    g_stop = 1;
}

constexpr std::size_t kIoChunk = 4096;
constexpr std::uint32_t kEepromHexBase = 0xF00000;
constexpr int kHangUpGraceMs = 2000;    // at most this long for the host to read
constexpr int kHangUpSettleUs = 50000;  // 50 ms for the last bytes to reach its queue
constexpr int kMaxLatencyMs = 255;      // the adapters' latency timer is one byte

// What the device sees of the host's speed, measured on the real clock.
struct Timing {
    // Turnaround: from the last byte of an answer handed to the host to the first byte
    // of what the host sends next.
    bool answered = false;  // an answer is out and nothing has come since
    Nanos answered_at{0};
    std::vector<Nanos> turnaround;
    // The latest session: from the first byte after an identification's answer (the entry
    // command or the first packet) to the last answer, and the bytes moved meanwhile.
    int identifies = 0;  // identifications answered when the session began
    bool started = false;
    Nanos start{0};
    Nanos end{0};
    std::uint64_t bytes = 0;

    void Received(std::size_t n, Nanos at, int identifies_so_far) {
        if (answered) turnaround.push_back(at - answered_at);
        answered = false;
        if (identifies_so_far > 0 && identifies_so_far != identifies) {
            identifies = identifies_so_far;
            started = true;
            start = at;
            bytes = 0;
        }
        bytes += n;
    }
    void Sent(std::size_t n, Nanos at, bool all_out) {
        if (all_out) {
            answered = true;
            answered_at = at;
        }
        end = at;
        bytes += n;
    }
    void Print() const {
        const quillon::devsim::Turnaround t = quillon::devsim::Summarize(turnaround);
        auto us = [](Nanos n) { return static_cast<long long>(n.count() / 1000); };
        std::printf(
            "devsim: turnaround %zu: median %lld us, p90 %lld us, p99 %lld us, max %lld us\n",
            t.count, us(t.median), us(t.p90), us(t.p99), us(t.max));
        if (started && end > start && bytes > 0) {
            const double elapsed = std::chrono::duration<double>(end - start).count();
            const double wire = std::chrono::duration<double>(quillon::devsim::kByteTime).count() *
                                static_cast<double>(bytes);
            std::printf("devsim: session %.3f s, %llu bytes = %.3f s on the wire: %.3f x\n",
                        elapsed, static_cast<unsigned long long>(bytes), wire, elapsed / wire);
        }
        std::fflush(stdout);
    }
};

void Usage() {
    std::fputs(
        "usage: devsim [options]\n"
        "  --chip HEX            chip code (default 48, PIC18F26K80)\n"
        "  --bare                identify with the bare chip code (no version)\n"
        "  --bios N --print N --prep N   version identification (defaults 7, 16, 3)\n"
        "  --nak-only            answer the identify byte with 'N' only\n"
        "  --accept HEX          identify byte to answer (repeat; default C2, C5, C6)\n"
        "  --ext-text TEXT       send an extended block with this device text (bios 8..31)\n"
        "  --window START,EXTENT protected window in the extended block\n"
        "  --ext-announce N --ext-send N   length byte / data bytes of the extended block\n"
        "  --ext-delay-ms N      send the extended block N ms after the identification\n"
        "  --reject-every N --reject-first K --reject-from M   answer 'N' to those packets\n"
        "  --ignore-every N --ignore-first K --ignore-from M   do not answer those packets\n"
        "  --ignore-at M         do not answer packet M (only that one)\n"
        "  --hang-up-after M     close the line after M packets\n"
        "  --hang-up-at-identify N   close the line at the Nth identify byte, unanswered\n"
        "  --noise HEX[,HEX...]  send these bytes before every answer to a packet\n"
        "  --delay-us N          wait N microseconds before each answer\n"
        "  --pace                take the 115200 8N2 wire time for every byte\n"
        "  --latency-ms N        hold answers N ms like a USB adapter's latency timer\n"
        "  --plain               do not unscramble program blocks\n"
        "  --eeprom-scrambled    unscramble EEPROM bytes too (key of the index's low byte)\n"
        "  --link PATH           make PATH a symbolic link to the device\n"
        "  --flash-hex PATH --eeprom-hex PATH   Intel HEX written when devsim ends\n"
        "  --hex PATH            flash and EEPROM in one Intel HEX, EEPROM at 0xF00000\n",
        stderr);
}

// Limits of the counting options: packet numbers and delays beyond these are typing errors.
constexpr long kMaxCount = 1000000;
constexpr long kMaxDelayMs = 60000;
constexpr long kMaxDelayUs = kMaxDelayMs * 1000;
constexpr long kMaxExtSend = 4096;

[[noreturn]] void Refuse(const char* what, const char* text) {
    std::fprintf(stderr, "devsim: %s: %s\n", what, text);
    std::exit(2);
}

// A whole number in [min, max] and nothing else (C notation with base 0).
long Number(const char* text, long min, long max, int base = 0) {
    char* end = nullptr;
    errno = 0;
    const long v = std::strtol(text, &end, base);
    if (errno != 0 || end == text || *end != '\0') Refuse("not a number", text);
    if (v < min || v > max) {
        char range[64];
        std::snprintf(range, sizeof range, "out of range %ld..%ld", min, max);
        Refuse(range, text);
    }
    return v;
}

int Count(const char* text) {
    return static_cast<int>(Number(text, 0, kMaxCount));
}

std::uint8_t Byte(const char* text, int base = 0) {
    return static_cast<std::uint8_t>(Number(text, 0, 255, base));
}

// "A,B" as two numbers in [0, 0xFFFF].
bool Pair(const char* text, std::uint16_t& a, std::uint16_t& b) {
    const char* comma = std::strchr(text, ',');
    if (comma == nullptr) return false;
    const std::string first(text, comma);
    a = static_cast<std::uint16_t>(Number(first.c_str(), 0, 0xFFFF));
    b = static_cast<std::uint16_t>(Number(comma + 1, 0, 0xFFFF));
    return true;
}

// "HEX,HEX,..." as bytes.
std::vector<std::uint8_t> ByteList(const char* text) {
    std::vector<std::uint8_t> out;
    std::string rest = text;
    for (std::size_t at = 0;;) {
        const std::size_t comma = rest.find(',', at);
        const std::string one = rest.substr(at, comma == std::string::npos ? comma : comma - at);
        out.push_back(Byte(one.c_str(), 16));
        if (comma == std::string::npos) return out;
        at = comma + 1;
    }
}

// Writes the image; says why on stderr when the file cannot be written completely.
bool WriteHex(const std::string& path, const std::map<std::uint32_t, std::uint8_t>& image) {
    if (path.empty()) return true;
    std::ofstream out(path, std::ios::trunc);
    if (!out) {
        std::fprintf(stderr, "devsim: cannot create %s: %s\n", path.c_str(), std::strerror(errno));
        return false;
    }
    quillon::devsim::WriteIntelHex(out, image);
    out.close();  // the last bytes reach the file (or fail) only here
    if (!out) {
        std::fprintf(stderr, "devsim: cannot write %s\n", path.c_str());
        return false;
    }
    return true;
}

// PATH may be replaced only when it is nothing yet or a symbolic link (an earlier devsim's).
bool LinkPathFree(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) return errno == ENOENT;
    return S_ISLNK(st.st_mode);
}

// Whether PATH is still the link to `target` that this devsim made.
bool IsOurLink(const std::string& path, const char* target) {
    char buf[4096];
    const ssize_t n = ::readlink(path.c_str(), buf, sizeof buf - 1);
    if (n < 0) return false;
    buf[n] = '\0';
    return std::strcmp(buf, target) == 0;
}

}  // namespace

int main(int argc, char** argv) {
    Options o;
    std::string link_path, flash_hex, eeprom_hex, combined_hex;
    bool accept_given = false;
    enum {
        kChip = 256,
        kBare,
        kBios,
        kPrint,
        kPrep,
        kNakOnly,
        kAccept,
        kExtText,
        kWindow,
        kExtAnnounce,
        kExtSend,
        kExtDelay,
        kRejectEvery,
        kRejectFirst,
        kRejectFrom,
        kIgnoreEvery,
        kIgnoreFirst,
        kIgnoreFrom,
        kIgnoreAt,
        kHangUp,
        kHangUpAtIdentify,
        kNoise,
        kDelay,
        kPace,
        kLatency,
        kPlain,
        kEepromScrambled,
        kLink,
        kFlashHex,
        kHex,
        kEepromHex,
        kHelp
    };
    static const option longs[] = {{"chip", 1, nullptr, kChip},
                                   {"bare", 0, nullptr, kBare},
                                   {"bios", 1, nullptr, kBios},
                                   {"print", 1, nullptr, kPrint},
                                   {"prep", 1, nullptr, kPrep},
                                   {"nak-only", 0, nullptr, kNakOnly},
                                   {"accept", 1, nullptr, kAccept},
                                   {"ext-text", 1, nullptr, kExtText},
                                   {"window", 1, nullptr, kWindow},
                                   {"ext-announce", 1, nullptr, kExtAnnounce},
                                   {"ext-send", 1, nullptr, kExtSend},
                                   {"ext-delay-ms", 1, nullptr, kExtDelay},
                                   {"reject-every", 1, nullptr, kRejectEvery},
                                   {"reject-first", 1, nullptr, kRejectFirst},
                                   {"reject-from", 1, nullptr, kRejectFrom},
                                   {"ignore-every", 1, nullptr, kIgnoreEvery},
                                   {"ignore-first", 1, nullptr, kIgnoreFirst},
                                   {"ignore-from", 1, nullptr, kIgnoreFrom},
                                   {"ignore-at", 1, nullptr, kIgnoreAt},
                                   {"hang-up-after", 1, nullptr, kHangUp},
                                   {"hang-up-at-identify", 1, nullptr, kHangUpAtIdentify},
                                   {"noise", 1, nullptr, kNoise},
                                   {"delay-us", 1, nullptr, kDelay},
                                   {"pace", 0, nullptr, kPace},
                                   {"latency-ms", 1, nullptr, kLatency},
                                   {"plain", 0, nullptr, kPlain},
                                   {"eeprom-scrambled", 0, nullptr, kEepromScrambled},
                                   {"link", 1, nullptr, kLink},
                                   {"flash-hex", 1, nullptr, kFlashHex},
                                   {"hex", 1, nullptr, kHex},
                                   {"eeprom-hex", 1, nullptr, kEepromHex},
                                   {"help", 0, nullptr, kHelp},
                                   {nullptr, 0, nullptr, 0}};
    for (int c; (c = getopt_long(argc, argv, "", longs, nullptr)) != -1;) {
        switch (c) {
            case kChip:
                o.chip = Byte(optarg, 16);
                break;
            case kBare:
                o.version_form = false;
                break;
            case kBios:
                o.bios = Byte(optarg);
                break;
            case kPrint:
                o.print = Byte(optarg);
                break;
            case kPrep:
                o.preparation = Byte(optarg);
                break;
            case kNakOnly:
                o.nak_only = true;
                break;
            case kAccept:
                if (!accept_given) o.accept_search.clear();
                accept_given = true;
                o.accept_search.push_back(Byte(optarg, 16));
                break;
            case kExtText:
                o.extended = true;
                o.device_text = optarg;
                break;
            case kWindow:
                if (!Pair(optarg, o.window_start, o.window_extent))
                    Refuse("--window wants START,EXTENT", optarg);
                o.extended = true;
                break;
            case kExtAnnounce:
                o.extended = true;
                o.ext_announced = Byte(optarg);
                break;
            case kExtSend:
                o.extended = true;
                o.ext_sent = static_cast<int>(Number(optarg, 0, kMaxExtSend));
                break;
            case kExtDelay:
                o.ext_delay = std::chrono::milliseconds(Number(optarg, 0, kMaxDelayMs));
                break;
            case kRejectEvery:
                o.reject.every_nth = Count(optarg);
                break;
            case kRejectFirst:
                o.reject.first_k = Count(optarg);
                break;
            case kRejectFrom:
                o.reject.from_m = Count(optarg);
                break;
            case kIgnoreEvery:
                o.ignore.every_nth = Count(optarg);
                break;
            case kIgnoreFirst:
                o.ignore.first_k = Count(optarg);
                break;
            case kIgnoreFrom:
                o.ignore.from_m = Count(optarg);
                break;
            case kIgnoreAt:
                o.ignore.only = Count(optarg);
                break;
            case kHangUp:
                o.hang_up_after = Count(optarg);
                break;
            case kDelay:
                o.answer_delay = std::chrono::microseconds(Number(optarg, 0, kMaxDelayUs));
                break;
            case kHangUpAtIdentify:
                o.hang_up_at_identify = Count(optarg);
                break;
            case kNoise:
                o.noise = ByteList(optarg);
                break;
            case kPace:
                o.pace = true;
                break;
            case kLatency:
                o.adapter_latency = std::chrono::milliseconds(Number(optarg, 0, kMaxLatencyMs));
                break;
            case kPlain:
                o.scrambled = false;
                break;
            case kEepromScrambled:
                o.eeprom_scrambled = true;
                break;
            case kLink:
                link_path = optarg;
                break;
            case kHex:
                combined_hex = optarg;
                break;
            case kFlashHex:
                flash_hex = optarg;
                break;
            case kEepromHex:
                eeprom_hex = optarg;
                break;
            default:
                Usage();
                return c == kHelp ? 0 : 2;
        }
    }
    if (optind < argc) Refuse("unexpected argument", argv[optind]);
    // A HEX file that cannot be created is refused now, not after the whole run.
    for (const std::string* hex : {&flash_hex, &eeprom_hex, &combined_hex}) {
        if (hex->empty()) continue;
        std::ofstream probe(*hex, std::ios::app);
        if (!probe) {
            const std::string why = std::string("cannot create (") + std::strerror(errno) + ")";
            Refuse(why.c_str(), hex->c_str());
        }
    }
    // A regular file (a HEX dump, a document) standing where the link goes is never
    // deleted to make room.
    if (!link_path.empty() && !LinkPathFree(link_path))
        Refuse("--link refuses to replace what is not a symbolic link", link_path.c_str());

    int master = -1, slave = -1;
    if (openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) {
        std::perror("devsim: openpty");
        return 1;
    }
    // Raw line until the host configures it. The slave stays open here, so the master
    // does not see a hang-up each time the host closes the port.
    termios t{};
    tcgetattr(slave, &t);
    cfmakeraw(&t);
    tcsetattr(slave, TCSANOW, &t);
    fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
    const char* path = ttyname(slave);
    if (!link_path.empty()) {
        ::unlink(link_path.c_str());
        if (::symlink(path, link_path.c_str()) != 0) {
            std::perror("devsim: symlink");
            return 1;
        }
    }
    // The handlers stand before the path is printed: whoever reads it may stop devsim at
    // once, and must find the HEX files written. A caller that read the path and closed
    // its end of stdout must not end the device with SIGPIPE when it prints its closing
    // figures: the HEX files come after.
    std::signal(SIGPIPE, SIG_IGN);
    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGHUP, &sa, nullptr);
    sigset_t blocked, original;
    sigemptyset(&blocked);
    sigaddset(&blocked, SIGTERM);
    sigaddset(&blocked, SIGINT);
    sigaddset(&blocked, SIGHUP);
    sigprocmask(SIG_BLOCK, &blocked, &original);
    std::printf("devsim: %s\n", path);
    std::fflush(stdout);

    // Answers are due at exact line times; the kernel's default timer slack (50 us) would
    // make every paced answer late by up to that much.
    if (o.pace) ::prctl(PR_SET_TIMERSLACK, 1UL);
    Device device(o);
    const auto epoch = std::chrono::steady_clock::now();
    auto now = [epoch] {
        return std::chrono::duration_cast<Nanos>(std::chrono::steady_clock::now() - epoch);
    };
    std::uint8_t buf[kIoChunk];
    Timing timing;
    while (!g_stop) {
        timespec timeout{};
        timespec* timeout_ptr = nullptr;
        if (auto next = device.NextOutputTime()) {
            const Nanos left = std::max(Nanos{0}, *next - now());
            timeout.tv_sec = static_cast<time_t>(left.count() / 1000000000);
            timeout.tv_nsec = static_cast<long>(left.count() % 1000000000);
            timeout_ptr = &timeout;
        }
        pollfd p{master, POLLIN, 0};
        const int r = ::ppoll(&p, 1, timeout_ptr, &original);
        if (r < 0 && errno != EINTR) break;
        if (r > 0 && (p.revents & POLLIN)) {
            const ssize_t n = ::read(master, buf, sizeof buf);
            if (n > 0) {
                const Nanos at = now();
                timing.Received(static_cast<std::size_t>(n), at, device.stats().identifies);
                device.Receive({buf, static_cast<std::size_t>(n)}, at);
            }
        }
        for (std::size_t n; (n = device.TakeOutput(buf, now())) > 0;) {
            std::size_t done = 0;
            while (done < n) {
                const ssize_t w = ::write(master, buf + done, n - done);
                if (w > 0) {
                    done += static_cast<std::size_t>(w);
                } else if (w < 0 && errno == EAGAIN) {
                    pollfd out{master, POLLOUT, 0};
                    ::poll(&out, 1, -1);
                } else {
                    break;
                }
            }
            timing.Sent(done, now(), !device.NextOutputTime());
        }
        if (device.hung_up() && !device.NextOutputTime()) {
            // Closing the master discards what the host has not read yet: let it take the
            // last answer first (bounded, a host may never read again).
            // The pty moves written bytes to the host's queue a moment later, so an empty
            // queue counts only after a first pause.
            ::usleep(kHangUpSettleUs);
            for (int i = 0; i < kHangUpGraceMs; ++i) {
                int queued = 0;
                if (::ioctl(slave, TIOCINQ, &queued) != 0 || queued == 0) break;
                ::usleep(1000);
            }
            break;
        }
    }
    ::close(slave);
    ::close(master);
    if (!link_path.empty() && IsOurLink(link_path, path)) ::unlink(link_path.c_str());
    // The layout of the Microchip tools' HEX files: EEPROM address 0 at 0xF00000.
    std::map<std::uint32_t, std::uint8_t> combined = device.flash();
    for (const auto& [index, value] : device.eeprom()) combined[kEepromHexBase + index] = value;
    const bool ok = WriteHex(flash_hex, device.flash()) && WriteHex(eeprom_hex, device.eeprom()) &&
                    WriteHex(combined_hex, combined);
    timing.Print();
    const auto& s = device.stats();
    std::fprintf(stderr,
                 "devsim: %d identify, %d entry, %d packets (%d bad checksum, %d rejected, "
                 "%d ignored), %d pass-on frames\n",
                 s.identifies, s.entries, s.packets, s.checksum_errors, s.rejected, s.ignored,
                 s.pass_on_frames);
    return ok ? 0 : 1;
}
