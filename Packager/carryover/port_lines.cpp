#include "carryover/port_lines.h"

#include <cstdio>

#include "leading_decimal.h"

namespace qnvpd {
namespace {

constexpr int kNoDriverIndex = 9999;
constexpr uint32_t kHighestPortNumber = 40;  // COM1-COM32 are 1-32, LPT1-LPT8 33-40

// Appends one printf-formatted number, as the installer that reads the file
// expects ("%d" takes the registry's DWORD as signed).
void AppendNumber(std::string* line, const char* format, int number) {
  char text[16];
  int length = std::snprintf(text, sizeof text, format, number);
  if (length > 0) line->append(text, static_cast<size_t>(length));
}

bool IsEnabledPort(const UsbPortAssignment& port) {
  if (!port.number.present) return false;
  // Unsigned on purpose: 0 wraps round and fails like every number above 40.
  if (port.number.value - 1u >= kHighestPortNumber) return false;
  return !port.enabled.present || port.enabled.value == 1;
}

void AppendUsbLine(std::string* lines, const UsbPortAssignment& port, const char* kind,
                   const std::string& instanceName) {
  if (!IsEnabledPort(port)) return;
  AppendNumber(lines, "%d", static_cast<int>(port.number.value));
  lines->append("=").append(kind).append(",").append(instanceName).append("\n");
}

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

}  // namespace

std::string FormatUsbInterfaceLines(const UsbInterfaceRecord& record) {
  std::string lines;
  AppendUsbLine(&lines, record.qn, "0", record.instanceName);
  AppendUsbLine(&lines, record.vd, "1", record.instanceName);
  return lines;
}

std::string FormatVirtualPortLine(const VirtualPortRecord& record) {
  std::string line = record.portName + "=";
  AppendNumber(&line, "%04d", ParseLeadingDecimal(record.instanceName));
  AppendNumber(&line, ",%04d", DriverIndexOf(record.driver));
  for (uint32_t value : record.leadingSettings) {
    AppendNumber(&line, ",%d", static_cast<int>(value));
  }
  line.append(",").append(record.kavId);
  for (uint32_t value : record.trailingSettings) {
    AppendNumber(&line, ",%d", static_cast<int>(value));
  }
  line.append("\n");
  return line;
}

int ParseLeadingDecimal(const std::string& text) {
  return ParseLeadingNumber(text.data(), text.size(), IsBlank);
}

int DriverIndexOf(const std::string& driver) {
  size_t backslash = driver.find('\\');
  if (backslash == std::string::npos) return kNoDriverIndex;
  return ParseLeadingDecimal(driver.substr(backslash + 1));
}

bool NamesPortEmulator(const std::string& hardwareId) {
  std::string lower = hardwareId;
  for (char& c : lower) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return lower.find("umdf\\kavroportemulator") != std::string::npos;
}

}  // namespace qnvpd
