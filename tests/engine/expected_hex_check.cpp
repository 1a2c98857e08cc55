// Compares an Intel HEX that devsim wrote with what this build's image must leave in the
// device after a session (the same expectation the pty session test uses), byte for byte.
// Used by scripts/wine-test for the Windows executables. Usage:
//   expected_hex_check <k80|hj64> <devsim HEX>     exit 0: equal, 1: different, 2: bad use
#include <cstdio>
#include <fstream>
#include <string>

#include "tests/engine/session_rig.h"
#include "tools/devsim/device.h"

int main(int argc, char** argv) {
    using namespace quillon;
    namespace testing = quillon::engine::testing;
    if (argc != 3 || (std::string(argv[1]) != "k80" && std::string(argv[1]) != "hj64")) {
        std::fprintf(stderr, "usage: expected_hex_check <k80|hj64> <devsim HEX>\n");
        return 2;
    }
    std::ifstream in(argv[2]);
    const auto written = devsim::ReadIntelHex(in);
    if (!written) {
        std::fprintf(stderr, "%s: not a readable Intel HEX\n", argv[2]);
        return 1;
    }
    const testing::ExpectedDevice expected =
        std::string(argv[1]) == "k80" ? testing::ExpectedK80() : testing::ExpectedHj64();
    testing::Image combined = expected.flash;
    for (const auto& [index, value] : expected.eeprom)
        combined[testing::kHexEepromBase + index] = value;
    if (*written == combined) {
        std::printf("%s: %zu bytes, equal to the image\n", argv[2], combined.size());
        return 0;
    }
    for (const auto& [address, value] : combined) {
        const auto it = written->find(address);
        if (it == written->end() || it->second != value) {
            std::fprintf(stderr, "%s: first difference at 0x%06X\n", argv[2], unsigned(address));
            return 1;
        }
    }
    std::fprintf(stderr, "%s: holds %zu bytes, the image %zu\n", argv[2], written->size(),
                 combined.size());
    return 1;
}
