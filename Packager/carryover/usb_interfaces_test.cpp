#include "carryover/usb_interfaces.h"

#include <gtest/gtest.h>

#include "scratch_registry.h"

namespace qnvpd {
namespace {

using namespace qnvpd_test;

class UsbInterfaceSection : public ScratchRegistryTest {
 protected:
  static std::string Instance(const std::string& name) {
    return std::string(kUsbInterfaceKey) + "\\" + name;
  }
  static std::string Parameters(const std::string& name) {
    return Instance(name) + "\\Device Parameters";
  }
  std::string Section() { return Capture(WriteUsbInterfaceSection); }
};

TEST_F(UsbInterfaceSection, WithoutInstancesOnlyTheSectionLine) {
  EXPECT_EQ("[PORTS]\r\n", Section());
  Put(kUsbInterfaceKey);
  EXPECT_EQ("[PORTS]\r\n", Section());
}

TEST_F(UsbInterfaceSection, LinesOfOneInstance) {
  const std::string eightBytes("\x01\0\0\0\0\0\0\0", 8);
  struct Case {
    const char* what;
    std::vector<Value> values;
    const char* lines;
  } cases[] = {
      {"both ports, no enable flags", {Dword("KavCuIndex", 0), Dword("KavCOMPortForQN", 3),
                                       Dword("KavCOMPortForVD", 34)},
       "3=0,SER\r\n34=1,SER\r\n"},
      {"enable flags 1", {Dword("KavCuIndex", 1), Dword("KavCOMPortForQN", 3),
                          Dword("KavEnabledPortQN", 1), Dword("KavCOMPortForVD", 4),
                          Dword("KavEnabledPortVD", 1)},
       "3=0,SER\r\n4=1,SER\r\n"},
      {"QN disabled by 0, VD still written", {Dword("KavCuIndex", 0), Dword("KavCOMPortForQN", 3),
                                              Dword("KavEnabledPortQN", 0),
                                              Dword("KavCOMPortForVD", 4)},
       "4=1,SER\r\n"},
      {"enable flag 2 disables", {Dword("KavCuIndex", 0), Dword("KavCOMPortForQN", 3),
                                  Dword("KavEnabledPortQN", 2), Dword("KavCOMPortForVD", 4),
                                  Dword("KavEnabledPortVD", 2)},
       ""},
      {"eight-byte enable flag fails its read: enabled", {Dword("KavCuIndex", 0),
                                                          Dword("KavCOMPortForQN", 3),
                                                          Raw("KavEnabledPortQN", REG_DWORD,
                                                              eightBytes)},
       "3=0,SER\r\n"},
      {"empty enable flag reads as 0", {Dword("KavCuIndex", 0), Dword("KavCOMPortForQN", 3),
                                        Raw("KavEnabledPortQN", REG_DWORD, "")},
       ""},
      {"port numbers 1 and 40", {Dword("KavCuIndex", 0), Dword("KavCOMPortForQN", 1),
                                 Dword("KavCOMPortForVD", 40)},
       "1=0,SER\r\n40=1,SER\r\n"},
      {"port numbers 0 and 41", {Dword("KavCuIndex", 0), Dword("KavCOMPortForQN", 0),
                                 Dword("KavCOMPortForVD", 41)},
       ""},
      {"port number 4294967295", {Dword("KavCuIndex", 0), Dword("KavCOMPortForQN", 4294967295u),
                                  Dword("KavCOMPortForVD", 33)},
       "33=1,SER\r\n"},
      {"two-byte port number", {Dword("KavCuIndex", 0),
                                Raw("KavCOMPortForQN", REG_DWORD, std::string("\x05\0", 2))},
       "5=0,SER\r\n"},
      {"port number as 4-byte binary", {Dword("KavCuIndex", 0),
                                        Raw("KavCOMPortForQN", REG_BINARY,
                                            std::string("\x06\0\0\0", 4))},
       "6=0,SER\r\n"},
      {"no KavCuIndex", {Dword("KavCOMPortForQN", 3), Dword("KavCOMPortForVD", 4)}, ""},
      {"unreadable KavCuIndex", {Raw("KavCuIndex", REG_DWORD, eightBytes),
                                 Dword("KavCOMPortForQN", 3)},
       ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Put(Parameters("SER"), c.values);
    EXPECT_EQ(std::string("[PORTS]\r\n") + c.lines, Section());
    Remove(kUsbInterfaceKey);
  }
}

TEST_F(UsbInterfaceSection, ValuesOutsideDeviceParametersAreNotRead) {
  Put(Instance("SER"), {Dword("KavCuIndex", 0), Dword("KavCOMPortForQN", 3)});
  EXPECT_EQ("[PORTS]\r\n", Section());
}

TEST_F(UsbInterfaceSection, InstancesInRegistryOrderAndNothingMerged) {
  Put(Parameters("B2"), {Dword("KavCuIndex", 0), Dword("KavCOMPortForQN", 5)});
  Put(Parameters("a1"), {Dword("KavCuIndex", 0), Dword("KavCOMPortForQN", 5),
                         Dword("KavCOMPortForVD", 5)});
  Put(Parameters("C3"), {Dword("KavCOMPortForQN", 5)});
  Put(Instance("C4"));
  Put(Parameters("d4"), {Dword("KavCuIndex", 2), Dword("KavCOMPortForQN", 5)});
  EXPECT_EQ("[PORTS]\r\n5=0,a1\r\n5=1,a1\r\n5=0,B2\r\n5=0,d4\r\n", Section());
}

TEST_F(UsbInterfaceSection, InstanceWhosePathDoesNotFitIsSkipped) {
  // The path of "Device Parameters" takes 70 characters besides the name.
  const std::string fits(189, 'a'), tooLong(190, 'b');
  for (const std::string& name : {fits, tooLong, std::string("z")}) {
    Put(Parameters(name), {Dword("KavCuIndex", 0), Dword("KavCOMPortForQN", 1)});
  }
  EXPECT_EQ("[PORTS]\r\n1=0," + fits + "\r\n1=0,z\r\n", Section());
}

}  // namespace
}  // namespace qnvpd
