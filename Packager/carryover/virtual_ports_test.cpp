#include "carryover/virtual_ports.h"

#include <gtest/gtest.h>

#include "scratch_registry.h"

namespace qnvpd {
namespace {

using namespace qnvpd_test;

const char kClassDriver[] = "{4d36e978-e325-11ce-bfc1-08002be10318}\\0002";
const char kNoSettings[] = "0,0,0,0,0,0,0,0,,0,0,0,0,0,0,0,0";

class VirtualPortSection : public ScratchRegistryTest {
 protected:
  static std::string Instance(const std::string& name) {
    return std::string(kPortKey) + "\\" + name;
  }
  static std::string Parameters(const std::string& name) {
    return Instance(name) + "\\Device Parameters";
  }
  // An instance as the product sets it up, with its name in "Device Parameters".
  void PutEmulatorPort(const std::string& name, const std::vector<Value>& settings = {}) {
    Put(Instance(name), {MultiSz("HardwareID", {"UMDF\\KavroPortEmulator"}),
                         Sz("Driver", kClassDriver)});
    std::vector<Value> values{Sz("PortName", "COM5")};
    values.insert(values.end(), settings.begin(), settings.end());
    Put(Parameters(name), values);
  }
  std::string Section() { return Capture(WriteVirtualPortSection); }
};

TEST_F(VirtualPortSection, WithoutInstancesOnlyTheSectionLine) {
  EXPECT_EQ("[QNVPD]\r\n", Section());
  Put(kPortKey);
  EXPECT_EQ("[QNVPD]\r\n", Section());
}

TEST_F(VirtualPortSection, SettingsInLineOrder) {
  PutEmulatorPort("0000", {Dword("KavQNSCMD_Option", 19), Dword("KavDCD", 3), Dword("KavDSR", 4),
                           Dword("KavCTS", 5), Dword("KavRI", 6), Dword("KavQN", 7),
                           Dword("KavVD", 8), Dword("KavPH", 9), Dword("KavAsync", 10),
                           Sz("KavID", "PRN01"), Dword("KavReadIntervalTimeout", 12),
                           Dword("KavReadTotalTimeoutMultiplier", 13),
                           Dword("KavReadTotalTimeoutConstant", 14),
                           Dword("KavWriteTotalTimeoutMultiplier", 15),
                           Dword("KavWriteTotalTimeoutConstant", 16),
                           Dword("KavQNSCMD_UnlockTimer", 17), Dword("KavQNSCMD_Mode", 18)});
  EXPECT_EQ("[QNVPD]\r\nCOM5=0000,0002,3,4,5,6,7,8,9,10,PRN01,12,13,14,15,16,17,18,19\r\n",
            Section());
}

TEST_F(VirtualPortSection, OddSettingValues) {
  const std::string eightBytes("\x05\0\0\0\0\0\0\0", 8);
  struct Case {
    const char* what;
    std::vector<Value> settings;
    const char* fields;  // what follows "COM5=0000,0002,"
  } cases[] = {
      {"none at all", {}, kNoSettings},
      {"4294967295 is -1", {Dword("KavReadIntervalTimeout", 4294967295u)},
       "0,0,0,0,0,0,0,0,,-1,0,0,0,0,0,0,0"},
      {"eight bytes fail: 0", {Raw("KavDCD", REG_DWORD, eightBytes)}, kNoSettings},
      {"two bytes little-endian", {Raw("KavDSR", REG_DWORD, std::string("\x34\x12", 2))},
       "0,4660,0,0,0,0,0,0,,0,0,0,0,0,0,0,0"},
      {"type not examined", {Raw("KavQNSCMD_Mode", REG_BINARY, std::string("\x02\0\0\0", 4))},
       "0,0,0,0,0,0,0,0,,0,0,0,0,0,0,2,0"},
      {"KavID with a comma", {Sz("KavID", "A,B")}, "0,0,0,0,0,0,0,0,A,B,0,0,0,0,0,0,0,0"},
      {"KavID filling its buffer without a zero: empty",
       {Raw("KavID", REG_BINARY, std::string(260, 'i'))}, kNoSettings},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    PutEmulatorPort("0000", c.settings);
    EXPECT_EQ(std::string("[QNVPD]\r\nCOM5=0000,0002,") + c.fields + "\r\n", Section());
    Remove(kPortKey);
  }
}

TEST_F(VirtualPortSection, KavIdOfMostCharactersAndOneStoredWithoutTerminator) {
  PutEmulatorPort("0000", {Sz("KavID", std::string(259, 'k'))});
  PutEmulatorPort("0001");
  PutWide(Parameters("0001"), L"KavID", REG_SZ, L"XY");
  EXPECT_EQ("[QNVPD]\r\nCOM5=0000,0002,0,0,0,0,0,0,0,0," + std::string(259, 'k') +
                ",0,0,0,0,0,0,0,0\r\nCOM5=0001,0002,0,0,0,0,0,0,0,0,XY,0,0,0,0,0,0,0,0\r\n",
            Section());
}

// How the instance key and its "Device Parameters" decide whether there is a
// line, and its name, instance number and driver index.
TEST_F(VirtualPortSection, WhichInstancesYieldALine) {
  const Value emulator = MultiSz("HardwareID", {"UMDF\\KavroPortEmulator"});
  const Value driver = Sz("Driver", kClassDriver);
  const Value portName = Sz("PortName", "COM5");
  const std::vector<Value> none;
  struct Case {
    const char* what;
    const char* name;
    std::vector<Value> instance;
    bool hasParameters;
    std::vector<Value> parameters;
    const char* line;  // up to the settings; empty for no line
  } cases[] = {
      {"ID in lower case", "0000", {MultiSz("HardwareID", {"umdf\\kavroportemulator"}), driver},
       true, {portName}, "COM5=0000,0002,"},
      {"ID with prefix and suffix", "0000",
       {MultiSz("HardwareID", {"ROOT\\UMDF\\KAVROPORTEMULATOR&REV_2"}), driver}, true,
       {portName}, "COM5=0000,0002,"},
      {"emulator only as second ID", "0000",
       {MultiSz("HardwareID", {"ACPI\\PNP0501", "UMDF\\KavroPortEmulator"}), driver}, true,
       {portName}, ""},
      {"other device", "0000", {MultiSz("HardwareID", {"ACPI\\PNP0501"}), driver}, true,
       {portName}, ""},
      {"no hardware ID", "0000", {driver}, true, {portName}, ""},
      {"hardware ID filling its buffer without a zero", "0000",
       {Raw("HardwareID", REG_MULTI_SZ, "UMDF\\KavroPortEmulator" + std::string(238, 'h')), driver},
       true, {portName}, ""},
      {"PortName only in the instance key", "0000", {emulator, driver, Sz("PortName", "COM11")},
       true, none, "COM11=0000,0002,"},
      {"PortName of Device Parameters wins", "0000", {emulator, driver, Sz("PortName", "COM11")},
       true, {portName}, "COM5=0000,0002,"},
      {"PortName not fitting falls back", "0000", {emulator, driver, Sz("PortName", "COM12")},
       true, {Raw("PortName", REG_BINARY, std::string(260, 'p'))}, "COM12=0000,0002,"},
      {"PortName stored without terminator", "0000", {emulator, driver}, true,
       {Raw("PortName", REG_BINARY, "COM7")}, "COM7=0000,0002,"},
      {"no PortName", "0000", {emulator, driver}, true, none, ""},
      {"no Device Parameters", "0000", {emulator, driver, Sz("PortName", "COM11")}, false, none,
       ""},
      {"driver index 0007", "0000", {emulator, Sz("Driver", "{c}\\0007")}, true, {portName},
       "COM5=0000,0007,"},
      {"driver index 12345", "0000", {emulator, Sz("Driver", "{c}\\12345")}, true, {portName},
       "COM5=0000,12345,"},
      {"no Driver", "0000", {emulator}, true, {portName}, "COM5=0000,9999,"},
      {"Driver without backslash", "0000", {emulator, Sz("Driver", "{c}0002")}, true, {portName},
       "COM5=0000,9999,"},
      {"Driver filling its buffer without a zero", "0000",
       {emulator, Raw("Driver", REG_SZ, "{c}\\0003" + std::string(252, 'd'))}, true, {portName},
       "COM5=0000,9999,"},
      {"instance 0003", "0003", {emulator, driver}, true, {portName}, "COM5=0003,0002,"},
      {"instance 7", "7", {emulator, driver}, true, {portName}, "COM5=0007,0002,"},
      {"instance 12345", "12345", {emulator, driver}, true, {portName}, "COM5=12345,0002,"},
      {"non-numeric instance", "PORTX", {emulator, driver}, true, {portName}, "COM5=0000,0002,"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Put(Instance(c.name), c.instance);
    if (c.hasParameters) Put(Parameters(c.name), c.parameters);
    std::string expected = "[QNVPD]\r\n";
    if (*c.line) expected += std::string(c.line) + kNoSettings + "\r\n";
    EXPECT_EQ(expected, Section());
    Remove(kPortKey);
  }
}

TEST_F(VirtualPortSection, InstanceWhosePathDoesNotFitIsSkipped) {
  // The path of "Device Parameters" takes 59 characters besides the name.
  const std::string fits = "8" + std::string(199, 'x'), tooLong = "9" + std::string(200, 'y');
  for (const std::string& name : {fits, tooLong, std::string("Z1")}) PutEmulatorPort(name);
  EXPECT_EQ(std::string("[QNVPD]\r\n") + "COM5=0008,0002," + kNoSettings + "\r\n" +
                "COM5=0000,0002," + kNoSettings + "\r\n",
            Section());
}

}  // namespace
}  // namespace qnvpd
