#include "carryover/virtual_ports.h"

#include <array>

#include "carryover/registry_reader.h"

namespace qnvpd {
namespace {

constexpr char kPortKey[] = "SYSTEM\\CurrentControlSet\\Enum\\Root\\PORTS";

// The numeric settings in the order of the line, before and after "KavID".
constexpr const char* kLeadingSettings[] = {
    "KavDCD", "KavDSR", "KavCTS", "KavRI", "KavQN", "KavVD", "KavPH", "KavAsync"};
constexpr const char* kTrailingSettings[] = {
    "KavReadIntervalTimeout",       "KavReadTotalTimeoutMultiplier",
    "KavReadTotalTimeoutConstant",  "KavWriteTotalTimeoutMultiplier",
    "KavWriteTotalTimeoutConstant", "KavQNSCMD_UnlockTimer",
    "KavQNSCMD_Mode",               "KavQNSCMD_Option"};
static_assert(sizeof kLeadingSettings / sizeof *kLeadingSettings ==
                  std::tuple_size<decltype(VirtualPortRecord::leadingSettings)>::value,
              "one name per leading setting");
static_assert(sizeof kTrailingSettings / sizeof *kTrailingSettings ==
                  std::tuple_size<decltype(VirtualPortRecord::trailingSettings)>::value,
              "one name per trailing setting");

// A setting that cannot be read is written as 0.
template <size_t N>
void ReadSettings(HKEY key, const char* const (&names)[N], std::array<uint32_t, N>* values) {
  for (size_t i = 0; i < N; ++i) ReadDwordValue(key, names[i], &(*values)[i]);
}

}  // namespace

bool ReadVirtualPort(const std::string& instanceName, VirtualPortRecord* record) {
  std::string instancePath = std::string(kPortKey) + "\\" + instanceName;
  ScopedKey instance;
  if (!OpenKeyForReading(instancePath, &instance)) return false;
  ScopedKey parameters;
  if (!OpenKeyForReading(instancePath + "\\Device Parameters", &parameters)) return false;

  if (!ReadStringValue(parameters.Get(), "PortName", &record->portName) &&
      !ReadStringValue(instance.Get(), "PortName", &record->portName)) {
    return false;
  }
  // Only the first string of the hardware ID list counts.
  std::string hardwareId;
  ReadStringValue(instance.Get(), "HardwareID", &hardwareId);
  ReadStringValue(instance.Get(), "Driver", &record->driver);
  if (!NamesPortEmulator(hardwareId)) return false;

  record->instanceName = instanceName;
  ReadSettings(parameters.Get(), kLeadingSettings, &record->leadingSettings);
  ReadStringValue(parameters.Get(), "KavID", &record->kavId);
  ReadSettings(parameters.Get(), kTrailingSettings, &record->trailingSettings);
  return true;
}

int WriteVirtualPortSection(std::FILE* out) {
  std::fputs(kVirtualPortSectionLine, out);
  ScopedKey ports;
  if (!OpenKeyForReading(kPortKey, &ports)) return 0;
  int count = 0;
  ForEachSubkeyName(ports.Get(), [out, &count](const std::string& instanceName) {
    VirtualPortRecord record;
    if (!ReadVirtualPort(instanceName, &record)) return;
    std::string line = FormatVirtualPortLine(record);
    std::fwrite(line.data(), 1, line.size(), out);
    ++count;
  });
  return count;
}

}  // namespace qnvpd
