// The registry store: text values under the edition's key. Reading looks under
// HKEY_CURRENT_USER first, then HKEY_LOCAL_MACHINE (installations that set the machine's
// value keep working), without creating keys. Writing goes to HKEY_LOCAL_MACHINE when the
// user may write there, and otherwise to the same key under HKEY_CURRENT_USER (every
// standard user on a current Windows), creating it.
#include <windows.h>

#include <string>

#include "settings/settings.h"

namespace quillon::settings {
namespace {

// A remembered setting is a short text; a longer value is not ours and reads as absent.
constexpr DWORD kMaxValueBytes = 4096;

// The value's text when it is a string of a sane length; empty for any other type, size
// or failure.
std::string ReadText(HKEY root, const std::string& path, const std::string& name) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return {};
    std::string text;
    DWORD type = 0, size = 0;
    if (RegQueryValueExA(key, name.c_str(), nullptr, &type, nullptr, &size) == ERROR_SUCCESS &&
        (type == REG_SZ || type == REG_EXPAND_SZ) && size > 0 && size <= kMaxValueBytes) {
        std::string buffer(size, '\0');
        if (RegQueryValueExA(key, name.c_str(), nullptr, &type,
                             reinterpret_cast<BYTE*>(buffer.data()), &size) == ERROR_SUCCESS &&
            (type == REG_SZ || type == REG_EXPAND_SZ)) {
            buffer.resize(size < buffer.size() ? size : buffer.size());
            text = buffer.substr(0, buffer.find('\0'));  // a value need not end in NUL
        }
    }
    RegCloseKey(key);
    return text;
}

bool WriteText(HKEY root, const std::string& path, const std::string& name,
               const std::string& text) {
    HKEY key = nullptr;
    if (RegCreateKeyExA(root, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_SET_VALUE,
                        nullptr, &key, nullptr) != ERROR_SUCCESS)
        return false;  // no rights on that hive, or the key is locked
    const LONG r =
        RegSetValueExA(key, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                       DWORD(text.size() + 1));
    RegCloseKey(key);
    return r == ERROR_SUCCESS;
}

}  // namespace

std::string LoadSetting(std::string_view name, std::uint8_t edition, const Store&) {
    const std::string path(KeyPath(edition));
    const std::string value_name(name);
    std::string text = ReadText(HKEY_CURRENT_USER, path, value_name);
    if (text.empty()) text = ReadText(HKEY_LOCAL_MACHINE, path, value_name);
    return text;
}

SavedTo StoreSetting(std::string_view name, std::string_view value, std::uint8_t edition,
                     const Store& store) {
    const std::string path(KeyPath(edition));
    const std::string value_name(name);
    const std::string text(value);
    if (!store.machine_read_only && WriteText(HKEY_LOCAL_MACHINE, path, value_name, text)) {
        // The user's own value is read first: it would hide the one just written.
        HKEY key = nullptr;
        if (RegOpenKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, KEY_SET_VALUE, &key) ==
            ERROR_SUCCESS) {
            RegDeleteValueA(key, value_name.c_str());
            RegCloseKey(key);
        }
        return SavedTo::LocalMachine;
    }
    return WriteText(HKEY_CURRENT_USER, path, value_name, text) ? SavedTo::CurrentUser
                                                                : SavedTo::Nowhere;
}

std::string SettingPlace(std::uint8_t edition, const Store&) {
    return "HKEY_CURRENT_USER\\" + std::string(KeyPath(edition));
}

}  // namespace quillon::settings
