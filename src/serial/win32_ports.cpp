// The Windows port listing: the present devices of the SetupAPI device class
// "Ports", each device's "portname" from its hardware key (opened through cfgmgr32's
// CM_Open_DevNode_Key, loaded at run time) and its friendly name.
#include <windows.h>
// windows.h first
#include <setupapi.h>

#include <cstdio>
#include <vector>

#include "serial/ports.h"

namespace quillon::serial {
namespace {

// CM_Open_DevNode_Key (cfgmgr32), resolved at the first call of a listing.
using OpenDevNodeKey = DWORD(WINAPI*)(DWORD dev_inst, REGSAM access, ULONG profile,
                                      ULONG disposition, PHKEY key, ULONG flags);
constexpr ULONG kRegDispositionOpenExisting = 1;
constexpr ULONG kCmRegistryHardware = 0;
constexpr DWORD kCrSuccess = 0;
constexpr DWORD kPortNamePlace = 7;  // "COM257" and its NUL
constexpr DWORD kFriendlyNamePlace = 300;

}  // namespace

struct PortDeviceSet {
    HDEVINFO devices = INVALID_HANDLE_VALUE;
    HMODULE cfgmgr = nullptr;  // loaded while a listing runs
    OpenDevNodeKey open_key = nullptr;
    DWORD position = 0;
};

namespace {

int EndListing(PortDeviceSet* set) {
    if (set->cfgmgr) FreeLibrary(set->cfgmgr);
    set->cfgmgr = nullptr;
    set->open_key = nullptr;
    set->position = 0;
    return 0;
}

}  // namespace

PortPlaces PortPlaces::Default() {
    return PortPlaces{};
}

PortDeviceSet* OpenPortDeviceList(const PortPlaces&) {
    auto* set = new PortDeviceSet;
    DWORD count = 0;
    SetupDiClassGuidsFromNameA("Ports", nullptr, 0, &count);
    if (count == 0) return set;  // no class "Ports": the set lists nothing
    std::vector<GUID> classes(count);
    if (!SetupDiClassGuidsFromNameA("Ports", classes.data(), count, &count) || count == 0)
        return set;
    set->devices = SetupDiGetClassDevsA(&classes[0], nullptr, nullptr, DIGCF_PRESENT);
    return set;
}

int NextComPort(PortDeviceSet* set, std::string* port_name, std::string* friendly_name) {
    if (!set || !port_name) return -1;
    if (!set->cfgmgr) {
        set->cfgmgr = LoadLibraryA("cfgmgr32");
        if (!set->cfgmgr) return EndListing(set);
        set->open_key = reinterpret_cast<OpenDevNodeKey>(
            reinterpret_cast<void*>(GetProcAddress(set->cfgmgr, "CM_Open_DevNode_Key")));
        if (!set->open_key) return EndListing(set);
        set->position = 0;
    }
    for (;;) {
        SP_DEVINFO_DATA info;
        ZeroMemory(&info, sizeof info);
        info.cbSize = sizeof(SP_DEVINFO_DATA);  // 28 in a 32-bit process, 32 in a 64-bit one
        if (set->devices == INVALID_HANDLE_VALUE ||
            !SetupDiEnumDeviceInfo(set->devices, set->position, &info))
            return EndListing(set);
        HKEY key = nullptr;
        if (set->open_key(info.DevInst, KEY_QUERY_VALUE, 0, kRegDispositionOpenExisting, &key,
                          kCmRegistryHardware) != kCrSuccess)
            return EndListing(set);
        char port[kPortNamePlace + 1] = {};
        DWORD size = kPortNamePlace, type = 0;
        const LONG read =
            RegQueryValueExA(key, "portname", nullptr, &type, reinterpret_cast<BYTE*>(port), &size);
        // The friendly name: its size first, then the text; longer ones are cut later.
        DWORD need = 0;
        SetupDiGetDeviceRegistryPropertyA(set->devices, &info, SPDRP_FRIENDLYNAME, nullptr, nullptr,
                                          0, &need);
        std::vector<char> friendly((need > kFriendlyNamePlace ? need : kFriendlyNamePlace) + 1,
                                   '\0');
        if (!SetupDiGetDeviceRegistryPropertyA(set->devices, &info, SPDRP_FRIENDLYNAME, nullptr,
                                               reinterpret_cast<BYTE*>(friendly.data()),
                                               DWORD(friendly.size() - 1), nullptr))
            friendly[0] = '\0';
        RegCloseKey(key);
        if (read != ERROR_SUCCESS) return EndListing(set);  // none, or longer than 6
        ++set->position;
        if (!HasComPrefix(port)) continue;  // LPT1 and the like
        if (ReadDecimal(port + 3) < 1) return EndListing(set);
        *port_name = port;
        if (friendly_name) {
            *friendly_name = friendly.data();
            if (friendly_name->size() > kFriendlyNameLimit)
                friendly_name->resize(kFriendlyNameLimit);
        }
        return 1;
    }
}

void ClosePortDeviceList(PortDeviceSet* set) {
    if (!set) return;
    if (set->devices != INVALID_HANDLE_VALUE) SetupDiDestroyDeviceInfoList(set->devices);
    EndListing(set);
    delete set;
}

std::string ResolvePortDevice(int port, const PortPlaces&) {
    char name[32];
    std::snprintf(name, sizeof name, "\\\\.\\COM%d", port + 1);
    return name;
}

}  // namespace quillon::serial
