#include "carryover/port_lines.h"

#include <gtest/gtest.h>

namespace qnvpd {
namespace {

UsbPortAssignment Port(uint32_t number) { return {{true, number}, {}}; }
UsbPortAssignment Port(uint32_t number, uint32_t enabled) { return {{true, number}, {true, enabled}}; }

TEST(UsbInterfaceLines, QnLineComesBeforeVdLine) {
  UsbInterfaceRecord record{"A1B2C3D4E5", Port(3), Port(34)};
  EXPECT_EQ("3=0,A1B2C3D4E5\n34=1,A1B2C3D4E5\n", FormatUsbInterfaceLines(record));
}

TEST(UsbInterfaceLines, WritesOnlyNumberedEnabledPorts) {
  struct Case {
    UsbPortAssignment qn;
    const char* expected;
  } cases[] = {
      {Port(1), "1=0,X\n"},
      {Port(40), "40=0,X\n"},
      {Port(0), ""},
      {Port(41), ""},
      {Port(4294967295u), ""},
      {Port(0x80000001u), ""},
      {{{false, 3}, {}}, ""},  // number unreadable
      {Port(3, 1), "3=0,X\n"},
      {Port(3, 0), ""},
      {Port(3, 2), ""},
      {Port(3, 0x101), ""},
      {{{true, 3}, {false, 0}}, "3=0,X\n"},  // enable flag unreadable counts as enabled
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "number " << c.qn.number.value << " present "
                                    << c.qn.number.present << ", enabled " << c.qn.enabled.value
                                    << " present " << c.qn.enabled.present);
    EXPECT_EQ(c.expected, FormatUsbInterfaceLines({"X", c.qn, {}}));
    // The VD port follows the same rules with kind 1.
    std::string vd = c.expected;
    if (!vd.empty()) vd.replace(vd.find("=0,"), 3, "=1,");
    EXPECT_EQ(vd, FormatUsbInterfaceLines({"X", {}, c.qn}));
  }
}

VirtualPortRecord Port(const std::string& instance, const std::string& driver) {
  VirtualPortRecord record;
  record.instanceName = instance;
  record.portName = "COM5";
  record.driver = driver;
  return record;
}

TEST(VirtualPortLine, AllDefaultsGiveZerosAndAnEmptyId) {
  EXPECT_EQ("COM5=0002,9999,0,0,0,0,0,0,0,0,,0,0,0,0,0,0,0,0\n",
            FormatVirtualPortLine(Port("0002", "")));
}

TEST(VirtualPortLine, FieldsInOrderWithSignedNumbers) {
  VirtualPortRecord record = Port("0000", "{4d36e978-e325-11ce-bfc1-08002be10318}\\0002");
  record.portName = "COM10";
  record.leadingSettings = {1, 2, 3, 4, 5, 6, 7, 8};
  record.kavId = "PRN01";
  record.trailingSettings = {4294967295u, 10, 11, 12, 5000, 2147483648u, 15, 16};
  EXPECT_EQ("COM10=0000,0002,1,2,3,4,5,6,7,8,PRN01,-1,10,11,12,5000,-2147483648,15,16\n",
            FormatVirtualPortLine(record));
}

TEST(VirtualPortLine, TextIsWrittenUnchanged) {
  VirtualPortRecord record = Port("0001", "");
  record.portName = "COM,9";
  record.kavId = "A,B";
  EXPECT_EQ("COM,9=0001,9999,0,0,0,0,0,0,0,0,A,B,0,0,0,0,0,0,0,0\n", FormatVirtualPortLine(record));
}

TEST(VirtualPortLine, InstanceNumberAndDriverIndexForms) {
  struct Case {
    const char* instance;
    const char* driver;
    const char* expectedStart;
  } cases[] = {
      {"0003", "{c}\\0007", "COM5=0003,0007,"},
      {"7", "{c}\\12345", "COM5=0007,12345,"},
      {"12345", "x\\0", "COM5=12345,0000,"},
      {"abc", "no backslash", "COM5=0000,9999,"},
      {"", "", "COM5=0000,9999,"},
      {"  42x", "a\\b\\3", "COM5=0042,0000,"},  // only the first backslash counts
      {"+12", "{c}\\  9", "COM5=0012,0009,"},
      {"-5", "{c}\\-12", "COM5=-005,-012,"},
      {"\t8", "{c}\\", "COM5=0008,0000,"},
      {"99999999999", "{c}\\4294967296", "COM5=2147483647,2147483647,"},
      {"-99999999999", "\\", "COM5=-2147483648,0000,"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "instance '" << c.instance << "', driver '" << c.driver
                                    << "'");
    std::string line = FormatVirtualPortLine(Port(c.instance, c.driver));
    EXPECT_EQ(c.expectedStart, line.substr(0, std::string(c.expectedStart).size()));
  }
}

TEST(PortEmulatorId, MatchesAnywhereIgnoringAsciiCase) {
  EXPECT_TRUE(NamesPortEmulator("umdf\\kavroportemulator"));
  EXPECT_TRUE(NamesPortEmulator("UMDF\\KavroPortEmulator"));
  EXPECT_TRUE(NamesPortEmulator("ROOT\\UMDF\\KAVROPORTEMULATOR&REV_01"));
  EXPECT_FALSE(NamesPortEmulator("ACPI\\PNP0501"));
  EXPECT_FALSE(NamesPortEmulator("umdf/kavroportemulator"));
  EXPECT_FALSE(NamesPortEmulator("umdf\\kavroportemulato"));
  EXPECT_FALSE(NamesPortEmulator(""));
}

}  // namespace
}  // namespace qnvpd
