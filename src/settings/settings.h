// Persistent settings: one named text value per edition that outlives the
// process. Windows keeps it in the registry under HKEY_LOCAL_MACHINE (win32_registry.cpp);
// other systems in one small file per edition under the user's configuration directory
// (posix_store.cpp, see posix_store.h).
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace quillon::settings {

// Where the values live. On Windows it is ignored: the registry is the store.
struct Store {
    // The configuration directory holding the editions' files; empty: $XDG_CONFIG_HOME, or
    // $HOME/.config when that is unset or not absolute.
    std::filesystem::path directory;
};

// The registry key of an edition code: 1 Upgrade, 2 Loader, any other code Updater. Each
// ends in a backslash.
std::string_view KeyPath(std::uint8_t edition);

// The stored text; empty when the key (file) or the value does not exist.
std::string LoadSetting(std::string_view name, std::uint8_t edition, const Store& store = {});
// Stores the text, replacing any earlier value; false when it could not be stored (the
// earlier value then stands), so that the user can be told.
bool SaveSetting(std::string_view name, std::string_view value, std::uint8_t edition,
                 const Store& store = {});
// Where an edition's values live, in words for a message: the file, or the registry key.
std::string SettingPlace(std::uint8_t edition, const Store& store = {});

}  // namespace quillon::settings
