#include "edition/edition.h"

namespace quillon::editions {
namespace {

constexpr std::string_view kUpdaterKeywords[] = {"KP740"};
constexpr std::string_view kUpgradeKeywords[] = {"KVD", "PXR", "ZNB", "DRASK", "HWM",
                                                 "JT4", "FVQ", "MZL", "TQX",   "NYB"};
constexpr std::string_view kLoaderKeywords[] = {"KP",    "LUV",     "WRD",   "VANTEL", "GDF",
                                                "YCM",   "PLOSK",   "PLOSF", "B.",     "J.",
                                                "FANTO", "DWELMAR", "JB."};

// Identify bytes the bootloaders answer to.
constexpr std::uint8_t kIdentifyDefault = 0xC2;
constexpr std::uint8_t kIdentifyFamily1 = 0xC6;
constexpr std::uint8_t kIdentifySequence = 0xC5;

constexpr std::array<Facts, kEditionCount> kEditions = {{
    {
        .edition = Edition::Updater,
        .name = "updater",
        .title = "Updater",
        .keywords = kUpdaterKeywords,
        .settings_key = "Software\\TAV\\Quillon\\",
        .settings_folder = "TAV",
        .settings_file = "Quillon.conf",
        .identify_bytes = {kIdentifyDefault, kIdentifyDefault, kIdentifyDefault},
        .window = WindowKind::Main,
        .update_caption = "&Update",
        .stop_caption = "&Stop",
        .port_command = "&Change port",
        .success_text = " Program Ok ",
        .success_shown = SuccessShown::Outcome,
        .try_shown = TryShown::TryCount,
        .report_shown = ReportShown::BiosLines,
        .shows_block_addresses = true,
        .shows_phase_texts = true,
        .has_plain_image_cue = true,
        .tells_loaded_image = true,
        .reports_refused_device = true,
        .status_bar_shown = true,
        .tells_missing_port = false,
        .has_udp_listener = true,
        .has_sequence_mode = false,
    },
    {
        .edition = Edition::Upgrade,
        .name = "upgrade",
        .title = "Upgrade",
        .keywords = kUpgradeKeywords,
        .settings_key = "Software\\Orvanta\\Upgrade\\",
        .settings_folder = "Orvanta",
        .settings_file = "Upgrade.conf",
        .identify_bytes = {kIdentifySequence, kIdentifySequence, kIdentifySequence},
        .window = WindowKind::Upgrade,
        .update_caption = "START",
        .stop_caption = "STOP",
        .port_command = "Serial Port",
        .success_text = "Program OK",
        .success_shown = SuccessShown::ActivityPanel,
        .try_shown = TryShown::SearchTextPanel,
        .report_shown = ReportShown::Nowhere,
        .shows_block_addresses = false,
        .shows_phase_texts = true,
        .has_plain_image_cue = true,
        .tells_loaded_image = false,
        .reports_refused_device = false,
        .status_bar_shown = true,
        .tells_missing_port = false,
        .has_udp_listener = true,
        .has_sequence_mode = true,
    },
    {
        .edition = Edition::Loader,
        .name = "loader",
        .title = "Loader",
        .keywords = kLoaderKeywords,
        .settings_key = "Software\\Brannix\\Loader\\",
        .settings_folder = "Brannix",
        .settings_file = "Loader.conf",
        .identify_bytes = {kIdentifyDefault, kIdentifyFamily1, kIdentifySequence},
        .window = WindowKind::Loader,
        .update_caption = "Update FW",
        .stop_caption = "Abort",
        .port_command = "&Change Port",
        .success_text = "Successfully updated",
        .success_shown = SuccessShown::ActivityLine,
        .try_shown = TryShown::SearchTextLine,
        .report_shown = ReportShown::LoaderValues,
        .shows_block_addresses = false,
        .shows_phase_texts = false,
        .has_plain_image_cue = false,
        .tells_loaded_image = false,
        .reports_refused_device = false,
        .status_bar_shown = false,
        .tells_missing_port = true,
        .has_udp_listener = false,
        .has_sequence_mode = false,
    },
}};

// The order in which the keyword groups are searched.
constexpr Edition kKeywordOrder[] = {Edition::Upgrade, Edition::Updater, Edition::Loader};

constexpr std::string_view kSequenceKeywords[] = {"WUT"};
constexpr std::string_view kLoaderFamily1Keywords[] = {"LUV", "VANTEL", "WRD",
                                                       "YCM", "GDF",    "DWELMAR"};
constexpr std::string_view kLoaderFamily2Keywords[] = {"FANTO"};

bool ContainsAny(std::string_view label, std::span<const std::string_view> words) {
    for (std::string_view word : words)
        if (label.find(word) != std::string_view::npos) return true;
    return false;
}

}  // namespace

const Facts& Of(Edition edition) {
    return kEditions[Code(edition) < kEditionCount ? Code(edition) : 0];
}

const Facts& ForCode(std::uint8_t code) {
    return kEditions[code < kEditionCount ? code : 0];
}

std::span<const Facts, kEditionCount> All() {
    return kEditions;
}

std::optional<Edition> Named(std::string_view name) {
    for (const Facts& f : kEditions)
        if (f.name == name) return f.edition;
    return std::nullopt;
}

Edition FromLabel(std::string_view label) {
    for (Edition e : kKeywordOrder)
        if (ContainsAny(label, Of(e).keywords)) return e;
    return Edition::Updater;
}

std::uint8_t SequenceModeFor(std::string_view label) {
    return ContainsAny(label, kSequenceKeywords) ? 1 : 0;
}

std::uint8_t LoaderFamilyFor(std::string_view label) {
    if (ContainsAny(label, kLoaderFamily1Keywords)) return 1;
    return ContainsAny(label, kLoaderFamily2Keywords) ? 2 : 0;
}

std::uint8_t IdentifyByte(Edition edition, std::uint8_t loader_family) {
    const auto& bytes = Of(edition).identify_bytes;
    return bytes[loader_family < bytes.size() ? loader_family : 0];
}

}  // namespace quillon::editions
