// PORTS.dat as the product installer finds it: the package runs against port
// settings written into the test prefix's own HKEY_LOCAL_MACHINE, and the
// stand-in setup.exe keeps a copy of the file it was given.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "package_runner.h"
#include "ports_example.h"

namespace qnvpd_test {
namespace {

const wchar_t kUsbInterfaceKey[] = L"SYSTEM\\CurrentControlSet\\Enum\\USB\\Vid_1f2e&Pid_0b0c";
const wchar_t kUsbKey[] = L"SYSTEM\\CurrentControlSet\\Enum\\USB";
const wchar_t kPortKey[] = L"SYSTEM\\CurrentControlSet\\Enum\\Root\\PORTS";

struct Value {
  std::wstring name;
  DWORD type;
  std::wstring text;  // REG_SZ / REG_MULTI_SZ, terminators included
  DWORD number;       // REG_DWORD
};

Value Dword(const std::wstring& name, DWORD number) { return {name, REG_DWORD, L"", number}; }
Value Sz(const std::wstring& name, const std::wstring& text) {
  return {name, REG_SZ, text + L'\0', 0};
}
Value MultiSz(const std::wstring& name, const std::wstring& first) {
  return {name, REG_MULTI_SZ, first + L'\0' + L'\0', 0};
}

class CarryoverE2eTest : public testing::Test {
 protected:
  void SetUp() override { RemoveFixtures(); }
  void TearDown() override { RemoveFixtures(); }

  static void RemoveFixtures() {
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, kUsbInterfaceKey);
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, kUsbKey);  // only goes when nothing else is in it
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, kPortKey);
  }

  static void Put(const std::wstring& path, const std::vector<Value>& values = {}) {
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr,
                                             REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr,
                                             &key, nullptr));
    for (const Value& v : values) {
      LONG status =
          v.type == REG_DWORD
              ? RegSetValueExW(key, v.name.c_str(), 0, REG_DWORD,
                               reinterpret_cast<const BYTE*>(&v.number), sizeof v.number)
              : RegSetValueExW(key, v.name.c_str(), 0, v.type,
                               reinterpret_cast<const BYTE*>(v.text.data()),
                               static_cast<DWORD>(v.text.size() * sizeof(wchar_t)));
      EXPECT_EQ(ERROR_SUCCESS, status) << Narrow(path) << " " << Narrow(v.name);
    }
    RegCloseKey(key);
  }

  // Runs the package silently and returns the PORTS.dat its setup.exe found.
  std::string RunAndCollectPortsFile() {
    std::wstring report = ScratchDir() + L"\\report.txt";
    std::wstring temp = ScratchDir() + L"\\temp";
    CreateDirectoryW(temp.c_str(), nullptr);
    RunOptions options;
    options.arguments = L"-s1";
    options.tempFolder = temp;
    options.env[L"QNVPD_STANDIN_REPORT"] = report;
    RunResult result = RunPackage(options);
    EXPECT_FALSE(result.timedOut);
    EXPECT_EQ(0u, result.exitCode);
    EXPECT_TRUE(result.boxTexts.empty());
    return ReadFileBytes(report + L".PORTS.dat");
  }
};

TEST_F(CarryoverE2eTest, InstallerReceivesThePortSettingsOfTheMachine) {
  const std::wstring usb = std::wstring(kUsbInterfaceKey) + L"\\";
  Put(usb + L"A1B2C3D4E5\\Device Parameters",
      {Dword(L"KavCuIndex", 0), Dword(L"KavCOMPortForQN", 3), Dword(L"KavEnabledPortQN", 1),
       Dword(L"KavCOMPortForVD", 4), Dword(L"KavEnabledPortVD", 0)});
  Put(usb + L"F6G7H8\\Device Parameters",
      {Dword(L"KavCuIndex", 1), Dword(L"KavCOMPortForQN", 5), Dword(L"KavCOMPortForVD", 34)});
  Put(usb + L"K9L0\\Device Parameters", {Dword(L"KavCOMPortForQN", 7)});

  const std::wstring ports = std::wstring(kPortKey) + L"\\";
  Put(ports + L"0000", {MultiSz(L"HardwareID", L"UMDF\\KavroPortEmulator"),
                        Sz(L"Driver", L"{4d36e978-e325-11ce-bfc1-08002be10318}\\0002")});
  Put(ports + L"0000\\Device Parameters",
      {Sz(L"PortName", L"COM10"), Dword(L"KavDCD", 1), Dword(L"KavDSR", 1), Dword(L"KavCTS", 1),
       Dword(L"KavRI", 0), Dword(L"KavQN", 1), Dword(L"KavVD", 0), Dword(L"KavPH", 0),
       Dword(L"KavAsync", 1), Sz(L"KavID", L"PRN01"),
       Dword(L"KavReadIntervalTimeout", 4294967295u),
       Dword(L"KavWriteTotalTimeoutConstant", 5000), Dword(L"KavQNSCMD_Mode", 0),
       Dword(L"KavQNSCMD_Option", 0)});
  Put(ports + L"0001", {MultiSz(L"HardwareID", L"ACPI\\PNP0501")});
  Put(ports + L"0001\\Device Parameters", {Sz(L"PortName", L"COM1")});
  Put(ports + L"0002",
      {MultiSz(L"HardwareID", L"umdf\\kavroportemulator"), Sz(L"PortName", L"COM11")});
  Put(ports + L"0002\\Device Parameters");

  const std::string expected = qnvpd_test::kExpectedPortsFile;
  ASSERT_EQ(168u, expected.size());
  EXPECT_EQ(expected, RunAndCollectPortsFile());
}

TEST_F(CarryoverE2eTest, MachineWithoutThePortKeysGivesBothSectionLines) {
  EXPECT_EQ("[PORTS]\r\n[QNVPD]\r\n", RunAndCollectPortsFile());
}

}  // namespace
}  // namespace qnvpd_test
