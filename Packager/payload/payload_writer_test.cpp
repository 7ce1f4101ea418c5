#include "payload/payload_writer.h"

#include <gtest/gtest.h>

#include "payload/payload_manifest.h"
#include "payload/working_folder.h"
#include "scratch_temp.h"
#include "test_support.h"

namespace qnvpd {
namespace {

constexpr LANGID kEnglish = 1033;

// Where a test does not read what a step reports.
StepReport* Unlogged() {
  static StepReport discarded;
  return &discarded;
}

using qnvpd_test::CountEntries;
using qnvpd_test::Exists;
using qnvpd_test::FolderExists;
using qnvpd_test::ReadFileBytes;
using qnvpd_test::ScopedEnvironment;
using qnvpd_test::WriteFileBytes;

// The unit-test program carries three payload resources (tests/unit_resources.rc):
// 104 (setup.exe), 141 (qncomusb\x86\KavCe.sys) and 149 (KPESetup64.exe); every
// other row finds its resource missing.
std::string ResourceBytes(WORD id) {
  HRSRC found = FindResourceW(nullptr, MAKEINTRESOURCEW(id), RT_RCDATA);
  if (found == nullptr) return std::string();
  const void* data = LockResource(LoadResource(nullptr, found));
  return std::string(static_cast<const char*>(data), SizeofResource(nullptr, found));
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

// The writers with a working folder created under a scratch temporary folder.
class PayloadWriter : public qnvpd_test::ScratchTempTest {
 protected:
  PayloadWriter() { EXPECT_TRUE(working_.Create(kEnglish, Unlogged())); }
  WorkingFolder working_;
};

TEST_F(PayloadWriter, WritesTheTreeAndFindsSetup) {
  const std::wstring folder = working_.Path();
  std::wstring setupPath;
  ASSERT_EQ(ExtractInstallPayload(working_, kEnglish, &setupPath, Unlogged()), InstallExtraction::Ready);
  EXPECT_EQ(setupPath, folder + L"setup.exe");

  for (const PayloadFolderRow& row : kPayloadFolders) {
    EXPECT_TRUE(FolderExists(PayloadFolderPath(folder, row.folder)))
        << qnvpd_test::Narrow(row.literal);
  }
  EXPECT_EQ(ReadFileBytes(setupPath), ResourceBytes(104));
  EXPECT_EQ(ReadFileBytes(folder + L"qncomusb\\x86\\KavCe.sys"), ResourceBytes(141));
  // Rows whose resource is absent are passed over, not written empty.
  EXPECT_FALSE(Exists(folder + L"qncomusb\\x64\\KavCe.sys"));
  EXPECT_FALSE(Exists(folder + L"data1.cab"));
  // The removal kit is not part of the install run.
  EXPECT_FALSE(Exists(folder + L"KPESetup64.exe"));

  // A repeated run over the same tree overwrites and goes on.
  WriteFileBytes(setupPath, "older and longer content than the resource has");
  ASSERT_EQ(ExtractInstallPayload(working_, kEnglish, &setupPath, Unlogged()), InstallExtraction::Ready);
  EXPECT_EQ(ReadFileBytes(setupPath), ResourceBytes(104));
}

TEST_F(PayloadWriter, FileThatCannotBeWrittenIsAFailure) {
  const std::wstring folder = working_.Path();
  // A folder where KavCe.sys should go: the file cannot be created.
  CreateDirectoryW((folder + L"qncomusb").c_str(), nullptr);
  CreateDirectoryW((folder + L"qncomusb\\x86").c_str(), nullptr);
  CreateDirectoryW((folder + L"qncomusb\\x86\\KavCe.sys").c_str(), nullptr);
  std::wstring setupPath = L"unset";
  EXPECT_EQ(ExtractInstallPayload(working_, kEnglish, &setupPath, Unlogged()), InstallExtraction::WriteFailed);
  EXPECT_EQ(setupPath, L"unset");
}

TEST_F(PayloadWriter, FolderTooLongForTheSetupPathWritesNothing) {
  // A base that makes the working folder 251 characters: with "setup.exe" and
  // the terminator 261, one too many.
  const size_t guidAndBackslash = 39;
  const std::wstring base = scratch_.Path() + L"\\" +
      std::wstring(251 - guidAndBackslash - scratch_.Path().size() - 2, L'r') + L"\\";
  ASSERT_TRUE(CreateDirectoryW(base.c_str(), nullptr));
  {
    ScopedEnvironment tmp(L"TMP", base);
    WorkingFolder working;
    ASSERT_TRUE(working.Create(kEnglish, Unlogged()));
    ASSERT_EQ(working.Path().size(), 251u);
    std::wstring setupPath = L"unset";
    EXPECT_EQ(ExtractInstallPayload(working, kEnglish, &setupPath, Unlogged()),
              InstallExtraction::PathTooLong);
    EXPECT_EQ(setupPath, L"unset");
    EXPECT_EQ(CountEntries(working.Path()), 0u);
    working.Remove();
  }

  // One character shorter fits exactly.
  const std::wstring shorter = base.substr(0, base.size() - 2) + L"\\";
  ASSERT_TRUE(CreateDirectoryW(shorter.c_str(), nullptr));
  ScopedEnvironment tmp(L"TMP", shorter);
  WorkingFolder working;
  ASSERT_TRUE(working.Create(kEnglish, Unlogged()));
  std::wstring setupPath;
  EXPECT_EQ(ExtractInstallPayload(working, kEnglish, &setupPath, Unlogged()), InstallExtraction::Ready);
  EXPECT_EQ(setupPath.size(), 259u);
  working.Remove();
}

TEST_F(PayloadWriter, WritesTheKitIntoTheWorkingFolder) {
  const std::wstring folder = working_.Path();
  // A resource left out of the build is for the presence checks to judge.
  EXPECT_TRUE(ExtractRemovalKit(working_, kEnglish, Unlogged()));
  EXPECT_EQ(ReadFileBytes(folder + L"KPESetup64.exe"), ResourceBytes(149));
  EXPECT_FALSE(Exists(folder + L"KPESetup32.exe"));  // resource absent here
  EXPECT_EQ(CountEntries(folder), 1u);

  // A file that cannot be created is a failure.
  ASSERT_TRUE(DeleteFileW((folder + L"KPESetup64.exe").c_str()));
  ASSERT_TRUE(CreateDirectoryW((folder + L"KPESetup64.exe").c_str(), nullptr));
  EXPECT_FALSE(ExtractRemovalKit(working_, kEnglish, Unlogged()));
}

}  // namespace
}  // namespace qnvpd
