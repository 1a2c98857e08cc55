// The registry store: text values under HKEY_LOCAL_MACHINE, read without
// creating keys, written creating them.
#include <windows.h>

#include <string>

#include "settings/settings.h"

namespace quillon::settings {

std::string LoadSetting(std::string_view name, std::uint8_t edition, const Store&) {
    const std::string path(KeyPath(edition));
    const std::string value_name(name);
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return {};
    std::string text;
    DWORD type = 0, size = 0;
    if (RegQueryValueExA(key, value_name.c_str(), nullptr, &type, nullptr, &size) ==
            ERROR_SUCCESS &&
        (type == REG_SZ || type == REG_EXPAND_SZ) && size > 0) {
        std::string buffer(size, '\0');
        if (RegQueryValueExA(key, value_name.c_str(), nullptr, &type,
                             reinterpret_cast<BYTE*>(buffer.data()), &size) == ERROR_SUCCESS) {
            buffer.resize(size < buffer.size() ? size : buffer.size());
            text = buffer.substr(0, buffer.find('\0'));
        }
    }
    RegCloseKey(key);
    return text;
}

bool SaveSetting(std::string_view name, std::string_view value, std::uint8_t edition,
                 const Store&) {
    const std::string path(KeyPath(edition));
    const std::string value_name(name);
    const std::string text(value);
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_WRITE, nullptr, &key, nullptr) != ERROR_SUCCESS)
        return false;  // no rights on the local machine's hive: not remembered
    const bool stored = RegSetValueExA(key, value_name.c_str(), 0, REG_SZ,
                                       reinterpret_cast<const BYTE*>(text.c_str()),
                                       DWORD(text.size() + 1)) == ERROR_SUCCESS;
    RegCloseKey(key);
    return stored;
}

std::string SettingPlace(std::uint8_t edition, const Store&) {
    return "HKEY_LOCAL_MACHINE\\" + std::string(KeyPath(edition));
}

}  // namespace quillon::settings
