// What one port's search and session tell the command line, as events: the command line's
// own small vocabulary, independent of any window. The engine's events are turned into
// these by engine_events.h; the renderers (output.h) and the board log consume them.
#pragma once

#include <cstdint>
#include <string>

#include "cli/exit_codes.h"

namespace quillon::cli {

enum class EventKind {
    Searching,     // value: the try (0..99)
    PortUnusable,  // text: why the port cannot be used
    Found,         // text: the chip ("Found 18F26k80"); the identity is in the session
    Report,        // text: a line of the device report (BIOS line, device text)
    Activity,      // text: a phase ("Entry in PrgMode", "Programming...", "Fix Program")
    Detail,        // text: a detail ("Loaded 7402 bytes (0000 to 1CEA)")
    Progress,      // value of max in phase text ("flash" or "eeprom")
    Resend,        // value: the resend count of the packet being sent (0..4)
    Refused,       // text and exit: the session refused the device before writing
    Failed,        // text and exit: the search or the session failed
    Succeeded,     // text: the engine's success message
    PassedOn,      // the family was programmed before in this run: passed on
};

struct Event {
    EventKind kind = EventKind::Activity;
    std::string text;
    int value = 0;
    int max = 0;
    Exit exit = Exit::Success;
};

// Whether the event ends a session (one log line per such event).
inline bool IsFinal(EventKind k) {
    return k == EventKind::Refused || k == EventKind::Failed || k == EventKind::Succeeded ||
           k == EventKind::PassedOn;
}

const char* KindName(EventKind k);

// Receives one port's events, on that port's thread.
class EventSink {
public:
    virtual ~EventSink() = default;
    virtual void OnEvent(const Event& event) = 0;
};

// The engine's texts keep their padding blanks (" CHK Error !! "); the command line shows
// them without.
std::string Trimmed(std::string_view text);

}  // namespace quillon::cli
