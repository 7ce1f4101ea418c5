#include "checks/wow64.h"

#include <gtest/gtest.h>

namespace qnvpd {
namespace {

HANDLE g_processSeen = nullptr;

BOOL WINAPI FailingQuery(HANDLE process, PBOOL answer) {
  g_processSeen = process;
  *answer = TRUE;  // written, but the call reports failure
  SetLastError(ERROR_ACCESS_DENIED);
  return FALSE;
}
BOOL WINAPI Reports64Bit(HANDLE process, PBOOL answer) {
  g_processSeen = process;
  *answer = TRUE;
  return TRUE;
}
BOOL WINAPI WritesNothing(HANDLE, PBOOL) { return TRUE; }

TEST(Wow64Test, MissingOrFailingExportMeans32Bit) {
  EXPECT_EQ(0, IsWow64(Wow64Lookup{nullptr}));
  EXPECT_EQ(0, IsWow64(Wow64Lookup{FailingQuery}));
  // The answer is preset to 0 before the call.
  EXPECT_EQ(0, IsWow64(Wow64Lookup{WritesNothing}));
}

TEST(Wow64Test, AnswerOfTheExportForThisProcess) {
  g_processSeen = nullptr;
  EXPECT_NE(0, IsWow64(Wow64Lookup{Reports64Bit}));
  EXPECT_EQ(GetCurrentProcess(), g_processSeen);
}

TEST(Wow64Test, RealExportInThe64BitPrefix) {
  // The test prefix is a 64-bit one, and this test program is 32-bit.
  EXPECT_NE(0, IsWow64());
}

}  // namespace
}  // namespace qnvpd
