// One port's work on its own thread: search, the programming session (or the device
// report), the board log line, and in the production line mode the wait for the next
// board. Each port has its own engine context: channel table, port selection, pump,
// the engine's events and a catalog of its own, because the session patches the image it sends in
// place (reset jump, K80 fix bytes). Nothing is shared between ports but the output, the
// log and the Ctrl-C counter, all made for it.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "catalog/preparation.h"
#include "cli/board_log.h"
#include "cli/engine_events.h"
#include "cli/events.h"
#include "cli/output.h"
#include "engine/link.h"
#include "serial/channel.h"
#include "serial/counting_device.h"
#include "serial/port_selection.h"
#include "wait/poll_pump.h"

namespace quillon::cli {

// Production line mode: how often a port that cannot be opened is tried again while
// waiting for a board, and how often a finished board is asked whether it is still there.
inline constexpr std::chrono::milliseconds kReopenInterval{250};
inline constexpr std::chrono::milliseconds kPresenceInterval{500};
// Waits outside the engine look at Ctrl-C this often.
inline constexpr std::chrono::milliseconds kStopCheckSlice{20};

struct RunSettings {
    editions::Edition edition = editions::Edition::Updater;  // its success text
    engine::EngineOptions engine;                            // identify byte and sequence mode
    bool repeat = false;
    // What every board's record names besides the board and the edition: the build.
    std::string release;
    std::string program;
};

struct PortTarget {
    std::string label;  // what the output and the log call it ("COM5" or a path)
    int number = 0;     // the channel table's port number
    // The device behind the port, asked afresh at every open: a COM number's device may
    // change while a production line runs (a replugged adapter, another board's pty).
    std::function<std::string()> device;
};

using serial::LineCounters;

class PortRun : public EventSink {
public:
    PortRun(int index, PortTarget target, const RunSettings& settings, Output& output,
            BoardLog* log, std::atomic<int>& interrupts);
    ~PortRun() override;

    // update: one board (or one chain in the sequence mode), or boards until Ctrl-C.
    Exit Update();
    // identify: search and the device report; nothing is written to the device.
    Exit Identify();

    const LineCounters& counters() const { return *counters_; }
    void OnEvent(const Event& event) override;

private:
    std::optional<Exit> SearchAndProgram(bool waiting);
    Exit Repeat();
    void WaitForRemoval();
    // Opens the port afresh (the engine's own opening); false when it cannot be used.
    bool ReopenPort();
    bool Stopped() const { return interrupts_.load() > 0; }
    bool TakeStop();
    void SleepUnlessStopped(std::chrono::milliseconds total);
    void Record(Exit exit, std::string result, std::chrono::steady_clock::time_point start,
                std::uint64_t packets_before);
    // The record's device part: port, adapter, build, identity and the extended block.
    BoardRecord DeviceRecord() const;
    Exit WithLogOutcome(Exit worst) const {
        return log_failed_ ? Worst(worst, Exit::LogFailed) : worst;
    }

    int index_;
    PortTarget target_;
    RunSettings settings_;
    Output& output_;
    BoardLog* log_;
    std::atomic<int>& interrupts_;
    std::shared_ptr<LineCounters> counters_ = std::make_shared<LineCounters>();
    std::string device_now_;  // the device of the last open

    serial::ChannelTable channels_;
    serial::PortSelection ports_;
    engine::PollPump pump_;
    EngineEvents events_;
    engine::Engine engine_;
    std::unique_ptr<catalog::CatalogState> catalog_ = std::make_unique<catalog::CatalogState>();

    bool stop_taken_ = false;
    bool quiet_ = false;  // waiting for a board: no search chatter
    Exit open_failure_ = Exit::InvalidPort;
    Event final_;
    bool final_seen_ = false;
    long resends_ = 0;
    bool chain_goes_on_ = false;  // sequence mode: the next device of the row follows
    std::string board_time_;
    bool log_failed_ = false;  // a board's line could not be written
};

// The name of a chip code ("PIC18F26K80"); "unknown" for a code the catalog does not know.
std::string ChipName(std::uint8_t chip_code);

}  // namespace quillon::cli
