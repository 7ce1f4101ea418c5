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

// Wine gives every new file its one user as owner, where Windows gives the
// token's owner (Administrators for an elevated administrator): that user
// stands in for it here, so that the package's own earlier log is trusted.
bool WineFileOwner(BYTE (&sid)[SECURITY_MAX_SID_SIZE]) {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
  alignas(TOKEN_USER) BYTE buffer[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE] = {};
  DWORD size = 0;
  const bool read = GetTokenInformation(token, TokenUser, buffer, sizeof buffer, &size) &&
                    CopySid(sizeof sid, sid, reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid);
  CloseHandle(token);
  return read;
}
constexpr NewObjectOwnerQuery kWineFileOwner = {WineFileOwner};

TEST(RunLogFile, TwoLogsAppendWholeLinesAndAMissingFolderStaysOff) {
  ScratchFolder scratch;
  const std::wstring path = scratch.Path() + L"\\run.log";
  {
    RunLog first;
    RunLog second;
    ASSERT_TRUE(first.Open(path, kWineFileOwner));
    ASSERT_TRUE(second.Open(path, kWineFileOwner));  // a second run at the same time
    EXPECT_EQ(path, first.Path());
    first.Write(L"one");
    second.Write(L"two");
    first.Failure(L"writing PORTS.dat", ERROR_DISK_FULL);
  }
  {
    RunLog later;  // the next run appends
    ASSERT_TRUE(later.Open(path, kWineFileOwner));
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
  EXPECT_FALSE(linked.Open(scratch.Path() + L"\\linked.log", kWineFileOwner));
  linked.Write(L"nothing");
  EXPECT_EQ("theirs", ReadFileBytes(other));

  // A file of the user's own, when the token gives new objects another owner:
  // on Windows the user's unelevated programs could have made it.
  const std::wstring usersOwn = scratch.Path() + L"\\users.log";
  WriteFileBytes(usersOwn, "theirs");
  RunLog users;
  EXPECT_FALSE(users.Open(usersOwn));
  users.Write(L"nothing");
  EXPECT_EQ("theirs", ReadFileBytes(usersOwn));
  EXPECT_EQ(L"", users.Path());

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

  wchar_t temp[MAX_PATH] = {};
  ASSERT_NE(0u, GetEnvironmentVariableW(L"TEMP", temp, MAX_PATH));
  PutWide(key, L"LogFile", REG_EXPAND_SZ, std::wstring(L"%TEMP%\\qnvpd.log") + L'\0');
  EXPECT_EQ(ReadLogPolicy(0), std::wstring(temp) + L"\\qnvpd.log");

  Put(key, {Raw("LogFile", REG_DWORD, std::string("\1\0\0\0", 4))});
  EXPECT_EQ(ReadLogPolicy(0), L"");
}

}  // namespace
}  // namespace qnvpd
