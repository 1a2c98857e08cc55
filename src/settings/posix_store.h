// The file store of systems without a registry. Each edition has one file named after its
// registry key, "<config>/TAV/Quillon.conf", "<config>/Orvanta/Upgrade.conf" and
// "<config>/Brannix/Loader.conf", holding lines "name=value" (value names compared without
// regard to case, as the registry does; "\\", "\n" and "\r" escaped in values). A write
// replaces the whole file atomically: a temporary file beside it is written and synced,
// then renamed over it, so a crash leaves the old value or the new, never a broken file.
#pragma once

#include <filesystem>
#include <string_view>

#include "settings/settings.h"

namespace quillon::settings {

// $XDG_CONFIG_HOME when it is an absolute path, else $HOME/.config; empty when neither is
// known.
std::filesystem::path ConfigHome();
// The file of an edition in a store.
std::filesystem::path StoreFile(std::uint8_t edition, const Store& store);
// Writes `content` to `file` through a temporary file and a rename, creating the missing
// directories. False when anything failed; the old file is then untouched.
bool WriteFileAtomically(const std::filesystem::path& file, std::string_view content);

}  // namespace quillon::settings
