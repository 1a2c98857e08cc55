// The Linux listing against a fake sysfs tree: which devices are listed, under which COM
// numbers and friendly names, and that the numbers stay with their devices.
#include <pty.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <fstream>

#include "serial/channel.h"
#include "serial/ports.h"
#include "serial/posix_backend.h"

namespace quillon::serial {
namespace {
namespace fs = std::filesystem;

struct TempDir {
    fs::path path;
    TempDir() {
        std::string t = (fs::temp_directory_path() / "quillon-ports-XXXXXX").string();
        path = mkdtemp(t.data());
    }
    ~TempDir() {
        std::error_code ec;
        fs::remove_all(path, ec);
    }
};

void Write(const fs::path& file, const std::string& text) {
    fs::create_directories(file.parent_path());
    std::ofstream(file) << text;
}

// A fake /sys with a few kinds of serial device; device nodes are plain files in a fake
// /dev.
struct FakeSys {
    TempDir dir;
    PortPlaces places;
    FakeSys() {
        places.sysfs = dir.path / "sys";
        places.dev = dir.path / "dev";
        places.pins = dir.path / "ports";
        fs::create_directories(places.sysfs / "class" / "tty");
        fs::create_directories(places.pins);
        // Virtual terminals have no "device" link and are not serial ports.
        fs::create_directories(places.sysfs / "class" / "tty" / "tty0");
        fs::create_directories(places.sysfs / "class" / "tty" / "console");
    }
    fs::path devices() const { return places.sysfs / "devices"; }
    // A class/tty entry whose "device" link points at `device` (relative to devices/).
    void tty(const std::string& name, const std::string& device,
             const std::map<std::string, std::string>& attrs = {}) {
        const fs::path entry = places.sysfs / "class" / "tty" / name;
        fs::create_directories(entry);
        fs::create_directories(devices() / device);
        fs::create_directory_symlink(devices() / device, entry / "device");
        for (const auto& [k, v] : attrs) Write(entry / k, v + "\n");
        Write(places.dev / name, "");
    }
    // A USB device with one interface; the tty hangs below the interface.
    std::string usb(const std::string& at, const std::string& vid, const std::string& pid,
                    const std::string& maker, const std::string& product,
                    const std::string& serial) {
        const std::string dev = "pci0000:00/0000:00:14.0/usb1/" + at;
        Write(devices() / dev / "idVendor", vid + "\n");
        Write(devices() / dev / "idProduct", pid + "\n");
        if (!maker.empty()) Write(devices() / dev / "manufacturer", maker + "\n");
        if (!product.empty()) Write(devices() / dev / "product", product + "\n");
        if (!serial.empty()) Write(devices() / dev / "serial", serial + "\n");
        Write(devices() / dev / (at + ":1.0") / "bInterfaceNumber", "00\n");
        return dev + "/" + at + ":1.0";
    }
    void usb_serial(const std::string& name, const std::string& usb_dev) {
        Write(devices() / usb_dev / name / "port_number", "0\n");
        tty(name, usb_dev + "/" + name);
    }
    void unplug(const std::string& name) {
        fs::remove_all(places.sysfs / "class" / "tty" / name);
        fs::remove(places.dev / name);
    }
    std::vector<PortEntry> list() const { return ListPorts(places); }
    std::string dev(const std::string& name) const { return (places.dev / name).string(); }
};

std::vector<std::string> Names(const std::vector<PortEntry>& entries) {
    std::vector<std::string> out;
    for (const auto& e : entries) out.push_back(e.port_name);
    return out;
}

const PortEntry* Find(const std::vector<PortEntry>& entries, const std::string& port) {
    for (const auto& e : entries)
        if (e.port_name == port) return &e;
    return nullptr;
}

// A machine with one real and one placeholder 8250 port, an on-board UART, a USB-serial
// adapter, a CDC-ACM device and a Bluetooth rfcomm link.
void Populate(FakeSys& s) {
    s.tty("ttyS0", "platform/serial8250", {{"type", "4"}});
    s.tty("ttyS1", "platform/serial8250", {{"type", "0"}});  // no UART behind it
    s.tty("ttyAMA0", "platform/fe201000.serial", {{"type", "83"}});
    s.usb_serial("ttyUSB0", s.usb("1-2", "0403", "6001", "FTDI", "FT232R USB UART", "A600"));
    s.tty("ttyACM0", s.usb("1-3", "2341", "0043", "Arduino (www.arduino.cc)", "", "7573"));
    const fs::path rf = s.places.sysfs / "class" / "tty" / "rfcomm0";  // no device link
    fs::create_directories(rf);
    Write(s.places.dev / "rfcomm0", "");
}

TEST(LinuxPorts, ListsEverySerialDeviceWithFriendlyNames) {
    FakeSys s;
    Populate(s);
    const auto ports = s.list();
    // ttyS0 keeps its natural COM1; the others take the lowest free numbers in name order.
    ASSERT_EQ(Names(ports), (std::vector<std::string>{"COM1", "COM2", "COM3", "COM4", "COM5"}));
    EXPECT_EQ(ports[0].friendly_name, s.dev("ttyS0") + " (COM1)");  // no maker, no product
    EXPECT_EQ(ports[1].friendly_name, s.dev("rfcomm0") + " (COM2)");
    EXPECT_EQ(ports[2].friendly_name,
              "Arduino (www.arduino.cc), S/N 7573 - " + s.dev("ttyACM0") + " (COM3)");
    EXPECT_EQ(ports[3].friendly_name, s.dev("ttyAMA0") + " (COM4)");
    EXPECT_EQ(ports[4].friendly_name,
              "FTDI FT232R USB UART, S/N A600 - " + s.dev("ttyUSB0") + " (COM5)");
    for (int port = 0; port < 5; ++port) EXPECT_FALSE(ResolvePortDevice(port, s.places).empty());
    EXPECT_EQ(ResolvePortDevice(4, s.places), s.dev("ttyUSB0"));
    EXPECT_EQ(ResolvePortDevice(5, s.places), "");  // COM6: nothing
    EXPECT_EQ(ResolvePortDevice(-1, s.places), "");
    EXPECT_EQ(ResolvePortDevice(257, s.places), "");
}

// What a board's record names as its adapter: USB ids and serial number where there are
// some, always the device.
TEST(LinuxPorts, AdapterIdentityOfEachKindOfDevice) {
    FakeSys s;
    Populate(s);
    struct Row {
        std::string device, usb, serial;
    };
    for (const Row& r : std::vector<Row>{{s.dev("ttyUSB0"), "0403:6001", "A600"},
                                         {s.dev("ttyACM0"), "2341:0043", "7573"},
                                         {s.dev("ttyS0"), "", ""},
                                         {s.dev("rfcomm0"), "", ""},
                                         {s.dev("ttyUSB9"), "", ""}}) {  // not present
        const AdapterIdentity a = IdentifyAdapter(r.device, s.places);
        EXPECT_EQ(a.device, r.device);
        EXPECT_EQ(a.usb, r.usb) << r.device;
        EXPECT_EQ(a.serial_number, r.serial) << r.device;
    }
}

// ttyS<k> takes COM<k+1> also when it is not the lowest port; a device without a natural
// number takes the lowest one left.
TEST(LinuxPorts, ASerialPortAboveTheFirstKeepsItsNaturalNumber) {
    FakeSys s;
    s.tty("ttyS2", "platform/serial8250", {{"type", "4"}});
    s.usb_serial("ttyUSB0", s.usb("1-2", "0403", "6001", "FTDI", "FT232R USB UART", "A600"));
    const auto ports = s.list();
    ASSERT_EQ(Names(ports), (std::vector<std::string>{"COM1", "COM3"}));
    EXPECT_EQ(Find(ports, "COM3")->friendly_name, s.dev("ttyS2") + " (COM3)");
    EXPECT_EQ(ResolvePortDevice(2, s.places), s.dev("ttyS2"));
    EXPECT_EQ(ResolvePortDevice(0, s.places), s.dev("ttyUSB0"));
}

// The USB serial adapters among the ports: none on a machine of on-board ports, each USB
// device (USB-serial and CDC-ACM) with its name otherwise, a pinned adapter under its pin.
TEST(LinuxPorts, UsbAdaptersAreTheDevicesOnUsb) {
    FakeSys s;
    s.tty("ttyS0", "platform/serial8250", {{"type", "4"}});
    EXPECT_TRUE(ListUsbAdapters(s.places).empty());

    s.usb_serial("ttyUSB0", s.usb("1-2", "0403", "6001", "FTDI", "FT232R USB UART", "A600"));
    EXPECT_EQ(ListUsbAdapters(s.places),
              (std::vector<UsbAdapter>{{1, "FTDI FT232R USB UART, S/N A600"}}));

    s.tty("ttyACM0", s.usb("1-3", "2341", "0043", "", "", ""));  // nothing to name it by
    EXPECT_EQ(ListUsbAdapters(s.places), (std::vector<UsbAdapter>{
                                             {1, "FTDI FT232R USB UART, S/N A600"},
                                             {2, s.dev("ttyACM0")},
                                         }));

    fs::create_symlink(s.dev("ttyUSB0"), s.places.pins / "COM9");
    const auto adapters = ListUsbAdapters(s.places);
    ASSERT_EQ(adapters.size(), 2u);
    EXPECT_EQ(adapters.back(), (UsbAdapter{8, "FTDI FT232R USB UART, S/N A600"}));
}

TEST(LinuxPorts, NumbersStayWithTheirDevicesAcrossRunsAndReplugs) {
    FakeSys s;
    Populate(s);
    const auto first = s.list();
    EXPECT_EQ(s.list(), first);  // the next run

    // The FTDI adapter is unplugged: its COM5 stays reserved for it. A second adapter
    // plugged in meanwhile gets a new number, and comes back as ttyUSB0 while the first
    // one returns as ttyUSB1 in another socket: each keeps its own number.
    s.unplug("ttyUSB0");
    EXPECT_EQ(Find(s.list(), "COM5"), nullptr);
    s.usb_serial("ttyUSB0", s.usb("1-4", "067b", "2303", "Prolific", "USB-Serial", "P1"));
    s.usb_serial("ttyUSB1", s.usb("1-5", "0403", "6001", "FTDI", "FT232R USB UART", "A600"));
    const auto after = s.list();
    ASSERT_NE(Find(after, "COM5"), nullptr);
    EXPECT_EQ(Find(after, "COM5")->friendly_name,
              "FTDI FT232R USB UART, S/N A600 - " + s.dev("ttyUSB1") + " (COM5)");
    ASSERT_NE(Find(after, "COM6"), nullptr);
    EXPECT_NE(Find(after, "COM6")->friendly_name.find("Prolific"), std::string::npos);
    EXPECT_EQ(ResolvePortDevice(4, s.places), s.dev("ttyUSB1"));

    // Without a serial number a device is known by its socket.
    s.usb_serial("ttyUSB2", s.usb("1-6", "1a86", "7523", "", "USB Serial", ""));
    const auto n7 = Find(s.list(), "COM7");
    ASSERT_NE(n7, nullptr);
    s.unplug("ttyUSB2");
    s.usb_serial("ttyUSB3", "pci0000:00/0000:00:14.0/usb1/1-6/1-6:1.0");  // same socket
    EXPECT_EQ(ResolvePortDevice(6, s.places), s.dev("ttyUSB3"));
}

// Two adapters alike in vendor, product and serial number are told apart by their USB
// socket: each keeps its COM number across listings and when they come back in the other
// order, and the numbers file is written once.
TEST(LinuxPorts, IdenticalAdaptersKeepTheirNumbersBySocket) {
    FakeSys s;
    auto plug = [&s](const std::string& name, const std::string& socket) {
        s.usb_serial(name, s.usb(socket, "0403", "6001", "FTDI", "FT232R USB UART", "A600"));
    };
    plug("ttyUSB0", "1-2");
    plug("ttyUSB1", "1-5");
    const auto first = s.list();
    ASSERT_EQ(Names(first), (std::vector<std::string>{"COM1", "COM2"}));
    EXPECT_EQ(ResolvePortDevice(0, s.places), s.dev("ttyUSB0"));
    EXPECT_EQ(ResolvePortDevice(1, s.places), s.dev("ttyUSB1"));
    const auto numbers = fs::last_write_time(s.places.pins / "numbers");
    std::ifstream before_file(s.places.pins / "numbers");
    const std::string before((std::istreambuf_iterator<char>(before_file)), {});
    EXPECT_EQ(s.list(), first);
    EXPECT_EQ(fs::last_write_time(s.places.pins / "numbers"), numbers);  // not rewritten

    // Unplugged and plugged back in the other order: the kernel names change places, the
    // numbers stay with the sockets, and each number opens what the list shows beside it.
    s.unplug("ttyUSB0");
    s.unplug("ttyUSB1");
    plug("ttyUSB0", "1-5");
    plug("ttyUSB1", "1-2");
    const auto swapped = s.list();
    ASSERT_EQ(Names(swapped), (std::vector<std::string>{"COM1", "COM2"}));
    EXPECT_NE(swapped[0].friendly_name.find(s.dev("ttyUSB1")), std::string::npos);
    EXPECT_EQ(ResolvePortDevice(0, s.places), s.dev("ttyUSB1"));
    EXPECT_EQ(ResolvePortDevice(1, s.places), s.dev("ttyUSB0"));

    // The second one alone keeps its own number too.
    s.unplug("ttyUSB1");
    EXPECT_EQ(Names(s.list()), std::vector<std::string>{"COM2"});
    EXPECT_EQ(ResolvePortDevice(1, s.places), s.dev("ttyUSB0"));
    std::ifstream after_file(s.places.pins / "numbers");
    EXPECT_EQ(std::string((std::istreambuf_iterator<char>(after_file)), {}), before);
}

TEST(LinuxPorts, PinnedDevicesTakeTheirNumbers) {
    FakeSys s;
    Populate(s);
    int master = -1, slave = -1;
    char pts[128] = {};
    ASSERT_EQ(openpty(&master, &slave, pts, nullptr, nullptr), 0);
    ::close(slave);
    fs::create_symlink(pts, s.places.pins / "COM7");
    fs::create_symlink(s.dev("ttyUSB0"), s.places.pins / "com12");  // any case
    // Not pins: other names, numbers out of range, a plain file, the numbers file.
    fs::create_symlink(pts, s.places.pins / "LPT1");
    fs::create_symlink(pts, s.places.pins / "COM0");
    fs::create_symlink(pts, s.places.pins / "COM258");
    fs::create_symlink(pts, s.places.pins / "COMX");
    Write(s.places.pins / "COM9", "/dev/ttyS0\n");

    const auto ports = s.list();
    EXPECT_EQ(Names(ports),
              (std::vector<std::string>{"COM1", "COM2", "COM3", "COM4", "COM7", "COM12"}));
    EXPECT_EQ(Find(ports, "COM7")->friendly_name, std::string(pts) + " (COM7)");
    // The pinned adapter is listed once, under its pin, with its description.
    EXPECT_EQ(Find(ports, "COM12")->friendly_name,
              "FTDI FT232R USB UART, S/N A600 - " + s.dev("ttyUSB0") + " (COM12)");

    // The pinned pseudo-terminal opens through the channel as COM7.
    const PortPlaces places = s.places;
    ChannelTable table(std::make_shared<PosixBackend>(
        [places](int port) { return ResolvePortDevice(port, places); }));
    EXPECT_NE(table.OpenChannel(6, 115200, 0, 2, 8, 0), nullptr);
    const std::uint8_t hi[2] = {'h', 'i'};
    EXPECT_EQ(table.WriteChannel(6, hi, 2), 2);
    char got[2] = {};
    EXPECT_EQ(::read(master, got, 2), 2);
    EXPECT_EQ(std::string(got, 2), "hi");
    table.CloseChannel(6);
    ::close(master);
}

TEST(LinuxPorts, APinPointingNowhereReservesItsNumberButIsNotListed) {
    FakeSys s;
    Populate(s);
    fs::create_symlink(s.dir.path / "gone", s.places.pins / "COM1");
    const auto ports = s.list();
    EXPECT_EQ(Find(ports, "COM1"), nullptr);
    // ttyS0 cannot have COM1 while the pin holds it.
    EXPECT_EQ(Names(ports), (std::vector<std::string>{"COM2", "COM3", "COM4", "COM5", "COM6"}));
    EXPECT_EQ(ResolvePortDevice(0, s.places), (s.dir.path / "gone").string());
    ChannelTable table(std::make_shared<PosixBackend>(
        [&](int port) { return ResolvePortDevice(port, s.places); }));
    EXPECT_EQ(table.OpenChannel(0, 115200, 0, 2, 8, 0), nullptr);  // fails, no crash
}

TEST(LinuxPorts, LongAndOddNamesAreCutAndCleaned) {
    FakeSys s;
    const std::string product(300, 'P');
    s.usb_serial("ttyUSB0", s.usb("1-2", "0403", "6001", "Maker\tCo", product, "S1"));
    const auto ports = s.list();
    ASSERT_EQ(ports.size(), 1u);
    const std::string& name = ports[0].friendly_name;
    EXPECT_EQ(name.size(), kFriendlyNameLimit);
    EXPECT_EQ(name.substr(0, 9), "Maker Co ");  // control characters blanked
    const std::string tail = "... - " + s.dev("ttyUSB0") + " (COM1)";
    EXPECT_EQ(name.substr(name.size() - tail.size()), tail);  // the path and number survive
}

TEST(LinuxPorts, NumbersFileIsReadTolerantlyAndAnUnwritableOneIsSurvived) {
    FakeSys s;
    Populate(s);
    Write(s.places.pins / "numbers",
          "garbage\nCOM9 usb:0403:6001:sn=A600:if=00:port=0\nCOM9 tty:ttyAMA0\nCOMX tty:x\n\n");
    const auto ports = s.list();
    EXPECT_NE(Find(ports, "COM9")->friendly_name.find("FTDI"), std::string::npos);
    EXPECT_EQ(ResolvePortDevice(8, s.places), s.dev("ttyUSB0"));

    // A pins "directory" that is a file: nothing can be written, the listing still works
    // and is the same twice in a row.
    FakeSys t;
    Populate(t);
    fs::remove_all(t.places.pins);
    Write(t.places.pins, "not a directory");
    const auto a = t.list();
    EXPECT_EQ(a.size(), 5u);
    EXPECT_EQ(t.list(), a);
    PortPlaces nowhere = t.places;
    nowhere.pins.clear();
    EXPECT_EQ(ListPorts(nowhere).size(), 5u);
    nowhere.sysfs = t.dir.path / "no-sysfs";
    EXPECT_TRUE(ListPorts(nowhere).empty());
}

TEST(LinuxPorts, NextComPortStepsThroughAndStartsAgain) {
    FakeSys s;
    Populate(s);
    std::string port, friendly;
    EXPECT_EQ(NextComPort(nullptr, &port, &friendly), -1);
    PortDeviceSet* set = OpenPortDeviceList(s.places);
    ASSERT_NE(set, nullptr);
    EXPECT_EQ(NextComPort(set, nullptr, &friendly), -1);
    for (int listing = 0; listing < 2; ++listing) {
        std::vector<std::string> seen;
        while (NextComPort(set, &port, nullptr) == 1) seen.push_back(port);
        EXPECT_EQ(seen.size(), 5u) << listing;
    }
    ClosePortDeviceList(set);
    ClosePortDeviceList(nullptr);
}

TEST(PortNames, WindowsUsbInstancesAndFriendlyNames) {
    for (const char* id : {"USB\\VID_067B&PID_2303\\5&1A2B&0&2", "usb\\VID_2341&PID_0043\\7573",
                           "FTDIBUS\\VID_0403+PID_6001+A600A\\0000"})
        EXPECT_TRUE(IsUsbInstanceId(id)) << id;
    for (const char* id : {"ACPI\\PNP0501\\1", "USBPRINT\\X\\1", "USB", "", "BTHENUM\\{X}"})
        EXPECT_FALSE(IsUsbInstanceId(id)) << id;
    EXPECT_EQ(WithoutPortSuffix("USB Serial Port (COM3)", "COM3"), "USB Serial Port");
    EXPECT_EQ(WithoutPortSuffix("USB Serial Port (COM3)", "COM4"), "USB Serial Port (COM3)");
    EXPECT_EQ(WithoutPortSuffix(" (COM3)", "COM3"), " (COM3)");  // nothing would be left
}

TEST(LinuxPorts, DecimalReadingRules) {
    const std::pair<const char*, std::int32_t> rows[] = {
        {"3", 3}, {"3x", 3},        {" \t-2", -2}, {"+7", 7},         {"", 0},    {"x3", 0},
        {"-", 0}, {"70000", 70000}, {"0010", 10},  {"4294967297", 1}, {"- 3", 0}, {"  12  ", 12},
    };
    for (auto [text, want] : rows) EXPECT_EQ(ReadDecimal(text), want) << '"' << text << '"';
    EXPECT_TRUE(HasComPrefix("COM3"));
    EXPECT_TRUE(HasComPrefix("com"));
    EXPECT_TRUE(HasComPrefix("cOm10"));
    EXPECT_FALSE(HasComPrefix("LPT1"));
    EXPECT_FALSE(HasComPrefix("CO"));
}

}  // namespace
}  // namespace quillon::serial
