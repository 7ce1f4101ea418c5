#include "launch/child_command_line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace qnvpd {
namespace {

const std::wstring kToken = L"/W32:1234:1024";
const std::wstring kRoot = L"C:\\Temp\\{5A1C90E2-7D3F-4B8A-9E21-0C6F4D8B2A17}\\";

std::wstring Text(const std::vector<wchar_t>& buffer) { return std::wstring(buffer.data()); }

TEST(ComposeInstallArgumentsTest, EveryRunModeAndLanguageKeepsOptionsThenQuotedToken) {
  struct Case {
    const wchar_t* options;
    const wchar_t* commandLine;
    const wchar_t* expected;
  } cases[] = {
      {L"/clone_wait", L"", L"/clone_wait \"/W32:1234:1024\""},
      {L"/clone_wait /hide_progress -l0x0409", L"-s1",
       L"/clone_wait /hide_progress -l0x0409 \"/W32:1234:1024 -s1\""},
      {L"/clone_wait /hide_progress -l0x0411", L"-S1 -QN:COM3 -VD:COM4",
       L"/clone_wait /hide_progress -l0x0411 \"/W32:1234:1024 -S1 -QN:COM3 -VD:COM4\""},
      {L"/clone_wait /hide_progress -l0x0804", L"-u2",
       L"/clone_wait /hide_progress -l0x0804 \"/W32:1234:1024 -u2\""},
      {L"/clone_wait /hide_progress -l0x0404", L"-U2 -KM",
       L"/clone_wait /hide_progress -l0x0404 \"/W32:1234:1024 -U2 -KM\""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.expected, ComposeInstallArguments(c.options, kToken, c.commandLine))
        << c.commandLine;
  }
}

TEST(ComposeInstallArgumentsTest, NoPackageOptionsLeavesTheTokenAlone) {
  EXPECT_EQ(L"/clone_wait \"/W32:1234:1024\"",
            ComposeInstallArguments(L"/clone_wait", kToken, nullptr));
  EXPECT_EQ(L"/clone_wait \"/W32:-5:1024\"",
            ComposeInstallArguments(L"/clone_wait", L"/W32:-5:1024", L""));
}

TEST(ComposeInstallArgumentsTest, PackageCommandLineGoesAlongUnchanged) {
  // Blanks, quotes and length are all kept: nothing is escaped or cut.
  EXPECT_EQ(L"/clone_wait \"/W32:1234:1024  -s1  \"a b\" \"",
            ComposeInstallArguments(L"/clone_wait", kToken, L" -s1  \"a b\" "));
  std::wstring longLine(3000, L'x');
  std::wstring arguments = ComposeInstallArguments(L"/clone_wait", kToken, longLine.c_str());
  EXPECT_EQ(L"/clone_wait \"/W32:1234:1024 " + longLine + L"\"", arguments);
}

TEST(ComposeChildCommandLineTest, QuotesThePathAndKeepsTheArguments) {
  std::wstring path = kRoot + L"setup.exe";
  std::wstring arguments =
      ComposeInstallArguments(L"/clone_wait /hide_progress -l0x0409", kToken, L"-s1");
  std::vector<wchar_t> line;
  ASSERT_TRUE(ComposeChildCommandLine(path, arguments, &line));
  EXPECT_EQ(kChildCommandLineCapacity, line.size());
  EXPECT_EQ(
      L"\"C:\\Temp\\{5A1C90E2-7D3F-4B8A-9E21-0C6F4D8B2A17}\\setup.exe\" "
      L"/clone_wait /hide_progress -l0x0409 \"/W32:1234:1024 -s1\"",
      Text(line));

  ASSERT_TRUE(
      ComposeChildCommandLine(path, ComposeInstallArguments(L"/clone_wait", kToken, L""), &line));
  EXPECT_EQ(
      L"\"C:\\Temp\\{5A1C90E2-7D3F-4B8A-9E21-0C6F4D8B2A17}\\setup.exe\" "
      L"/clone_wait \"/W32:1234:1024\"",
      Text(line));

  ASSERT_TRUE(ComposeChildCommandLine(kRoot + L"KPESetup64.exe", L"/9", &line));
  EXPECT_EQ(L"\"C:\\Temp\\{5A1C90E2-7D3F-4B8A-9E21-0C6F4D8B2A17}\\KPESetup64.exe\" /9", Text(line));
}

TEST(ComposeChildCommandLineTest, FitsExactlyAtTheLimitAndNotOneMore) {
  const std::wstring path = L"C:\\Jo Smith\\child.exe";
  // Quote, path, quote, blank, arguments, zero.
  const size_t room = kChildCommandLineCapacity - (path.size() + 4);
  const std::wstring fits(room, L'a');

  std::vector<wchar_t> line;
  ASSERT_TRUE(ComposeChildCommandLine(path, fits, &line));
  ASSERT_EQ(kChildCommandLineCapacity, line.size());
  EXPECT_EQ(L'\0', line[kChildCommandLineCapacity - 1]);
  EXPECT_EQ(L'a', line[kChildCommandLineCapacity - 2]);
  EXPECT_EQ(L"\"" + path + L"\" " + fits, Text(line));

  std::vector<wchar_t> untouched(3, L'z');
  EXPECT_FALSE(ComposeChildCommandLine(path, fits + L"a", &untouched));
  EXPECT_EQ(std::vector<wchar_t>(3, L'z'), untouched);

  // The path counts with its two quotes, not just the arguments.
  EXPECT_FALSE(ComposeChildCommandLine(path + L"x", fits, &untouched));
}

}  // namespace
}  // namespace qnvpd
