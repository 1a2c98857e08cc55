// The Linux port listing and COM-number scheme (docs/serial-ports.md tells it the user's
// way).
//
// Devices: every entry of <sysfs>/class/tty that stands for hardware (it has a "device"
// link; 8250/16550 placeholders whose "type" is 0, PORT_UNKNOWN, are left out), and the
// Bluetooth rfcomm ttys (which may have no such link), listed as <dev>/<kernel name>.
//
// Numbers, first rule that applies:
//   1. Pins: a symlink <pins>/COM<n> (1 <= n <= 257) pins whatever it points at to COM<n>,
//      a pseudo-terminal included. A pin reserves its number even while its target is
//      missing; the target is then not listed and opening it fails.
//   2. Remembered: <pins>/numbers holds lines "COM<n> <identity>" for every device seen
//      before; a device gets its remembered number back, whatever its kernel name is now.
//   3. New devices get the number ttyS<k> naturally has (COM<k+1>) when it is free, else
//      the lowest free number; the number is written to <pins>/numbers at once.
// A device's identity: USB devices (USB-serial, CDC-ACM) by vendor, product and serial
// number, or by the USB socket path when they have no serial number, plus interface and
// port within it; every other device by its kernel name (ttyS0, ttyAMA0, rfcomm0), which
// names the same hardware from boot to boot. Identical adapters (many share one vendor,
// product and serial number) are told apart by their USB socket: of those present, the one
// in the first socket keeps the plain identity and each other one adds ":at=<socket>"; a
// device whose socket form is remembered keeps it even when it is alone.
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <fstream>
#include <map>
#include <optional>
#include <set>

#include "serial/ports.h"
#include "settings/posix_store.h"

namespace quillon::serial {
namespace fs = std::filesystem;
namespace {

struct Found {
    std::string identity;
    fs::path path;            // the device node, or the pin's target
    std::string description;  // maker, product, serial number; may be empty
    std::string socket;       // USB devices: the port path of their socket ("1-2.3")
    int natural = 0;          // the number the kernel name suggests (ttyS<k> -> k + 1)
    int number = 0;           // the COM number given
};

// A sysfs attribute, first line, control characters blanked, outer blanks trimmed.
std::string Attribute(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) return {};
    std::string s;
    std::getline(in, s);
    if (s.size() > 4096) s.resize(4096);
    for (char& c : s)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = ' ';
    const auto b = s.find_first_not_of(' ');
    if (b == std::string::npos) return {};
    return s.substr(b, s.find_last_not_of(' ') - b + 1);
}

bool StartsWith(std::string_view s, std::string_view prefix) {
    return s.substr(0, prefix.size()) == prefix;
}

// "COM<digits>" in any case, with 1 <= number <= 257 and at most 6 characters.
int PinNumber(std::string_view name) {
    if (name.size() < 4 || name.size() > kPortNameLimit || !HasComPrefix(name)) return 0;
    for (char c : name.substr(3))
        if (c < '0' || c > '9') return 0;
    const int n = ReadDecimal(name.substr(3));
    return n >= 1 && n <= kHighestComNumber ? n : 0;
}

// The natural order of kernel names: ttyS2 before ttyS10.
bool NameLess(const std::string& a, const std::string& b) {
    auto split = [](const std::string& s) {
        std::size_t i = s.size();
        while (i > 0 && std::isdigit(static_cast<unsigned char>(s[i - 1]))) --i;
        const long n = i < s.size() && s.size() - i < 9 ? std::atol(s.c_str() + i) : -1;
        return std::pair(s.substr(0, i), n);
    };
    return split(a) < split(b);
}

// Comparable form of a path: the real path when it exists, else the path as written.
fs::path Canonical(const fs::path& p) {
    std::error_code ec;
    fs::path c = fs::canonical(p, ec);
    return ec ? p.lexically_normal() : c;
}

// The USB device (the sysfs folder with idVendor) above a tty's device folder, and the
// interface on the way; empty when the tty is not on USB.
fs::path UsbDeviceAbove(const fs::path& start, fs::path* interface_dir) {
    std::error_code ec;
    for (fs::path p = start; !p.empty() && p != p.root_path(); p = p.parent_path()) {
        if (interface_dir && interface_dir->empty() && fs::exists(p / "bInterfaceNumber", ec))
            *interface_dir = p;
        if (fs::exists(p / "idVendor", ec)) return p;
    }
    return {};
}

// Maker, product and serial number of the USB device above a tty, and its identity.
void DescribeUsb(const fs::path& device_dir, Found& d) {
    std::error_code ec;
    const fs::path start = fs::canonical(device_dir, ec);
    if (ec) return;
    fs::path interface_dir;
    if (const fs::path p = UsbDeviceAbove(start, &interface_dir); !p.empty()) {
        const std::string maker = Attribute(p / "manufacturer");
        const std::string product = Attribute(p / "product");
        const std::string serial = Attribute(p / "serial");
        std::string id = "usb:" + Attribute(p / "idVendor") + ":" + Attribute(p / "idProduct");
        id += serial.empty() ? ":at=" + p.filename().string() : ":sn=" + serial;
        if (!interface_dir.empty()) id += ":if=" + Attribute(interface_dir / "bInterfaceNumber");
        if (const std::string port = Attribute(start / "port_number"); !port.empty())
            id += ":port=" + port;
        d.identity = id;
        d.socket = p.filename().string();
        std::string desc = maker;
        if (!product.empty()) desc += (desc.empty() ? "" : " ") + product;
        if (!serial.empty()) desc += (desc.empty() ? "S/N " : ", S/N ") + serial;
        d.description = desc;
        return;
    }
}

std::vector<Found> ScanSysfs(const PortPlaces& places) {
    std::vector<Found> out;
    const fs::path dir = places.sysfs / "class" / "tty";
    std::error_code ec;
    std::vector<std::string> names;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec))
        names.push_back(it->path().filename().string());
    std::sort(names.begin(), names.end(), NameLess);
    for (const std::string& name : names) {
        const fs::path entry = dir / name;
        const bool has_device = fs::exists(entry / "device", ec);
        if (!has_device && !StartsWith(name, "rfcomm")) continue;  // a virtual tty
        if (fs::exists(entry / "type", ec) && Attribute(entry / "type") == "0")
            continue;  // an 8250 placeholder without a UART behind it
        Found d;
        d.identity = "tty:" + name;
        d.path = places.dev / name;
        if (has_device) DescribeUsb(entry / "device", d);
        if (StartsWith(name, "ttyS") && name.size() > 4 && name.size() < 8 &&
            std::all_of(name.begin() + 4, name.end(), [](char c) { return c >= '0' && c <= '9'; }))
            d.natural = std::atoi(name.c_str() + 4) + 1;
        out.push_back(std::move(d));
    }
    return out;
}

