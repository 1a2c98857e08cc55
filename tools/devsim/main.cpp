// devsim: a virtual bootloader device on the other end of a pseudo-terminal. It prints the
// device path it serves ("devsim: /dev/pts/N") and can link it to a fixed path, so that
// Quillon can be pointed at it like at a board. See docs/devsim.md.
#include <sys/prctl.h>

#include <cstdio>

#include "tools/devsim/device.h"
#include "tools/devsim/options.h"
#include "tools/devsim/pty_loop.h"
#include "tools/devsim/report.h"

using namespace quillon::devsim;

namespace {

constexpr int kExitRefused = 2;  // a bad command line or a path it must not use
constexpr int kExitFailed = 1;   // no line to serve, or a HEX file not written

}  // namespace

int main(int argc, char** argv) {
    ParseResult parsed = ParseArguments(argc, argv);
    if (parsed.outcome == ParseResult::kRun) parsed.message = CheckPaths(parsed.settings);
    if (parsed.outcome == ParseResult::kHelp || parsed.usage) {
        std::fputs(UsageText().c_str(), stderr);
        return parsed.usage ? kExitRefused : 0;
    }
    if (!parsed.message.empty()) {
        std::fprintf(stderr, "%s\n", parsed.message.c_str());
        return kExitRefused;
    }
    const Settings& settings = parsed.settings;

    Pty pty;
    if (!OpenPty(pty)) return kExitFailed;
    if (!settings.link_path.empty() && !MakeLink(settings.link_path, pty.path)) return kExitFailed;
    // The handlers stand before the path is printed: whoever reads it may stop devsim at
    // once, and must find the HEX files written.
    const sigset_t wait_mask = StopOnSignals();
    std::printf("devsim: %s\n", pty.path.c_str());
    std::fflush(stdout);

    // Answers are due at exact line times; the kernel's default timer slack (50 us) would
    // make every paced answer late by up to that much.
    if (settings.device.pace) ::prctl(PR_SET_TIMERSLACK, 1UL);
    Device device(settings.device);
    Timing timing;
    Exchanges exchanges;
    Serve(pty, device, wait_mask, timing, exchanges);
    ClosePty(pty);
    if (!settings.link_path.empty()) RemoveOwnLink(settings.link_path, pty.path);
    return Report(settings, device, timing, exchanges) ? 0 : kExitFailed;
}
