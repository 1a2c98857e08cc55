#include "engine/search.h"

namespace quillon::engine {

void AwaitExtendedInfo(Engine& e) {
    if (!HasExtendedBlock(e.parser.identity.BiosVersion)) return;
    enum class Ext { Waiting = 0, Complete, LineGone };
    const auto look = [&e] {
        const bool read = PollReply(e) > 0;
        if (e.parser.ExtComplete) return SliceStep<Ext>{Ext::Complete, read};
        // A line that hung up sends nothing more.
        if (e.channels.LineGone(LinkPort(e))) return SliceStep<Ext>{Ext::LineGone, read};
        return SliceStep<Ext>{Ext::Waiting, read};
    };
    // What has arrived already, then 5 ms rounds; arriving input ends a round early and is
    // read at once, but the rounds stay tied to the clock so the whole wait keeps its length.
    if (look().result == Ext::Waiting)
        WaitSlices(e.pump, kExtendedWaitRounds, /*wake_on_input=*/true, look);
    e.parser.EndExtendedWait();
}

SearchResult SearchDevice(Engine& e) {
    e.ports.opened_port = -1;
    e.ports.run_port = -1;
    e.events.SearchStarted();
    // The port is closed and opened again: no watch may stay on the old handle meanwhile.
    e.pump.rest();
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

    e.events.SearchTries(kSearchTries);
    const std::uint8_t search_byte[1] = {e.options.identify_byte};
    for (int attempt = 0; attempt < kSearchTries; ++attempt) {
        DrainInput(e);
        e.parser.ClearIdentity();
        e.events.SearchTry(attempt);
        e.parser.ExpectReply();
        WriteBytes(e, search_byte);
        const Reply r = WaitReply(e, kSearchWaitMs);
        if (r == Reply::LineGone) break;  // a line that hung up answers no further try
        if (r == Reply::Stop) {
            e.ports.run_port = -1;
            e.events.SearchEnded(SearchResult::Stopped);
            return SearchResult::Stopped;
        }
        if (r == Reply::Ack) {
            e.events.SearchEnded(SearchResult::Found);
            return SearchResult::Found;
        }
    }
    e.ports.run_port = -1;
    e.events.SearchEnded(SearchResult::NotFound);
    return SearchResult::NotFound;
}

}  // namespace quillon::engine