std::map<int, fs::path> ReadPins(const fs::path& pins) {
    std::map<int, fs::path> out;
    if (pins.empty()) return out;
    std::error_code ec;
    std::vector<std::pair<std::string, fs::path>> links;
    for (fs::directory_iterator it(pins, ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code link_ec;
        if (PinNumber(it->path().filename().string()) == 0 || !it->is_symlink(link_ec))
            continue;  // not a pin: "numbers", "LPT1", a plain file ...
        fs::path target = fs::read_symlink(it->path(), link_ec);
        if (link_ec || target.empty()) continue;
        if (target.is_relative()) target = pins / target;
        links.emplace_back(it->path().filename().string(), target.lexically_normal());
    }
    // Two pins of one number ("COM7" and "com7"): the first in name order wins.
    std::sort(links.begin(), links.end());
    for (const auto& [name, target] : links) out.emplace(PinNumber(name), target);
    return out;
}

// Lines "COM<n> <identity>"; the identity is the rest of the line (it may hold blanks).
// Lines that are not of that form are passed over; of two lines for one number or one
// identity, the first counts.
std::map<std::string, int> ReadNumbers(const fs::path& file) {
    std::map<std::string, int> out;
    std::set<int> numbers;
    std::ifstream in(file);
    std::string line;
    while (std::getline(in, line)) {
        const auto blank = line.find(' ');
        if (blank == std::string::npos || blank + 1 >= line.size()) continue;
        const int n = PinNumber(line.substr(0, blank));
        if (n != 0 && !numbers.count(n) && out.emplace(line.substr(blank + 1), n).second)
            numbers.insert(n);
    }
    return out;
}

// Gives each of several devices with one identity an identity of its own (see the top).
void TellApartIdentical(std::vector<Found>& sysfs, const std::map<std::string, int>& remembered) {
    std::map<std::string, std::vector<Found*>> by_identity;
    for (Found& d : sysfs)
        if (!d.socket.empty()) by_identity[d.identity].push_back(&d);
    for (auto& [identity, group] : by_identity) {
        std::sort(group.begin(), group.end(),
                  [](const Found* a, const Found* b) { return NameLess(a->socket, b->socket); });
        bool plain_taken = false;
        for (Found* d : group) {
            const std::string at = identity + ":at=" + d->socket;
            if (remembered.count(at))
                d->identity = at;
            else if (plain_taken)
                d->identity = at;
            else
                plain_taken = true;
        }
    }
}

// A new device's number: its natural one when free, else the lowest that no device,
// present or remembered, holds; 0 when all 257 are taken.
int NumberForNewDevice(int natural, const std::set<int>& taken, const std::set<int>& claimed) {
    if (natural >= 1 && natural <= kHighestComNumber && !taken.count(natural) &&
        !claimed.count(natural))
        return natural;
    for (int k = 1; k <= kHighestComNumber; ++k)
        if (!taken.count(k) && !claimed.count(k)) return k;
    // Every number is spoken for: reuse one remembered for an absent device.
    for (int k = 1; k <= kHighestComNumber; ++k)
        if (!taken.count(k)) return k;
    return 0;
}

void WriteNumbers(const fs::path& numbers_file, const std::map<std::string, int>& remembered) {
    std::map<int, std::string> by_number;
    for (const auto& [identity, n] : remembered) by_number[n] = identity;
    std::string text;
    for (const auto& [n, identity] : by_number)
        text += "COM" + std::to_string(n) + " " + identity + "\n";
    settings::WriteFileAtomically(numbers_file, text);  // unwritable: this run only
}

// A pinned device (a dangling pin is not listed): a pin of a listed device takes that
// device's description and its USB socket.
Found PinnedDevice(int number, const fs::path& target, const std::vector<Found>& sysfs) {
    Found d;
    d.identity = "pin";
    d.path = target;
    d.number = number;
    for (const Found& s : sysfs)
        if (Canonical(s.path) == Canonical(target)) {
            d.description = s.description;
            d.socket = s.socket;
        }
    return d;
}

// Every device with its COM number, in the order of the numbers.
std::vector<Found> Enumerate(const PortPlaces& places) {
    const std::map<int, fs::path> pins = ReadPins(places.pins);
    const fs::path numbers_file = places.pins.empty() ? fs::path() : places.pins / "numbers";
    std::map<std::string, int> remembered = ReadNumbers(numbers_file);

    std::set<int> taken;
    std::set<fs::path> pinned_targets;
    std::vector<Found> out;
    std::vector<Found> sysfs = ScanSysfs(places);
    TellApartIdentical(sysfs, remembered);
    for (const auto& [n, target] : pins) {
        taken.insert(n);
        pinned_targets.insert(Canonical(target));
        std::error_code ec;
        if (fs::exists(target, ec)) out.push_back(PinnedDevice(n, target, sysfs));
    }

    std::vector<Found*> fresh;
    std::set<int> claimed;  // numbers that belong to some identity, present or not
    for (const auto& [identity, n] : remembered) claimed.insert(n);
    for (Found& d : sysfs) {
        if (pinned_targets.count(Canonical(d.path))) continue;  // listed as its pin
        auto it = remembered.find(d.identity);
        if (it != remembered.end() && !taken.count(it->second)) {
            d.number = it->second;
            taken.insert(d.number);
        } else {
            fresh.push_back(&d);
        }
    }
    // New devices: those with a natural number first, so ttyS<k> keeps COM<k+1>.
    std::stable_sort(fresh.begin(), fresh.end(), [](const Found* a, const Found* b) {
        return (a->natural != 0) > (b->natural != 0);
    });
    bool changed = false;
    for (Found* d : fresh) {
        const int n = NumberForNewDevice(d->natural, taken, claimed);
        if (n == 0) continue;  // more than 257 ports: the rest are not listed
        d->number = n;
        taken.insert(n);
        std::erase_if(remembered, [n](const auto& kv) { return kv.second == n; });
        remembered[d->identity] = n;
        claimed.insert(n);
        changed = true;
    }
    if (changed && !numbers_file.empty()) WriteNumbers(numbers_file, remembered);

    for (Found& d : sysfs)
        if (d.number != 0) out.push_back(std::move(d));
    std::sort(out.begin(), out.end(),
              [](const Found& a, const Found& b) { return a.number < b.number; });
    return out;
}

std::string FriendlyName(const Found& d) {
    const std::string tail = " - " + d.path.string() + " (COM" + std::to_string(d.number) + ")";
    std::string desc = d.description;
    if (desc.empty()) {
        std::string name = tail.substr(3);
        if (name.size() > kFriendlyNameLimit) name.resize(kFriendlyNameLimit);
        return name;
    }
    if (desc.size() + tail.size() > kFriendlyNameLimit) {
        const std::size_t room =
            kFriendlyNameLimit > tail.size() + 3 ? kFriendlyNameLimit - tail.size() - 3 : 0;
        desc = desc.substr(0, room) + "...";
    }
    std::string name = desc + tail;
    if (name.size() > kFriendlyNameLimit) name.resize(kFriendlyNameLimit);
    return name;
}

fs::path DefaultPins() {
    if (const char* d = std::getenv("QUILLON_PORTS_DIR"); d && *d) return fs::path(d);
    const fs::path home = settings::ConfigHome();
    return home.empty() ? fs::path() : home / "quillon" / "ports";
}

}  // namespace

