#include <sys/ioctl.h>

#include <cerrno>
#include <fstream>
#include <iterator>
#include <system_error>

#include "serial/tty_tuning.h"
#ifdef __linux__
#include <linux/serial.h>
#endif

namespace quillon::serial {
namespace {

constexpr int kLatencyTimerMaxMs = 255;  // the adapters' register is one byte
constexpr std::size_t kLatencyFileMaxBytes = 16;

class KernelTtyTuning : public TtyTuning {
public:
    explicit KernelTtyTuning(std::filesystem::path sysfs) : sysfs_(std::move(sysfs)) {}

    std::optional<int> serial_flags(int fd) override {
#ifdef TIOCGSERIAL
        serial_struct s{};
        if (ioctl(fd, TIOCGSERIAL, &s) != 0) return std::nullopt;  // ENOTTY on a pty
        return s.flags;
#else
        (void)fd;
        return std::nullopt;
#endif
    }

    bool set_serial_flags(int fd, int flags) override {
#if defined(TIOCGSERIAL) && defined(TIOCSSERIAL)
        serial_struct s{};
        if (ioctl(fd, TIOCGSERIAL, &s) != 0) return false;
        s.flags = flags;
        return ioctl(fd, TIOCSSERIAL, &s) == 0;
#else
        (void)fd;
        (void)flags;
        return false;
#endif
    }

    std::optional<int> latency_timer_ms(const std::string& device_path) override {
        std::error_code ec;
        const auto real = std::filesystem::canonical(device_path, ec);
        if (ec) return std::nullopt;
        const auto file = sysfs_ / "class" / "tty" / real.filename() / "device" / "latency_timer";
        std::ifstream in(file);
        if (!in) return std::nullopt;
        std::string text(kLatencyFileMaxBytes + 1, '\0');
        in.read(text.data(), std::streamsize(text.size()));
        text.resize(std::size_t(in.gcount()));
        return ParseLatencyTimer(text);
    }

private:
    std::filesystem::path sysfs_;
};

}  // namespace

std::optional<int> ParseLatencyTimer(const std::string& text) {
    if (text.size() > kLatencyFileMaxBytes) return std::nullopt;
    int value = 0;
    std::size_t i = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > kLatencyTimerMaxMs) return std::nullopt;
    }
    if (i == 0) return std::nullopt;
    for (; i < text.size(); ++i)
        if (text[i] != '\n' && text[i] != ' ') return std::nullopt;
    return value;
}

std::shared_ptr<TtyTuning> MakeKernelTtyTuning(std::filesystem::path sysfs) {
    return std::make_shared<KernelTtyTuning>(std::move(sysfs));
}

}  // namespace quillon::serial
