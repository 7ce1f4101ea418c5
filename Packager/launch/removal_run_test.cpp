#include "launch/removal_run.h"

#include <gtest/gtest.h>

#include <string>

namespace qnvpd {
namespace {

TEST(ComposeRemovalPathTest, AppendsTheNameToTheRootUpToTheBufferLimit) {
  std::wstring path;
  ASSERT_TRUE(ComposeRemovalPath(L"C:\\Temp\\{5A1C90E2-7D3F-4B8A-9E21-0C6F4D8B2A17}\\",
                                 L"KPESetup64.exe", &path));
  EXPECT_EQ(L"C:\\Temp\\{5A1C90E2-7D3F-4B8A-9E21-0C6F4D8B2A17}\\KPESetup64.exe", path);

  // 259 characters and the zero fill the buffer; one more does not fit and
  // leaves the earlier text alone.
  const std::wstring name = L"QNCOMUSBCLN.dll";
  const std::wstring root = L"C:\\" + std::wstring(259 - 3 - 1 - name.size(), L'r') + L"\\";
  ASSERT_TRUE(ComposeRemovalPath(root, name, &path));
  EXPECT_EQ(259u, path.size());
  EXPECT_EQ(root + name, path);

  EXPECT_FALSE(ComposeRemovalPath(L"C:\\r" + root.substr(3), name, &path));
  EXPECT_EQ(root + name, path);
}

}  // namespace
}  // namespace qnvpd
