#include "launch/child_outcome.h"

#include <gtest/gtest.h>

namespace qnvpd {
namespace {

TEST(ChildRunFailedTest, FailsForNoStartExitCodeTwoAndNtStatusErrorsOnly) {
  const struct {
    DWORD exitCode;
    bool failed;
  } rows[] = {
      {2, true},            // the setup programs' own failure code
      {0xC0000005, true},   // access violation: an unhandled exception
      {0xC0000409, true},   // stack buffer overrun: the process was ended at once
      {0xC0000000, true},   // the lowest NTSTATUS error
      {0xDFFFFFFF, true},   // the highest one without the customer bit
      {0xE0000000, false},  // customer bit set: a code of the program's own
      {0xBFFFFFFF, false},  // severity "warning"
      {0xFFFFFFFF, false},  // -1
      {0, false},
      {259, false},         // still reads STILL_ACTIVE after the last read
      {3010, false},        // the installer's own business; its posted result decides
  };
  for (const auto& row : rows) {
    EXPECT_EQ(row.failed, ChildRunFailed({true, row.exitCode})) << std::hex << row.exitCode;
  }
  EXPECT_TRUE(ChildRunFailed({false, 0})) << "not started";
}

TEST(ChildRunFailedTest, LogTextNamesTheCodeAsItsFamilyWritesIt) {
  EXPECT_EQ(L"3010", DescribeChildExitCode(3010));
  EXPECT_EQ(L"2", DescribeChildExitCode(2));
  // With the system's text behind it where ntdll has one (Wine's has none).
  EXPECT_EQ(0u, DescribeChildExitCode(0xC0000005).rfind(L"0xC0000005", 0));
  EXPECT_EQ(0u, DescribeChildExitCode(0xFFFFFFFF).rfind(L"0xFFFFFFFF", 0));
}

// The words after the child's name in the run's one line about its failure.
TEST(ChildRunFailedTest, ReasonNamesWhyNothingRanOrHowItEnded) {
  ChildOutcome tooLong;
  tooLong.commandLineTooLong = true;
  ChildOutcome refused;
  refused.startError = ERROR_BAD_EXE_FORMAT;
  const struct {
    ChildOutcome outcome;
    std::wstring reason;
    bool whole;  // false: the system's text for the error follows, where it has one
  } rows[] = {
      {tooLong, L"was not started: its command line would not fit 1024 characters", true},
      {refused, L"was not started: error 193", false},
      {{true, 2}, L"ended with exit code 2", true},
      {{true, 0xC0000409},
       L"ended with 0xC0000409, an NTSTATUS error: it crashed or could not be loaded", true},
  };
  for (const auto& row : rows) {
    const std::wstring reason = ChildFailureReason(row.outcome);
    if (row.whole) {
      EXPECT_EQ(row.reason, reason);
    } else {
      EXPECT_EQ(0u, reason.rfind(row.reason, 0)) << reason;
    }
  }
}

}  // namespace
}  // namespace qnvpd
