// A test whose temporary folder (TMP) is a scratch folder of its own, so that
// the working folder a run creates there is the test's alone.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "test_support.h"

namespace qnvpd_test {

// The product GUID, the working folder's name (string 123).
constexpr const wchar_t kWorkingFolderGuid[] = L"{5A1C90E2-7D3F-4B8A-9E21-0C6F4D8B2A17}";

class ScratchTempTest : public ::testing::Test {
 protected:
  ScratchTempTest()
      : tmp_(L"TMP", scratch_.Path()),
        name_(scratch_ / kWorkingFolderGuid),
        expected_(name_ + L"\\") {}

  ScratchFolder scratch_;
  ScopedEnvironment tmp_;
  std::wstring name_;      // the working folder as itself, no trailing backslash
  std::wstring expected_;  // the working folder's text
};

}  // namespace qnvpd_test
