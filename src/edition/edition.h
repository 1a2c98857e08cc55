// The three editions of the program, one row each. The product label compiled into the
// executable chooses the edition at start-up; everything that differs between editions
// (stored-port place, identify byte, captions, texts, which window runs, what that window
// shows of a run) is read from its row, so adding an edition is one row plus its window.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace quillon::editions {

enum class Edition : std::uint8_t { Updater = 0, Upgrade = 1, Loader = 2 };

// The window an edition runs in. Every edition also creates the main window (hidden
// outside the Updater edition), because the resend count is always written to its status bar.
enum class WindowKind : std::uint8_t { Main, Upgrade, Loader };

// The name of an edition's window, as scripts and traces address it.
constexpr std::string_view WindowName(WindowKind window) {
    switch (window) {
        case WindowKind::Upgrade:
            return "TForm5";
        case WindowKind::Loader:
            return "TForm6";
        case WindowKind::Main:
            break;
    }
    return "TForm1";
}

// Where a search try is shown.
enum class TryShown : std::uint8_t {
    TryCount,         // "Try n" in the activity panel
    SearchTextPanel,  // "Search Device" in the activity panel, the bar counting down
    SearchTextLine,   // "Search Device" on the message line, the bar counting down
};

// Where the device's report goes.
enum class ReportShown : std::uint8_t {
    BiosLines,     // the main window's BIOS line and device-text line
    LoaderValues,  // the Loader window's "HW :" and "BS :" values, when the device reported
    Nowhere,
};

// How a successful update is told.
enum class SuccessShown : std::uint8_t {
    Outcome,        // the large coloured result line, green
    ActivityPanel,  // the activity panel's text
    ActivityLine,   // the message line, green
};

struct Facts {
    Edition edition;
    std::string_view name;   // lower case: the command line's --edition, the board log
    std::string_view title;  // as a user reads it
    // Label keywords: a label containing one (exact, case-sensitive) selects the edition.
    std::span<const std::string_view> keywords;

    // The remembered port: the registry key (ends in a backslash) and, elsewhere, the
    // file under the configuration directory.
    std::string_view settings_key;
    std::string_view settings_folder;
    std::string_view settings_file;

    // The identify byte sent by the search, by the Loader family selector's value (0, 1, 2);
    // editions without a family send the first.
    std::array<std::uint8_t, 3> identify_bytes;

    WindowKind window;
    std::string_view update_caption;  // the update button
    std::string_view stop_caption;    // the stop button
    std::string_view port_command;    // the menu command that opens the "Setup" dialog

    std::string_view success_text;
    SuccessShown success_shown;
    TryShown try_shown;
    ReportShown report_shown;
    bool shows_block_addresses;   // "Program %05d (%05x)" per block in the activity panel
    bool shows_phase_texts;       // "Fix Program", "Program EEP n" in the activity panel
    bool has_plain_image_cue;     // a control turns silver for an unscrambled image
    bool tells_loaded_image;      // the notice panel names the image written
    bool reports_refused_device;  // a refused image shows "Warning" and the device report
    bool status_bar_shown;        // the Loader window keeps its status bar hidden
    // The remembered port is read so that a missing one (or one of -2 and below) counts as
    // no port at all, and the window says so until the next prompt; otherwise a missing
    // port reads as COM1.
    bool tells_missing_port;
    // The "\P" switch opens the UDP listener.
    bool has_udp_listener;
    // A label with the sequence keyword makes the edition program the catalog's images
    // into a row of devices, one after another.
    bool has_sequence_mode;
};

inline constexpr std::size_t kEditionCount = 3;

// The facts of an edition.
const Facts& Of(Edition edition);
// The edition stored under a code (0 Updater, 1 Upgrade, 2 Loader); any other code is the
// Updater's, as the stored-port places have always read it.
const Facts& ForCode(std::uint8_t code);
// All rows, in code order.
std::span<const Facts, kEditionCount> All();
// The edition of a lower-case name ("updater", "upgrade", "loader").
std::optional<Edition> Named(std::string_view name);

// The edition a product label selects: keyword groups are searched in a fixed order
// (Upgrade, then Updater, then Loader), the first group with a match decides, and a label
// without any keyword is the Updater's. The order matters: the Updater's "KP740" must win
// over the Loader's "KP".
Edition FromLabel(std::string_view label);

// Selectors an edition's window takes from the label: the Upgrade window's sequence mode
// (0 or 1) and the Loader window's family (0, 1 or 2).
std::uint8_t SequenceModeFor(std::string_view label);
std::uint8_t LoaderFamilyFor(std::string_view label);

// The identify byte an edition sends, given its Loader family selector.
std::uint8_t IdentifyByte(Edition edition, std::uint8_t loader_family);

constexpr std::uint8_t Code(Edition e) {
    return static_cast<std::uint8_t>(e);
}

}  // namespace quillon::editions
