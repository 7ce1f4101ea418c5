// The package's hardening at run time, on the hardening probe
// (tests/helpers/hardening_probe.cpp), a program linked as the package is:
// what the package's own runs cannot show, because wWinMain restricts the DLL
// search before anything is delay-loaded, and nothing in it overruns a buffer.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>

#include "package_runner.h"

namespace qnvpd_test {
namespace {

constexpr DWORD kDllNotFound = 0xC0000135;         // STATUS_DLL_NOT_FOUND
constexpr DWORD kStackBufferOverrun = 0xC0000409;  // STATUS_STACK_BUFFER_OVERRUN
constexpr DWORD kDefaultGuard = 0xBB40E64E;        // what the loader replaces

// The probe and beside.dll, copied into a folder of their own.
class HardeningE2eTest : public ::testing::Test {
 protected:
  void SetUp() override {
    DeleteTree(folder_);
    ASSERT_TRUE(CreateDirectoryW(folder_.c_str(), nullptr));
    ASSERT_TRUE(
        CopyFileW((HelpersDir() + L"\\hardening_probe.exe").c_str(), probe_.c_str(), FALSE));
    ASSERT_TRUE(CopyFileW((MarkerDllsDir() + L"\\beside.dll").c_str(),
                          (folder_ + L"\\beside.dll").c_str(), FALSE));
  }

  static DWORD Run(const std::wstring& program, const wchar_t* arguments) {
    RunOptions options;
    options.arguments = arguments;
    options.watchMessageBoxes = false;
    options.timeoutMs = 20000;
    return RunProgram(program, options).exitCode;
  }

  const std::wstring folder_ = ScratchDir() + L"\\probe";
  const std::wstring probe_ = folder_ + L"\\hardening_probe.exe";
};

// A copy of `from` whose load configuration directory is empty, as a loader
// that does not seed the security cookie sees it.
bool WriteWithoutLoadConfig(const std::wstring& from, const std::wstring& to) {
  std::string image = ReadFileBytes(from);
  uint32_t pe = 0;
  if (image.size() < 0x40) return false;
  std::memcpy(&pe, &image[0x3C], sizeof pe);
  const size_t directory = pe + 24 + 96 + 8 * IMAGE_DIRECTORY_ENTRY_LOAD_CONFIG;
  if (directory + 8 > image.size() || image.compare(pe, 4, std::string("PE\0\0", 4)) != 0) {
    return false;
  }
  std::fill_n(&image[directory], 8, '\0');
  WriteFileBytes(to, image);
  return true;
}

TEST_F(HardeningE2eTest, DelayLoadHookEndsTheRunRatherThanTakeTheDllBesideTheProgram) {
  const DWORD exitCode = Run(probe_, L"delay-load");
  EXPECT_EQ(kDllNotFound, exitCode) << std::hex << exitCode;
  EXPECT_FALSE(FileExists(folder_ + L"\\beside.dll.loaded")) << "the copy beside it was loaded";
}

TEST_F(HardeningE2eTest, StackProtectorAndFortifyEndTheRunOnAnOverrun) {
  EXPECT_EQ(0u, Run(probe_, L"smash 8"));
  EXPECT_EQ(kStackBufferOverrun, Run(probe_, L"smash 64"));
  EXPECT_EQ(0u, Run(probe_, L"copy 8"));
  EXPECT_EQ(kStackBufferOverrun, Run(probe_, L"copy 9"));
}

TEST_F(HardeningE2eTest, GuardIsSeededByTheLoaderOrBeforeTheEntryPoint) {
  const DWORD first = Run(probe_, L"guard");
  EXPECT_NE(kDefaultGuard, first);
  EXPECT_NE(first, Run(probe_, L"guard")) << "the same guard twice";
  // Without a load configuration the loader leaves the guard alone.
  const std::wstring bare = folder_ + L"\\bare.exe";
  ASSERT_TRUE(WriteWithoutLoadConfig(probe_, bare));
  EXPECT_NE(kDefaultGuard, Run(bare, L"guard"));
  EXPECT_EQ(kStackBufferOverrun, Run(bare, L"smash 64"));
}

}  // namespace
}  // namespace qnvpd_test
