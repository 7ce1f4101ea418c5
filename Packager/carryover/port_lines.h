// The lines of PORTS.dat, composed from what was read for one device instance.
// Nothing here touches the registry or a file: the readers fill a record, these
// functions turn it into text. Lines end in "\n"; the text-mode stream writes
// each as CR LF.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace qnvpd {

constexpr char kUsbSectionLine[] = "[PORTS]\n";
constexpr char kVirtualPortSectionLine[] = "[QNVPD]\n";

// A four-byte registry number and whether its read succeeded.
struct OptionalDword {
  bool present = false;
  uint32_t value = 0;
};

// One port of a USB printer interface: "KavCOMPortFor.." and "KavEnabledPort..".
struct UsbPortAssignment {
  OptionalDword number;
  OptionalDword enabled;
};

// A device instance of the USB printer interface that has a readable
// "KavCuIndex" (instances without one yield no record).
struct UsbInterfaceRecord {
  std::string instanceName;
  UsbPortAssignment qn;  // the printer port, kind 0
  UsbPortAssignment vd;  // the customer display port, kind 1
};

// "<port>=0,<instance>\n" for the QN port, then "<port>=1,<instance>\n" for the
// VD port, each only when its number was read, lies in 1 to 40 and the port is
// enabled (enable flag unreadable, or exactly 1). May be empty.
std::string FormatUsbInterfaceLines(const UsbInterfaceRecord& record);

// A virtual port whose first hardware ID names the port emulator. Settings
// that could not be read are 0; a missing "KavID" is empty.
struct VirtualPortRecord {
  std::string instanceName;  // subkey of Enum\Root\PORTS, e.g. "0003"
  std::string portName;      // "PortName", e.g. "COM5"
  std::string driver;        // "Driver", empty when missing
  std::array<uint32_t, 8> leadingSettings{};   // "KavDCD" to "KavAsync"
  std::string kavId;                           // "KavID"
  std::array<uint32_t, 8> trailingSettings{};  // "KavReadIntervalTimeout" to "KavQNSCMD_Option"
};

// "<PortName>=<instance %04d>,<driver index %04d>,<8 x %d>,<KavID>,<8 x %d>\n".
std::string FormatVirtualPortLine(const VirtualPortRecord& record);

// The number at the start of text: blanks skipped, an optional sign, then the
// digits up to the first non-digit; 0 without digits. Clamped to the int range.
int ParseLeadingDecimal(const std::string& text);

// The number after the first backslash of a "Driver" text ("{class}\0002" is
// 2), or 9999 when the text holds no backslash.
int DriverIndexOf(const std::string& driver);

// True when the hardware ID contains "umdf\kavroportemulator", compared with
// ASCII letters in lower case.
bool NamesPortEmulator(const std::string& hardwareId);

}  // namespace qnvpd
