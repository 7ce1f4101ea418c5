#include "carryover/ports_file.h"

#include <gtest/gtest.h>

#include "scratch_registry.h"
#include "ports_example.h"

namespace qnvpd {
namespace {

using namespace qnvpd_test;

class PortsFile : public ScratchRegistryTest {
 protected:
  std::wstring PortsPath() const { return folder() + kPortsFileName; }
  std::string Written() const { return ReadFileBytes(PortsPath()); }
};

TEST_F(PortsFile, CarriesBothSectionsOfAnInstalledDriver) {
  const std::string usb = std::string(kUsbInterfaceKey) + "\\";
  Put(usb + "A1B2C3D4E5\\Device Parameters",
      {Dword("KavCuIndex", 0), Dword("KavCOMPortForQN", 3), Dword("KavEnabledPortQN", 1),
       Dword("KavCOMPortForVD", 4), Dword("KavEnabledPortVD", 0), Dword("KavQNUSBMode", 1)});
  Put(usb + "F6G7H8\\Device Parameters",
      {Dword("KavCuIndex", 1), Dword("KavCOMPortForQN", 5), Dword("KavCOMPortForVD", 34)});
  Put(usb + "K9L0\\Device Parameters", {Dword("KavCOMPortForQN", 6)});

  const std::string ports = std::string(kPortKey) + "\\";
  Put(ports + "0000", {MultiSz("HardwareID", {"UMDF\\KavroPortEmulator"}),
                       Sz("Driver", "{4d36e978-e325-11ce-bfc1-08002be10318}\\0002")});
  Put(ports + "0000\\Device Parameters",
      {Sz("PortName", "COM10"), Dword("KavDCD", 1), Dword("KavDSR", 1), Dword("KavCTS", 1),
       Dword("KavRI", 0), Dword("KavQN", 1), Dword("KavVD", 0), Dword("KavPH", 0),
       Dword("KavAsync", 1), Sz("KavID", "PRN01"), Dword("KavReadIntervalTimeout", 4294967295u),
       Dword("KavReadTotalTimeoutConstant", 0), Dword("KavWriteTotalTimeoutConstant", 5000),
       Dword("KavQNSCMD_Mode", 0), Dword("KavQNSCMD_Option", 0)});
  Put(ports + "0001", {MultiSz("HardwareID", {"ACPI\\PNP0501"}), Sz("PortName", "COM1")});
  Put(ports + "0001\\Device Parameters", {Sz("PortName", "COM1")});
  Put(ports + "0002",
      {MultiSz("HardwareID", {"umdf\\kavroportemulator"}), Sz("PortName", "COM11")});
  Put(ports + "0002\\Device Parameters");

  ASSERT_TRUE(WritePortsFile(PortsPath()).written);
  const std::string expected = qnvpd_test::kExpectedPortsFile;
  EXPECT_EQ(168u, expected.size());
  EXPECT_EQ(expected, Written());
}

TEST_F(PortsFile, WithoutKeysHoldsBothSectionLinesAndReplacesAnOlderFile) {
  std::FILE* stale = _wfopen(PortsPath().c_str(), L"wb");
  ASSERT_NE(nullptr, stale);
  std::fputs("[PORTS]\r\n1=0,OLD\r\n[QNVPD]\r\nCOM1=0000,0000,0,0,0,0,0,0,0,0,,0,0,0,0,0,0,0,0\r\n",
             stale);
  std::fclose(stale);

  ASSERT_TRUE(WritePortsFile(PortsPath()).written);
  EXPECT_EQ("[PORTS]\r\n[QNVPD]\r\n", Written());
}

TEST_F(PortsFile, LineFeedInsideARegistryStringReachesTheDiskAsCrLf) {
  Put(std::string(kPortKey) + "\\0000", {MultiSz("HardwareID", {"UMDF\\KavroPortEmulator"})});
  Put(std::string(kPortKey) + "\\0000\\Device Parameters",
      {Sz("PortName", "COM3"), Sz("KavID", "A\nB")});
  ASSERT_TRUE(WritePortsFile(PortsPath()).written);
  EXPECT_EQ("[PORTS]\r\n[QNVPD]\r\nCOM3=0000,9999,0,0,0,0,0,0,0,0,A\r\nB,0,0,0,0,0,0,0,0\r\n",
            Written());
}

TEST_F(PortsFile, FolderThatDoesNotExistGivesFalse) {
  const std::wstring missing = folder() + L"no such folder\\";
  const PortsFileOutcome refused = WritePortsFile(missing + kPortsFileName);
  EXPECT_FALSE(refused.written);
  EXPECT_EQ(refused.failedStep, L"creating " + missing + kPortsFileName);
  EXPECT_NE(refused.error, static_cast<DWORD>(ERROR_SUCCESS));
  EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW((missing + L"PORTS.dat").c_str()));
}

}  // namespace
}  // namespace qnvpd
