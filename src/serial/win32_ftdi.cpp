#include "serial/win32_ftdi.h"

#include <cctype>
#include <cstring>
#include <string>

namespace quillon::serial {
namespace {

constexpr int kLargestLatencyTimerMs = 255;  // what the driver accepts
constexpr DWORD kKeyNamePlace = 256;         // registry key names are at most 255 characters
constexpr DWORD kPortNamePlace = 16;         // "COM257" with room to tell longer names apart

bool SameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (std::toupper(static_cast<unsigned char>(a[i])) !=
            std::toupper(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

// The subkey names of a key, in the registry's order.
template <typename Visit>
bool EachSubkey(HKEY key, Visit visit) {
    char name[kKeyNamePlace];
    for (DWORD i = 0;; ++i) {
        DWORD size = kKeyNamePlace;
        const LONG r = RegEnumKeyExA(key, i, name, &size, nullptr, nullptr, nullptr, nullptr);
        if (r == ERROR_NO_MORE_ITEMS) return false;
        if (r != ERROR_SUCCESS) continue;  // a name that does not fit: not an FTDI device
        if (visit(std::string(name, size))) return true;
    }
}

// The "Device Parameters" key's latency timer when its port is `port_name`.
std::optional<int> LatencyOf(HKEY parameters, std::string_view port_name, bool& found) {
    char port[kPortNamePlace + 1] = {};
    DWORD size = kPortNamePlace, type = 0;
    if (RegQueryValueExA(parameters, "PortName", nullptr, &type, reinterpret_cast<BYTE*>(port),
                         &size) != ERROR_SUCCESS ||
        type != REG_SZ)
        return std::nullopt;
    if (!SameName(std::string_view(port, strnlen(port, kPortNamePlace)), port_name))
        return std::nullopt;
    found = true;
    DWORD ms = 0;
    size = sizeof ms;
    if (RegQueryValueExA(parameters, "LatencyTimer", nullptr, &type, reinterpret_cast<BYTE*>(&ms),
                         &size) != ERROR_SUCCESS ||
        type != REG_DWORD || size != sizeof ms || ms > DWORD(kLargestLatencyTimerMs))
        return std::nullopt;
    return int(ms);
}

}  // namespace

std::optional<int> FtdiLatencyTimerMs(std::string_view port_name, HKEY root, const char* enum_key) {
    HKEY bus = nullptr;
    if (RegOpenKeyExA(root, enum_key, 0, KEY_READ, &bus) != ERROR_SUCCESS) return std::nullopt;
    std::optional<int> result;
    bool found = false;
    EachSubkey(bus, [&](const std::string& device) {
        HKEY dev = nullptr;
        if (RegOpenKeyExA(bus, device.c_str(), 0, KEY_READ, &dev) != ERROR_SUCCESS) return false;
        EachSubkey(dev, [&](const std::string& instance) {
            HKEY parameters = nullptr;
            const std::string path = instance + "\\Device Parameters";
            if (RegOpenKeyExA(dev, path.c_str(), 0, KEY_QUERY_VALUE, &parameters) != ERROR_SUCCESS)
                return false;
            result = LatencyOf(parameters, port_name, found);
            RegCloseKey(parameters);
            return found;
        });
        RegCloseKey(dev);
        return found;
    });
    RegCloseKey(bus);
    return result;
}

}  // namespace quillon::serial
