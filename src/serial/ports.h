// The port listing: the serial ports present, each as a port name ("COM<n>",
// n >= 1, port number n - 1) and a friendly name. Windows lists the SetupAPI "Ports" class
// through SetupAPI (win32_ports.cpp); Linux lists every serial device of sysfs and
// the user's pinned devices, under COM numbers that stay the same from run to run
// (linux_ports.cpp; the scheme is described in docs/serial-ports.md).
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace quillon::serial {

inline constexpr std::size_t kPortNameLimit = 6;        // "COM257"
inline constexpr std::size_t kFriendlyNameLimit = 199;  // longer names are cut to this
inline constexpr int kHighestComNumber = 257;           // COM257 = port number 256

struct PortEntry {
    std::string port_name;
    std::string friendly_name;
    friend bool operator==(const PortEntry&, const PortEntry&) = default;
};

// Where the Linux listing looks; Windows ignores it.
struct PortPlaces {
    std::filesystem::path sysfs = "/sys";  // the root of sysfs (a fake tree in tests)
    std::filesystem::path dev = "/dev";    // where the kernel's device nodes are
    // The user's port directory: symlinks named COM<n> pin a device to a COM number, and
    // the file "numbers" remembers the numbers given to devices seen before. Empty: no
    // pins and numbers kept for this process only.
    std::filesystem::path pins;

    // sysfs and /dev of the machine; pins from $QUILLON_PORTS_DIR, else
    // $XDG_CONFIG_HOME/quillon/ports, else $HOME/.config/quillon/ports.
    static PortPlaces Default();
};

// The device set of one listing (opaque, one kind per platform).
struct PortDeviceSet;

// The set of present serial devices. Never null: when the platform's set cannot be built,
// the set lists nothing.
PortDeviceSet* OpenPortDeviceList(const PortPlaces& places = PortPlaces::Default());
// 1 when a port was yielded into the places; 0 when the listing has ended (the next call
// starts again at the first device); -1 when the set or the port name place is missing.
// The friendly name place may be null.
int NextComPort(PortDeviceSet* set, std::string* port_name, std::string* friendly_name);
// Releases the set (null is ignored).
void ClosePortDeviceList(PortDeviceSet* set);

// One whole listing: open, every NextComPort, close.
std::vector<PortEntry> ListPorts(const PortPlaces& places = PortPlaces::Default());

// The device of port number `port` (COM<port+1>). Linux: its path by the same scheme as
// the listing, empty when no present or pinned device has that number. Windows:
// "\\.\COM<port+1>".
std::string ResolvePortDevice(int port, const PortPlaces& places);

// Which adapter a device is, for a board's record: the device (its real path on Linux,
// "\\.\COM<n>" on Windows) and, for a USB adapter, its vendor and product ids
// ("0403:6001") and serial number, as the port listing reads them.
struct AdapterIdentity {
    std::string device;
    std::string usb;            // empty when the device is not on USB
    std::string serial_number;  // empty when the adapter states none
};
AdapterIdentity IdentifyAdapter(const std::string& device, const PortPlaces& places);

// A USB serial adapter present (a USB-serial converter or a CDC-ACM device): its port
// number (0 = COM1) and its name for the user (maker, product, serial number).
struct UsbAdapter {
    int port = 0;
    std::string name;
    friend bool operator==(const UsbAdapter&, const UsbAdapter&) = default;
};

// The USB serial adapters present, in the order of their port numbers. Linux: the listed
// devices that sit on a USB device in sysfs (pinned ones included); Windows: the "Ports"
// devices enumerated by the USB or FTDI bus driver.
std::vector<UsbAdapter> ListUsbAdapters(const PortPlaces& places = PortPlaces::Default());

// Whether a Windows device instance ID ("USB\VID_067B&PID_2303\5&1A2B&0&2",
// "FTDIBUS\VID_0403+PID_6001+A1B2C3D4A\0000") names a device of the USB or FTDI bus.
bool IsUsbInstanceId(std::string_view instance_id);
// A friendly name without the port the system appends to it ("USB Serial Port (COM3)"
// gives "USB Serial Port"), so that a message naming the port does not say it twice.
std::string WithoutPortSuffix(std::string_view friendly_name, std::string_view port_name);

// The decimal number at the start of `text`: leading blanks and a sign allowed, reading
// stops at the first other character, no digits give 0. Digits past 32 bits wrap, so the
// low bits of the result are always those of the number written.
std::int32_t ReadDecimal(std::string_view text);
// Whether `name` begins with "com" in any case.
bool HasComPrefix(std::string_view name);

}  // namespace quillon::serial
