#include "engine/search.h"

namespace quillon::engine {

void ClearIdentity(Engine& e) {
    DeviceIdentity& id = e.parser.identity;
    id.ChipCode = 0;
    id.BiosVersion = 0;
    id.PrintCode = 0;
    id.PreparationCode = 0;
}

void AwaitExtendedInfo(Engine& e) {
    if (!HasExtendedBlock(e.parser.identity.BiosVersion)) return;
    const Clock::time_point start = e.pump.now();
    for (int round = 1; round <= kExtendedWaitRounds && !e.parser.ExtComplete; ++round) {
        PollReply(e);
        if (e.parser.ExtComplete) return;
        if (e.channels.LineGone(LinkPort(e))) break;  // nothing more will come
        // One 5 ms round; arriving input ends it early and is read at once, but the count
        // of rounds stays tied to the clock so the whole wait keeps its length.
        const Clock::time_point round_end = start + round * kSlice;
        bool wake_on_input = true;
        for (Clock::time_point t = e.pump.now(); t < round_end; t = e.pump.now()) {
            e.pump.wait(round_end - t, /*process_ui=*/true, wake_on_input);
            if (e.pump.now() < round_end) {
                if (PollReply(e) == 0) wake_on_input = false;
                if (e.parser.ExtComplete) return;
            }
        }
    }
    PollReply(e);
    // A block that never closed (announced longer than sent) would go on taking the
    // acknowledgements of the packets that follow as its data: the wait is over, and so
    // is the block.
    if (!e.parser.ExtComplete && e.parser.state != ParserState::Idle)
        e.parser.state = ParserState::Idle;
}

SearchResult SearchDevice(Engine& e) {
    e.ports.opened_port = -1;
    e.ports.run_port = -1;
    e.events.SearchStarted();
    serial::OpenFailure why;
    if (!serial::ApplySelectedPort(e.ports, e.channels, &why))
        e.events.PortRefused(e.ports.selected_port, why);
    e.events.Searching(e.ports.selected_port);
    if (e.channels.FlushChannel(e.ports.selected_port) < 0) {
        e.events.SearchEnded(SearchResult::PortUnusable);
        return SearchResult::PortUnusable;
    }
    // From here on the run talks to this port, even when another is chosen meanwhile.
    e.ports.run_port = e.ports.selected_port;

    e.parser.ResetForSearch();
    e.protected_window = {};
    ClearIdentity(e);

    e.events.SearchTries(kSearchTries);
    const std::uint8_t search_byte[1] = {e.options.identify_byte};
    for (int attempt = 0; attempt < kSearchTries; ++attempt) {
        DrainInput(e);
        ClearIdentity(e);
        e.events.SearchTry(attempt);
        e.parser.AckSeen = 0;
        e.parser.NakSeen = 0;
        WriteBytes(e, search_byte);
        const int r = WaitReply(e, kSearchWaitMs);
        if (r == kReplyLineGone) break;  // a line that hung up answers no further try
        if (r == kReplyStop) {
            e.ports.run_port = -1;
            e.events.SearchEnded(SearchResult::Stopped);
            return SearchResult::Stopped;
        }
        if (r > 0) {
            e.events.SearchEnded(SearchResult::Found);
            return SearchResult::Found;
        }
    }
    e.ports.run_port = -1;
    e.events.SearchEnded(SearchResult::NotFound);
    return SearchResult::NotFound;
}

}  // namespace quillon::engine
