#include "run_log.h"

#include <gtest/gtest.h>

#include "scratch_registry.h"
#include "test_support.h"

namespace qnvpd {
namespace {

using qnvpd_test::Exists;
using qnvpd_test::Raw;
using qnvpd_test::ReadFileBytes;
using qnvpd_test::ScratchFolder;
using qnvpd_test::ScratchRegistryTest;
using qnvpd_test::WriteFileBytes;

TEST(RunLogLine, StampPidAndOneLineOfUtf8) {
  SYSTEMTIME at = {};
  at.wYear = 2026;
  at.wMonth = 1;
  at.wDay = 2;
  at.wHour = 3;
  at.wMinute = 4;
  at.wSecond = 5;
  at.wMilliseconds = 7;
  // A command line may carry line breaks; they must not split the event.
  EXPECT_EQ(FormatLogLine(at, 4242, L"start: -s1\r\nx \u65E5"),
            "2026-01-02 03:04:05.007 [4242] start: -s1  x \xE6\x97\xA5\r\n");
  EXPECT_EQ(FormatLogLine(at, 1, L""), "2026-01-02 03:04:05.007 [1] \r\n");

  const std::wstring diskFull = DescribeError(ERROR_DISK_FULL);
  EXPECT_EQ(diskFull.rfind(L"error 112: ", 0), 0u) << diskFull;
  EXPECT_EQ(diskFull.find_first_of(L"\r\n"), std::wstring::npos);
  EXPECT_EQ(DescribeError(0x2FFFFFFF), L"error 805306367");
}

// Wine stores no descriptors: these stand in for a log that carries the
// package's private descriptor, and for one that does not.
constexpr ExistingLogCheck kPackagesOwnLog = {[](HANDLE) { return true; }};
constexpr ExistingLogCheck kSomeoneElsesLog = {[](HANDLE) { return false; }};

TEST(RunLogFile, TwoLogsAppendWholeLinesAndAMissingFolderStaysOff) {
  ScratchFolder scratch;
  const std::wstring path = scratch.Path() + L"\\run.log";
  {
    RunLog first;
    RunLog second;
    ASSERT_TRUE(first.Open(path, kPackagesOwnLog));
    ASSERT_TRUE(second.Open(path, kPackagesOwnLog));  // a second run at the same time
    EXPECT_EQ(path, first.Path());
    first.Write(L"one");
    second.Write(L"two");
    first.Failure(L"writing PORTS.dat", ERROR_DISK_FULL);
  }
  {
    RunLog later;  // the next run appends
    ASSERT_TRUE(later.Open(path, kPackagesOwnLog));
    later.Write(L"three");
  }

  const std::string text = ReadFileBytes(path);
  const size_t one = text.find("] one\r\n");
  const size_t two = text.find("] two\r\n");
  const size_t failed = text.find("] writing PORTS.dat failed: error 112: ");
  const size_t three = text.find("] three\r\n");
  EXPECT_TRUE(one < two && two < failed && failed < three && three != std::string::npos) << text;

  // A second name for someone else's file is not followed.
  const std::wstring other = scratch.Path() + L"\\other.txt";
  WriteFileBytes(other, "theirs");
  ASSERT_TRUE(CreateHardLinkW((scratch.Path() + L"\\linked.log").c_str(), other.c_str(), nullptr));
  RunLog linked;
  EXPECT_FALSE(linked.Open(scratch.Path() + L"\\linked.log", kPackagesOwnLog));
  linked.Write(L"nothing");
  EXPECT_EQ("theirs", ReadFileBytes(other));

  // Any existing file without the package's own descriptor: someone else's,
  // or a script an administrator owns, which must not grow command-line text.
  const std::wstring script = scratch.Path() + L"\\deploy.cmd";
  WriteFileBytes(script, "@echo off\r\n");
  RunLog appended;
  EXPECT_FALSE(appended.Open(script, kSomeoneElsesLog));
  appended.Write(L"nothing");
  EXPECT_EQ("@echo off\r\n", ReadFileBytes(script));
  EXPECT_EQ(L"", appended.Path());
  RunLog systems;  // the system's own check: Wine stores no descriptor, so it is no log of ours
  EXPECT_FALSE(systems.Open(script));
  EXPECT_EQ("@echo off\r\n", ReadFileBytes(script));

  RunLog off;
  EXPECT_FALSE(off.Open(scratch.Path() + L"\\missing\\run.log"));
  off.Write(L"nothing");
  off.Failure(L"nothing", 5);
  EXPECT_FALSE(off.IsOn());
  EXPECT_FALSE(Exists(scratch.Path() + L"\\missing"));
}

class RunLogPolicy : public ScratchRegistryTest {};

TEST_F(RunLogPolicy, TextExpandedTextOrNothing) {
  const std::string key = "SOFTWARE\\Policies\\KAVRO\\QNVPDSetup";
  EXPECT_EQ(ReadLogPolicy(0), L"");  // no key

  PutWide(key, L"LogFile", REG_SZ, L"C:\\logs\\%USERNAME%.log");
  EXPECT_EQ(ReadLogPolicy(0), L"C:\\logs\\%USERNAME%.log");

  // Expanded from the system's own values, never from this process's
  // environment, which an unelevated user can set before the elevation.
  wchar_t windows[MAX_PATH] = {};
  ASSERT_NE(0u, GetSystemWindowsDirectoryW(windows, MAX_PATH));
  qnvpd_test::ScopedEnvironment steered(L"SystemRoot", L"C:\\Users\\Public");
  PutWide(key, L"LogFile", REG_EXPAND_SZ, std::wstring(L"%SystemRoot%\\Logs\\qnvpd.log") + L'\0');
  EXPECT_EQ(ReadLogPolicy(0), std::wstring(windows) + L"\\Logs\\qnvpd.log");
  qnvpd_test::ScopedEnvironment own(L"QNVPD_TEST_LOGS", L"C:\\Users\\Public");
  PutWide(key, L"LogFile", REG_EXPAND_SZ, std::wstring(L"%QNVPD_TEST_LOGS%\\qnvpd.log") + L'\0');
  EXPECT_EQ(ReadLogPolicy(0), L"") << "a variable only the process has";

  Put(key, {Raw("LogFile", REG_DWORD, std::string("\1\0\0\0", 4))});
  EXPECT_EQ(ReadLogPolicy(0), L"");
}

}  // namespace
}  // namespace qnvpd