// The listing of one OpenPortDeviceList: the devices as the platform gives them, with the
// position of NextComPort.
struct PortDeviceSet {
    std::vector<PortEntry> entries;
    std::size_t position = 0;
};

PortPlaces PortPlaces::Default() {
    PortPlaces p;
    p.pins = DefaultPins();
    return p;
}

PortDeviceSet* OpenPortDeviceList(const PortPlaces& places) {
    auto* set = new PortDeviceSet;
    for (const Found& d : Enumerate(places))
        set->entries.push_back({"COM" + std::to_string(d.number), FriendlyName(d)});
    return set;
}

int NextComPort(PortDeviceSet* set, std::string* port_name, std::string* friendly_name) {
    if (!set || !port_name) return -1;
    while (set->position < set->entries.size()) {
        const PortEntry& e = set->entries[set->position];
        if (e.port_name.size() > kPortNameLimit) break;  // unreadable port name: ends
        ++set->position;
        if (!HasComPrefix(e.port_name)) continue;
        if (ReadDecimal(std::string_view(e.port_name).substr(3)) < 1) break;
        *port_name = e.port_name;
        if (friendly_name) *friendly_name = e.friendly_name.substr(0, kFriendlyNameLimit);
        return 1;
    }
    set->position = 0;  // the listing has ended: the next call starts a new one
    return 0;
}

