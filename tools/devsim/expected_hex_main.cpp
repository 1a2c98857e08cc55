// expected_hex: what a board holds after an update with one of this build's images, as
// Intel HEX, and the comparison of a board's HEX (devsim's --hex) with it.
//   expected_hex k80|hj64 --write PATH     writes the expected HEX
//   expected_hex k80|hj64 --compare PATH   says whether PATH holds exactly that; exit 0 if so
#include <cstdio>
#include <cstring>
#include <fstream>
#include <optional>
#include <string>

#include "tools/devsim/device.h"
#include "tools/devsim/expected.h"

namespace {

using quillon::devsim::ExpectedDevice;
using quillon::devsim::Image;

constexpr int kUsageError = 2;

int Usage() {
    std::fputs("usage: expected_hex k80|hj64 --write PATH | --compare PATH\n", stderr);
    return kUsageError;
}

// One line: the same bytes at the same addresses, or how far from that the board is.
int Compare(const Image& expected, const std::string& path) {
    std::ifstream in(path);
    const auto board = quillon::devsim::ReadIntelHex(in);
    if (!in.is_open() || !board) {
        std::printf("no readable Intel HEX from the board at %s\n", path.c_str());
        return 1;
    }
    std::size_t differ = 0;
    std::uint32_t first = 0;
    auto note = [&](std::uint32_t address) {
        if (differ++ == 0) first = address;
    };
    for (const auto& [address, value] : expected) {
        const auto it = board->find(address);
        if (it == board->end() || it->second != value) note(address);
    }
    for (const auto& [address, value] : *board)
        if (!expected.contains(address)) note(address);
    if (differ == 0) {
        std::printf("holds exactly the image (%zu bytes)\n", expected.size());
        return 0;
    }
    std::printf(
        "does NOT hold the image: %zu of %zu bytes differ or are missing, the first at "
        "0x%06X\n",
        differ, expected.size(), first);
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) return Usage();
    const std::string image = argv[1], action = argv[2], path = argv[3];
    std::optional<ExpectedDevice> expected;
    if (image == "k80")
        expected = quillon::devsim::ExpectedK80(QUILLON_IMAGES_DIR);
    else if (image == "hj64")
        expected = quillon::devsim::ExpectedHj64(QUILLON_IMAGES_DIR);
    else
        return Usage();
    if (!expected || expected->flash.empty()) {
        std::fprintf(stderr, "expected_hex: cannot read the %s image's HEX file in %s\n",
                     image.c_str(), QUILLON_IMAGES_DIR);
        return 1;
    }
    if (action == "--compare") return Compare(expected->Combined(), path);
    if (action != "--write") return Usage();
    std::ofstream out(path, std::ios::trunc);
    quillon::devsim::WriteIntelHex(out, expected->Combined());
    out.close();
    if (!out) {
        std::fprintf(stderr, "expected_hex: cannot write %s\n", path.c_str());
        return 1;
    }
    return 0;
}
