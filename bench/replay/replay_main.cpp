// replay_host DEVICE RECORD: the ideal host. Replays devsim's record of a real host's run
// (devsim --record) against a devsim started with the same settings on DEVICE (a path on
// POSIX, COM<n> on Windows): each exchange is a write and a blocking read of the recorded
// answer's length, nothing else. Compare the two devsims' session figures.
#include <cstdio>
#include <fstream>

#include "bench/replay/record.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: replay_host DEVICE RECORD\n");
        return 2;
    }
    std::ifstream in(argv[2]);
    if (!in) {
        std::fprintf(stderr, "replay_host: cannot read %s\n", argv[2]);
        return 2;
    }
    std::string error;
    const auto exchanges = quillon::replay::ParseRecord(in, error);
    if (!exchanges) {
        std::fprintf(stderr, "replay_host: %s: %s\n", argv[2], error.c_str());
        return 2;
    }
    const quillon::replay::Result r = quillon::replay::Replay(argv[1], *exchanges);
    if (!r.ok) {
        std::fprintf(stderr, "replay_host: %s\n", r.error.c_str());
        return 1;
    }
    std::printf("replay_host: %zu exchanges, %zu bytes, %.3f s\n", exchanges->size(), r.bytes,
                r.seconds);
    return 0;
}