void ClosePortDeviceList(PortDeviceSet* set) {
    delete set;
}

AdapterIdentity IdentifyAdapter(const std::string& device, const PortPlaces& places) {
    AdapterIdentity a;
    std::error_code ec;
    const fs::path real = fs::canonical(device, ec);
    a.device = ec ? device : real.string();
    if (ec) return a;
    const fs::path entry = places.sysfs / "class" / "tty" / real.filename() / "device";
    const fs::path start = fs::canonical(entry, ec);
    if (ec) return a;  // not a tty of sysfs: a pseudo-terminal, a missing device
    if (const fs::path usb = UsbDeviceAbove(start, nullptr); !usb.empty()) {
        a.usb = Attribute(usb / "idVendor") + ":" + Attribute(usb / "idProduct");
        a.serial_number = Attribute(usb / "serial");
    }
    return a;
}

std::vector<UsbAdapter> ListUsbAdapters(const PortPlaces& places) {
    std::vector<UsbAdapter> out;
    for (const Found& d : Enumerate(places))
        if (!d.socket.empty())
            out.push_back({d.number - 1, d.description.empty() ? d.path.string() : d.description});
    return out;
}

std::string ResolvePortDevice(int port, const PortPlaces& places) {
    const int n = port + 1;
    if (n < 1 || n > kHighestComNumber) return {};
    // A pin names its target even while it is missing: opening it then fails.
    const std::map<int, fs::path> pins = ReadPins(places.pins);
    if (auto it = pins.find(n); it != pins.end()) return it->second.string();
    for (const Found& d : Enumerate(places))
        if (d.number == n) return d.path.string();
    return {};
}

}  // namespace quillon::serial
