// The ideal host beside a benchmark (POSIX): devsim records what the real host sent
// (--record); afterwards a fresh devsim with the same settings gets those bytes from the
// replay host (bench/replay), which does nothing but write and block for the answer. Both
// devsims' figures come from their closing report, on their own clocks.
#pragma once

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "bench/replay/record.h"
#include "tests/support/devsim_process.h"

namespace quillon::bench {

// devsim's closing figures.
struct DevsimFigures {
    double session_s = 0, wire_s = 0, ratio = 0;  // its latest session ÷ its wire time
    long long median_us = 0, p90_us = 0, p99_us = 0, max_us = 0;  // turnaround
    std::size_t over_1ms = 0, over_4ms = 0;
};

inline std::optional<DevsimFigures> ReadDevsimFigures(const std::string& report) {
    DevsimFigures f;
    const auto ta = report.find("devsim: turnaround");
    const auto se = report.find("devsim: session");
    if (ta == std::string::npos || se == std::string::npos) return std::nullopt;
    std::size_t count = 0;
    unsigned long long bytes = 0;
    if (std::sscanf(report.c_str() + ta,
                    "devsim: turnaround %zu: median %lld us, p90 %lld us, p99 %lld us, max %lld "
                    "us, over 1 ms %zu, over 4 ms %zu",
                    &count, &f.median_us, &f.p90_us, &f.p99_us, &f.max_us, &f.over_1ms,
                    &f.over_4ms) != 7 ||
        std::sscanf(report.c_str() + se,
                    "devsim: session %lf s, %llu bytes = %lf s on the wire: %lf x", &f.session_s,
                    &bytes, &f.wire_s, &f.ratio) != 4)
        return std::nullopt;
    return f;
}

// A temporary file for devsim's record, removed with this object.
class RecordFile {
public:
    RecordFile() {
        char name[] = "/tmp/quillon-record-XXXXXX";
        const int fd = ::mkstemp(name);
        if (fd >= 0) {
            ::close(fd);
            path_ = name;
        }
    }
    ~RecordFile() {
        if (!path_.empty()) ::unlink(path_.c_str());
    }
    RecordFile(const RecordFile&) = delete;
    RecordFile& operator=(const RecordFile&) = delete;
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

// Replays `record` against a fresh devsim started with `args`; its figures, or nullopt
// with `error` set.
inline std::optional<DevsimFigures> RunIdealHost(const std::vector<std::string>& args,
                                                 const std::string& record, std::string& error) {
    std::ifstream in(record);
    const auto exchanges = replay::ParseRecord(in, error);
    if (!exchanges) return std::nullopt;
    devsim::DevsimProcess devsim(args);
    if (devsim.path().empty()) {
        error = "devsim did not start";
        return std::nullopt;
    }
    const replay::Result r = replay::Replay(devsim.path(), *exchanges);
    devsim.Stop();
    if (!r.ok) {
        error = r.error;
        return std::nullopt;
    }
    auto figures = ReadDevsimFigures(devsim.report());
    if (!figures) error = "no figures from devsim";
    return figures;
}

}  // namespace quillon::bench
