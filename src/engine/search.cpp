#include "engine/search.h"

#include <cstdio>

#include "engine/outcome.h"

namespace quillon::engine {

std::uint8_t SearchByte(Edition edition, std::uint8_t loader_family) {
    if (edition == Edition::Upgrade) return kSearchByteUpgrade;
    if (loader_family == 1) return kSearchByteFamily1;
    if (loader_family == 2) return kSearchByteUpgrade;
    return kSearchByteDefault;
}

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

namespace {

void ShowTry(Engine& e, ProgressBarRef progress, StatusBarRef status, int attempt) {
    switch (e.ui.edition()) {
        case Edition::Loader:
            e.ui.ShowActivity(kSearchDeviceText, colour::kBlack);
            e.ui.SetProgressPosition(progress, kSearchProgressMax - attempt);
            break;
        case Edition::Upgrade:
            e.ui.SetProgressPosition(progress, kSearchProgressMax - attempt);
            e.ui.SetPanelText(status, PanelSlot::ActivityPanel, kSearchDeviceText);
            break;
        case Edition::Updater: {
            char text[24];
            std::snprintf(text, sizeof text, "Try %d", attempt);
            e.ui.SetPanelText(status, PanelSlot::ActivityPanel, text);
            break;
        }
    }
}

}  // namespace

std::int16_t SearchDevice(Engine& e, ProgressBarRef progress, StatusBarRef status) {
    e.ports.opened_port = -1;
    e.ports.run_port = -1;
    e.ui.HideResultLine();
    // What the previous device's run reported must not stand for the next device: a
    // search that fails, or a session that refuses, leaves these empty.
    e.ui.HideDeviceReport();
    e.ui.SetPanelText(status, PanelSlot::DetailPanel, "");
    e.ui.SetPanelText(status, PanelSlot::NoticePanel, "");
    e.ui.SetProgressPosition(progress, 0);
    e.ui.SetProgressSmooth(progress, true);

    e.ui.ApplySelectedPort();
    e.ui.ShowPortPanel(status);
    e.ui.ShowSessionRunning();
    if (e.channels.FlushChannel(e.ports.selected_port) < 0) {
        e.ui.ShowSessionIdle();
        return kSearchPortUnusable;
    }
    // From here on the run talks to this port, even when another is chosen meanwhile.
    e.ports.run_port = e.ports.selected_port;

    e.parser.ResetForSearch();
    e.protected_window = {};
    ClearIdentity(e);

    e.ui.SetProgressState(progress, ProgressState::Paused);
    const std::uint8_t search_byte[1] = {SearchByte(e.ui.edition(), e.ui.LoaderFamily())};
    e.ui.SetProgressMax(progress, kSearchProgressMax);

    bool found = false;
    for (int attempt = 0; attempt < kSearchTries && !found; ++attempt) {
        DrainInput(e);
        ClearIdentity(e);
        ShowTry(e, progress, status, attempt);
        e.parser.AckSeen = 0;
        e.parser.NakSeen = 0;
        WriteBytes(e, search_byte);
        const int r = WaitReply(e, kSearchWaitMs);
        // A line that hung up answers no further try.
        if (r == kReplyLineGone) break;
        if (r == kReplyStop) {
            ShowLinkError(e.ui, r);
            e.ui.SetProgressPosition(progress, 0);
            e.ports.run_port = -1;
            return kSearchStopped;
        }
        found = r > 0;
    }

    e.ui.SetProgressState(progress, ProgressState::Normal);
    e.ui.SetProgressPosition(progress, 0);
    if (!found) {
        e.ui.SetPanelText(status, PanelSlot::ActivityPanel, kDeviceNotFoundText);
        e.ui.ShowSessionIdle();
        e.ports.run_port = -1;
        return kSearchNotFound;
    }
    return kSearchFound;
}

}  // namespace quillon::engine
