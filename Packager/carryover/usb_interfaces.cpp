#include "carryover/usb_interfaces.h"

#include <algorithm>

#include "carryover/registry_reader.h"

namespace qnvpd {
namespace {

constexpr char kInterfaceKey[] = "SYSTEM\\CurrentControlSet\\Enum\\USB\\Vid_1f2e&Pid_0b0c";

void ReadOptional(HKEY key, const char* name, OptionalDword* number) {
  number->present = ReadDwordValue(key, name, &number->value);
}

}  // namespace

bool ReadUsbInterface(const std::string& instanceName, UsbInterfaceRecord* record) {
  ScopedKey parameters;
  std::string path = std::string(kInterfaceKey) + "\\" + instanceName + "\\Device Parameters";
  if (!OpenKeyForReading(path, &parameters)) return false;
  // Only an instance the driver has set up carries "KavCuIndex"; its number is not needed.
  uint32_t cuIndex = 0;
  if (!ReadDwordValue(parameters.Get(), "KavCuIndex", &cuIndex)) return false;

  record->instanceName = instanceName;
  ReadOptional(parameters.Get(), "KavCOMPortForQN", &record->qn.number);
  ReadOptional(parameters.Get(), "KavEnabledPortQN", &record->qn.enabled);
  ReadOptional(parameters.Get(), "KavCOMPortForVD", &record->vd.number);
  ReadOptional(parameters.Get(), "KavEnabledPortVD", &record->vd.enabled);
  return true;
}

int WriteUsbInterfaceSection(std::FILE* out) {
  std::fputs(kUsbSectionLine, out);
  ScopedKey interfaces;
  if (!OpenKeyForReading(kInterfaceKey, &interfaces)) return 0;
  int count = 0;
  ForEachSubkeyName(interfaces.Get(), [out, &count](const std::string& instanceName) {
    UsbInterfaceRecord record;
    if (!ReadUsbInterface(instanceName, &record)) return;
    std::string lines = FormatUsbInterfaceLines(record);
    std::fwrite(lines.data(), 1, lines.size(), out);
    count += static_cast<int>(std::count(lines.begin(), lines.end(), '\n'));
  });
  return count;
}

}  // namespace qnvpd
