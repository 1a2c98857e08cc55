// Persistent settings: one named text value per edition that outlives the
// process. Windows keeps it in the registry (win32_registry.cpp): the current user's value
// is read first, then the local machine's; a write goes to the local machine when the user
// may write there, else to the current user. Other systems keep one small file per edition
// under the user's configuration directory (posix_store.cpp, see posix_store.h).
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace quillon::settings {

// Where the values live.
struct Store {
    // The configuration directory holding the editions' files; empty: $XDG_CONFIG_HOME, or
    // $HOME/.config when that is unset or not absolute. Windows ignores it.
    std::filesystem::path directory;
    // Windows: write as a user without rights on HKEY_LOCAL_MACHINE would (tests; under
    // Wine every user may write there).
    bool machine_read_only = false;
};

// Where a stored value went.
enum class SavedTo { LocalMachine, CurrentUser, File, Nowhere };

// The registry key of an edition code: 1 Upgrade, 2 Loader, any other code Updater. Each
// ends in a backslash.
std::string_view KeyPath(std::uint8_t edition);

// The stored text; empty when the key (file) or the value does not exist.
std::string LoadSetting(std::string_view name, std::uint8_t edition, const Store& store = {});
// Stores the text, replacing any earlier value; false when it could not be stored (the
// earlier value then stands), so that the user can be told.
bool SaveSetting(std::string_view name, std::string_view value, std::uint8_t edition,
                 const Store& store = {});
// The same, saying where the value went (Nowhere: it could not be stored).
SavedTo StoreSetting(std::string_view name, std::string_view value, std::uint8_t edition,
                     const Store& store = {});
// Where an edition's values live, in words for a message: the file, or the registry key.
std::string SettingPlace(std::uint8_t edition, const Store& store = {});

}  // namespace quillon::settings
