// The FTDI driver's latency timer on Windows. The driver keeps its settings in the
// "Device Parameters" key of each device it enumerates, under
// HKLM\SYSTEM\CurrentControlSet\Enum\FTDIBUS\<device>\<instance>: "PortName" (REG_SZ,
// "COM5") and "LatencyTimer" (REG_DWORD, ms; 16 unless the user changed it). The program
// only reads them: the user sets the timer in the port's advanced settings.
#pragma once

#include <windows.h>

#include <optional>
#include <string_view>

namespace quillon::serial {

inline constexpr char kFtdiEnumKey[] = "SYSTEM\\CurrentControlSet\\Enum\\FTDIBUS";

// The latency timer of the FTDI device whose "PortName" is `port_name` (any case), in ms;
// nullopt when no FTDI device has that port or its value is not a REG_DWORD in 0..255.
std::optional<int> FtdiLatencyTimerMs(std::string_view port_name, HKEY root = HKEY_LOCAL_MACHINE,
                                      const char* enum_key = kFtdiEnumKey);

}  // namespace quillon::serial
