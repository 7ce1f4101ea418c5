#include "payload/install_extraction.h"

#include <gtest/gtest.h>

#include "payload/payload_manifest.h"
#include "payload/payload_test_util.h"

namespace qnvpd {
namespace {

using qnvpd_payload_test::Exists;
using qnvpd_payload_test::IsFolder;
using qnvpd_payload_test::ReadBytes;
using qnvpd_payload_test::ScratchFolder;
using qnvpd_payload_test::WriteBytes;

// The unit-test program carries three payload resources (tests/unit_resources.rc):
// 104 (setup.exe), 141 (qncomusb\x86\KavCe.sys) and 149 (KPESetup64.exe); every
// other row finds its resource missing.
std::string ResourceBytes(WORD id) {
  HRSRC found = FindResourceW(nullptr, MAKEINTRESOURCEW(id), RT_RCDATA);
  if (found == nullptr) return std::string();
  const void* data = LockResource(LoadResource(nullptr, found));
  return std::string(static_cast<const char*>(data), SizeofResource(nullptr, found));
}

size_t CountEntries(const std::wstring& folder) {
  WIN32_FIND_DATAW entry;
  HANDLE find = FindFirstFileW((folder + L"*").c_str(), &entry);
  if (find == INVALID_HANDLE_VALUE) return 0;
  size_t count = 0;
  do {
    if (wcscmp(entry.cFileName, L".") && wcscmp(entry.cFileName, L"..")) ++count;
  } while (FindNextFileW(find, &entry));
  FindClose(find);
  return count;
}

TEST(PayloadTables, FolderRowsFollowTheirEnumAndBuildTheTree) {
  for (int i = 0; i < 11; ++i) EXPECT_EQ(static_cast<int>(kPayloadFolders[i].folder), i);
  const std::wstring root = L"C:\\T\\{G}\\";
  EXPECT_EQ(PayloadFolderPath(root, PayloadFolder::Root), root);
  EXPECT_EQ(PayloadFolderPath(root, PayloadFolder::Qnusb), L"C:\\T\\{G}\\qnusb");
  EXPECT_EQ(PayloadFolderPath(root, PayloadFolder::QnusbXp), L"C:\\T\\{G}\\qnusb\\QNUSBXP");
  EXPECT_EQ(PayloadFolderPath(root, PayloadFolder::QncomusbX64), L"C:\\T\\{G}\\qncomusb\\x64");
  EXPECT_EQ(PayloadFolderPath(root, PayloadFolder::ManualTc), L"C:\\T\\{G}\\manual\\TC");
}

TEST(ExtractInstallPayloadTest, WritesTheTreeAndFindsSetup) {
  ScratchFolder scratch;
  const std::wstring root = scratch.Path() + L"\\";
  std::wstring setupPath;
  ASSERT_EQ(ExtractInstallPayload(root, &setupPath), InstallExtraction::Ready);
  EXPECT_EQ(setupPath, root + L"setup.exe");  // one backslash, unlike the written path

  for (const PayloadFolderRow& row : kPayloadFolders) {
    EXPECT_TRUE(IsFolder(PayloadFolderPath(root, row.folder)))
        << qnvpd_payload_test::Narrow(row.literal);
  }
  EXPECT_EQ(ReadBytes(setupPath), ResourceBytes(104));
  EXPECT_EQ(ReadBytes(root + L"qncomusb\\x86\\KavCe.sys"), ResourceBytes(141));
  // Rows whose resource is absent are passed over, not written empty.
  EXPECT_FALSE(Exists(root + L"qncomusb\\x64\\KavCe.sys"));
  EXPECT_FALSE(Exists(root + L"data1.cab"));
  // The removal kit is not part of the install run.
  EXPECT_FALSE(Exists(root + L"KPESetup64.exe"));

  // A repeated run over the same tree overwrites and goes on.
  WriteBytes(setupPath, "older and longer content than the resource has");
  ASSERT_EQ(ExtractInstallPayload(root, &setupPath), InstallExtraction::Ready);
  EXPECT_EQ(ReadBytes(setupPath), ResourceBytes(104));
}

TEST(ExtractInstallPayloadTest, FileThatCannotBeWrittenIsAFailure) {
  ScratchFolder scratch;
  const std::wstring root = scratch.Path() + L"\\";
  // A folder where KavCe.sys should go: the file cannot be created.
  CreateDirectoryW((root + L"qncomusb").c_str(), nullptr);
  CreateDirectoryW((root + L"qncomusb\\x86").c_str(), nullptr);
  CreateDirectoryW((root + L"qncomusb\\x86\\KavCe.sys").c_str(), nullptr);
  std::wstring setupPath = L"unset";
  EXPECT_EQ(ExtractInstallPayload(root, &setupPath), InstallExtraction::WriteFailed);
  EXPECT_EQ(setupPath, L"unset");
}

TEST(ExtractInstallPayloadTest, RootTooLongForTheSetupPathWritesNothing) {
  ScratchFolder scratch;
  // With "setup.exe" and the terminator 261 characters: one too many.
  const std::wstring root = scratch.Path() + L"\\" +
                            std::wstring(260 - 9 - 1 - scratch.Path().size() - 1, L'r') + L"\\";
  ASSERT_EQ(root.size(), 251u);
  ASSERT_TRUE(CreateDirectoryW(root.c_str(), nullptr));
  std::wstring setupPath = L"unset";
  EXPECT_EQ(ExtractInstallPayload(root, &setupPath), InstallExtraction::PathTooLong);
  EXPECT_EQ(setupPath, L"unset");
  EXPECT_EQ(CountEntries(root), 0u);

  // One character shorter fits exactly.
  const std::wstring fits = root.substr(0, root.size() - 2) + L"\\";
  ASSERT_TRUE(CreateDirectoryW(fits.c_str(), nullptr));
  EXPECT_EQ(ExtractInstallPayload(fits, &setupPath), InstallExtraction::Ready);
  EXPECT_EQ(setupPath.size(), 259u);
}

TEST(ExtractRemovalKitTest, WritesTheKitIntoTheRoot) {
  ScratchFolder scratch;
  const std::wstring root = scratch.Path() + L"\\";
  EXPECT_TRUE(ExtractRemovalKit(root));
  EXPECT_EQ(ReadBytes(root + L"KPESetup64.exe"), ResourceBytes(149));
  EXPECT_FALSE(Exists(root + L"KPESetup32.exe"));  // resource absent here
  EXPECT_EQ(CountEntries(root), 1u);
}

}  // namespace
}  // namespace qnvpd
