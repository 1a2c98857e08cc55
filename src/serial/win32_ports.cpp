// The Windows port listing: the present devices of the SetupAPI device class
// "Ports", each device's "portname" from its hardware key (opened through cfgmgr32's
// CM_Open_DevNode_Key, loaded at run time) and its friendly name.
#include <windows.h>
// windows.h first
#include <cfgmgr32.h>
#include <setupapi.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
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
constexpr DWORD kInstanceIdPlace = 512;  // MAX_DEVICE_ID_LEN is 200

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

namespace {

// The text after `key` ("VID_") up to the next separator of an instance id.
std::string IdField(const std::string& id, const char* key) {
    const auto at = id.find(key);
    if (at == std::string::npos) return {};
    const auto from = at + std::strlen(key);
    return id.substr(from, id.find_first_of("&+\\", from) - from);
}

}  // namespace

// The port's device in the class "Ports" by its "portname"; a USB adapter's instance id
// reads "USB\VID_0403&PID_6001\A600" (the serial number last, unless Windows made one
// up: that one holds '&') or, with FTDI's own driver, "FTDIBUS\VID_0403+PID_6001+A600\0000".
AdapterIdentity IdentifyAdapter(const std::string& device, const PortPlaces& places) {
    AdapterIdentity a;
    a.device = device;
    const std::string wanted = device.rfind("\\\\.\\", 0) == 0 ? device.substr(4) : device;
    PortDeviceSet* set = OpenPortDeviceList(places);
    for (DWORD i = 0; set->devices != INVALID_HANDLE_VALUE; ++i) {
        SP_DEVINFO_DATA info;
        ZeroMemory(&info, sizeof info);
        info.cbSize = sizeof(SP_DEVINFO_DATA);
        if (!SetupDiEnumDeviceInfo(set->devices, i, &info)) break;
        HKEY key = SetupDiOpenDevRegKey(set->devices, &info, DICS_FLAG_GLOBAL, 0, DIREG_DEV,
                                        KEY_QUERY_VALUE);
        if (key == INVALID_HANDLE_VALUE) continue;
        char port[kPortNamePlace + 1] = {};
        DWORD size = kPortNamePlace, type = 0;
        const LONG read =
            RegQueryValueExA(key, "portname", nullptr, &type, reinterpret_cast<BYTE*>(port), &size);
        RegCloseKey(key);
        if (read != ERROR_SUCCESS || _stricmp(port, wanted.c_str()) != 0) continue;
        char instance[kInstanceIdPlace] = {};
        if (!SetupDiGetDeviceInstanceIdA(set->devices, &info, instance, sizeof instance, nullptr))
            break;
        const std::string id = instance;
        const std::string vid = IdField(id, "VID_"), pid = IdField(id, "PID_");
        if (vid.empty() || pid.empty()) break;
        a.usb = vid + ":" + pid;
        for (char& c : a.usb) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (const auto plus = id.find('+', id.find("PID_")); plus != std::string::npos) {
            a.serial_number = id.substr(plus + 1, id.find('\\', plus) - plus - 1);
        } else if (const auto last = id.rfind('\\');
                   last != std::string::npos && id.find('&', last) == std::string::npos) {
            a.serial_number = id.substr(last + 1);
        }
        break;
    }
    ClosePortDeviceList(set);
    return a;
}

// Every present device of the "Ports" class whose instance ID names the USB or FTDI bus,
// with its "PortName" (the device key) and friendly name.
std::vector<UsbAdapter> ListUsbAdapters(const PortPlaces&) {
    std::vector<UsbAdapter> out;
    DWORD count = 0;
    SetupDiClassGuidsFromNameA("Ports", nullptr, 0, &count);
    if (count == 0) return out;
    std::vector<GUID> classes(count);
    if (!SetupDiClassGuidsFromNameA("Ports", classes.data(), count, &count) || count == 0)
        return out;
    const HDEVINFO devices = SetupDiGetClassDevsA(&classes[0], nullptr, nullptr, DIGCF_PRESENT);
    if (devices == INVALID_HANDLE_VALUE) return out;
    SP_DEVINFO_DATA info;
    ZeroMemory(&info, sizeof info);
    info.cbSize = sizeof(SP_DEVINFO_DATA);
    for (DWORD i = 0; SetupDiEnumDeviceInfo(devices, i, &info); ++i) {
        char id[MAX_DEVICE_ID_LEN + 1] = {};
        if (!SetupDiGetDeviceInstanceIdA(devices, &info, id, sizeof id - 1, nullptr) ||
            !IsUsbInstanceId(id))
            continue;
        const HKEY key =
            SetupDiOpenDevRegKey(devices, &info, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_QUERY_VALUE);
        if (key == INVALID_HANDLE_VALUE) continue;
        char port[kPortNamePlace + 1] = {};
        DWORD size = kPortNamePlace, type = 0;
        const LONG read =
            RegQueryValueExA(key, "PortName", nullptr, &type, reinterpret_cast<BYTE*>(port), &size);
        RegCloseKey(key);
        if (read != ERROR_SUCCESS || type != REG_SZ || !HasComPrefix(port)) continue;
        const int number = ReadDecimal(port + 3);
        if (number < 1 || number > kHighestComNumber) continue;
        char friendly[kFriendlyNamePlace + 1] = {};
        if (!SetupDiGetDeviceRegistryPropertyA(devices, &info, SPDRP_FRIENDLYNAME, nullptr,
                                               reinterpret_cast<BYTE*>(friendly),
                                               kFriendlyNamePlace, nullptr))
            friendly[0] = '\0';
        std::string name = WithoutPortSuffix(friendly, port);
        if (name.size() > kFriendlyNameLimit) name.resize(kFriendlyNameLimit);
        out.push_back({number - 1, name.empty() ? std::string(port) : name});
    }
    SetupDiDestroyDeviceInfoList(devices);
    std::sort(out.begin(), out.end(),
              [](const UsbAdapter& a, const UsbAdapter& b) { return a.port < b.port; });
    return out;
}

std::string ResolvePortDevice(int port, const PortPlaces&) {
    char name[32];
    std::snprintf(name, sizeof name, "\\\\.\\COM%d", port + 1);
    return name;
}

}  // namespace quillon::serial
