#include "checks/os_version.h"

#include <gtest/gtest.h>

#include <vector>

namespace qnvpd {
namespace {

// A scripted version query: each call takes the next answer; every call records
// the record's size and major version as the caller prepared them.
struct Answer {
  bool ok;
  DWORD major;
  DWORD minor;
};
std::vector<Answer> g_answers;
size_t g_calls = 0;
std::vector<DWORD> g_sizesSeen;
std::vector<DWORD> g_majorsSeen;

BOOL WINAPI ScriptedQuery(OSVERSIONINFOW* info) {
  g_sizesSeen.push_back(info->dwOSVersionInfoSize);
  g_majorsSeen.push_back(info->dwMajorVersion);
  const Answer& answer = g_answers[g_calls < g_answers.size() ? g_calls : g_answers.size() - 1];
  ++g_calls;
  if (!answer.ok) return FALSE;  // writes nothing, as a failed query may
  info->dwMajorVersion = answer.major;
  info->dwMinorVersion = answer.minor;
  info->dwBuildNumber = 1234;
  info->dwPlatformId = VER_PLATFORM_WIN32_NT;
  return TRUE;
}

void Script(std::vector<Answer> answers) {
  g_answers = std::move(answers);
  g_calls = 0;
  g_sizesSeen.clear();
  g_majorsSeen.clear();
}

struct Row {
  DWORD major;
  DWORD minor;
  int windows2000;
  int withoutKm;
  int withKm;
};

const VersionQuery kScripted = {ScriptedQuery};

TEST(OsVersionTest, SupportMatrix) {
  const Row rows[] = {
      {4, 0, 0, 0, 0},            // NT 4.0
      {4, 10, 0, 0, 0},           // 98
      {4, 90, 0, 0, 0},           // Me
      {5, 0, 1, 0, 1},            // 2000: only with the switch
      {5, 1, 0, 1, 1},            // XP
      {5, 2, 0, 1, 1},            // Server 2003, XP x64
      {6, 0, 0, 1, 1},            // Vista
      {6, 1, 0, 1, 1},
      {6, 2, 0, 1, 1},
      {10, 0, 0, 1, 1},
      {0x80000000u, 0, 0, 1, 1},  // the comparison is unsigned
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(testing::Message() << row.major << "." << row.minor);
    Script({{true, row.major, row.minor}});
    EXPECT_EQ(row.windows2000, IsWindows2000(kScripted));
    Script({{true, row.major, row.minor}});
    EXPECT_EQ(row.withoutKm, IsOsSupported(0, kScripted));
    Script({{true, row.major, row.minor}});
    EXPECT_EQ(row.withKm, IsOsSupported(1, kScripted));
  }
}

TEST(OsVersionTest, FailedQueryIsNotSupported) {
  Script({{false, 0, 0}});
  EXPECT_EQ(0, IsWindows2000(kScripted));
  EXPECT_EQ(0, IsOsSupported(0, kScripted));
  EXPECT_EQ(0, IsOsSupported(1, kScripted));
}

TEST(OsVersionTest, EveryQueryGetsAFreshRecord) {
  // A reused record would carry the first answer into a second query that fails.
  Script({{true, 6, 1}, {false, 0, 0}});
  EXPECT_EQ(0, IsOsSupported(0, kScripted));
  ASSERT_EQ(2u, g_calls);
  EXPECT_EQ((std::vector<DWORD>{276, 276}), g_sizesSeen);
  EXPECT_EQ((std::vector<DWORD>{0, 0}), g_majorsSeen);
}

TEST(OsVersionTest, VerdictComesFromTheSecondQuery) {
  // Refused Windows 2000 ends after one query.
  Script({{true, 5, 0}, {true, 6, 1}});
  EXPECT_EQ(0, IsOsSupported(0, kScripted));
  EXPECT_EQ(1u, g_calls);

  // With the switch, Windows 2000 goes on to the second query, which decides.
  Script({{true, 5, 0}, {true, 5, 0}});
  EXPECT_EQ(1, IsOsSupported(1, kScripted));
  EXPECT_EQ(2u, g_calls);
  Script({{true, 6, 1}, {true, 4, 0}});
  EXPECT_EQ(0, IsOsSupported(1, kScripted));
}

TEST(OsVersionTest, RealQueryOfThisPrefix) {
  // The test prefix reports Windows 7 (6.1), the program's default.
  EXPECT_EQ(0, IsWindows2000());
  EXPECT_EQ(1, IsOsSupported(0));
  EXPECT_EQ(1, IsOsSupported(1));
}

}  // namespace
}  // namespace qnvpd
