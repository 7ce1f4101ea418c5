#include "payload/cleanup.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <vector>

#include "test_support.h"

namespace qnvpd {
namespace {

using qnvpd_test::Exists;
using qnvpd_test::FolderExists;
using qnvpd_test::ScratchFolder;
using qnvpd_test::WriteFileBytes;

TEST(CleanupPaths, SearchPatternAddsABackslashOnlyWhenMissing) {
  EXPECT_EQ(ComposeSearchPattern(L"C:\\Temp\\{G}\\"), L"C:\\Temp\\{G}\\*.*");
  EXPECT_EQ(ComposeSearchPattern(L"C:\\Program Files\\KAVRO"), L"C:\\Program Files\\KAVRO\\*.*");
  EXPECT_EQ(ComposeSearchPattern(L"\\KAVRO"), L"\\KAVRO\\*.*");
}

TEST(CleanupPaths, EntryPathKeepsTheFolderTextAsGiven) {
  EXPECT_EQ(ComposeEntryPath(L"C:\\Temp\\{G}\\", L"qnusb"), L"C:\\Temp\\{G}\\\\qnusb");
  EXPECT_EQ(ComposeEntryPath(L"C:\\Temp\\{G}\\qnusb", L"Setup.exe"),
            L"C:\\Temp\\{G}\\qnusb\\Setup.exe");
}

// A tree like the extracted payload, handed over with its trailing backslash.
TEST(RemoveTreeTest, RemovesANestedTreeWithReadOnlyAndHiddenFiles) {
  ScratchFolder scratch;
  const std::wstring root = scratch / L"root";
  CreateDirectoryW(root.c_str(), nullptr);
  CreateDirectoryW((root + L"\\qnusb").c_str(), nullptr);
  CreateDirectoryW((root + L"\\qnusb\\QNUSB64").c_str(), nullptr);
  CreateDirectoryW((root + L"\\empty").c_str(), nullptr);
  WriteFileBytes(root + L"\\setup.exe", "x");
  WriteFileBytes(root + L"\\qnusb\\QNUSB64\\dpinst.xml", "x");
  WriteFileBytes(root + L"\\qnusb\\readonly.txt", "x");
  SetFileAttributesW((root + L"\\qnusb\\readonly.txt").c_str(), FILE_ATTRIBUTE_READONLY);
  WriteFileBytes(root + L"\\hidden.sys", "x");
  SetFileAttributesW((root + L"\\hidden.sys").c_str(),
                     FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_READONLY);

  EXPECT_EQ(RemoveTree(root + L"\\"), 1);
  EXPECT_FALSE(Exists(root));
  EXPECT_TRUE(FolderExists(scratch.Path()));
}

TEST(RemoveTreeTest, MissingFolderGivesZero) {
  ScratchFolder scratch;
  EXPECT_EQ(RemoveTree(scratch / L"not-there\\"), 0);
  EXPECT_TRUE(FolderExists(scratch.Path()));
}

// Anyone may plant a dot-named entry in a shared temporary folder; skipping it
// would leave the tree in place for good.
TEST(RemoveTreeTest, DotNamedEntriesAreRemovedLikeAnyOther) {
  ScratchFolder scratch;
  const std::wstring root = scratch / L"root";
  CreateDirectoryW(root.c_str(), nullptr);
  CreateDirectoryW((root + L"\\sub").c_str(), nullptr);
  CreateDirectoryW((root + L"\\sub\\.keep").c_str(), nullptr);
  WriteFileBytes(root + L"\\sub\\.keep\\inside.txt", "x");
  WriteFileBytes(root + L"\\.profile", "x");
  WriteFileBytes(root + L"\\..dll", "x");

  EXPECT_EQ(RemoveTree(root + L"\\"), 1);
  EXPECT_FALSE(Exists(root));
  EXPECT_TRUE(FolderExists(scratch.Path()));
}

TEST(RemoveTreeTest, FileHeldOpenByAnotherProcessStopsTheRemoval) {
  const std::wstring helpers = qnvpd_test::EnvironmentValue(L"QNVPD_HELPERS");
  if (helpers.empty()) GTEST_SKIP() << "QNVPD_HELPERS is not set";
  ScratchFolder scratch;
  const std::wstring root = scratch / L"root";
  CreateDirectoryW(root.c_str(), nullptr);
  CreateDirectoryW((root + L"\\sub").c_str(), nullptr);
  const std::wstring held = root + L"\\sub\\held.dat";
  const std::wstring ready = scratch / L"ready";
  const std::wstring release = scratch / L"release";

  std::wstring command = L"\"" + std::wstring(helpers) + L"\\payload_holder.exe\" \"" + held +
                         L"\" \"" + ready + L"\" \"" + release + L"\" 30000";
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  ASSERT_TRUE(CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                             &startup, &process))
      << GetLastError();
  CloseHandle(process.hThread);
  for (int i = 0; i < 500 && !Exists(ready); ++i) Sleep(20);
  ASSERT_TRUE(Exists(ready)) << "the holder did not open the file";

  EXPECT_EQ(RemoveTree(root + L"\\"), 0);
  EXPECT_TRUE(Exists(held));
  EXPECT_TRUE(FolderExists(root + L"\\sub"));
  EXPECT_TRUE(FolderExists(root));

  WriteFileBytes(release, "");
  EXPECT_EQ(WaitForSingleObject(process.hProcess, 30000), WAIT_OBJECT_0);
  DWORD exitCode = 99;
  GetExitCodeProcess(process.hProcess, &exitCode);
  CloseHandle(process.hProcess);
  EXPECT_EQ(exitCode, 0u);

  // Once released, the same call finishes what it left.
  EXPECT_EQ(RemoveTree(root + L"\\"), 1);
  EXPECT_FALSE(Exists(root));
}

// A listing that reports chosen entries as links (reparse points) and records
// every folder it is asked to list; everything else comes from the file system.
struct LinkingListing {
  static std::set<std::wstring> links;
  static std::vector<std::wstring> patterns;

  static void Mark(WIN32_FIND_DATAW* data) {
    if (links.count(data->cFileName)) data->dwFileAttributes |= FILE_ATTRIBUTE_REPARSE_POINT;
  }
  static HANDLE First(const wchar_t* pattern, WIN32_FIND_DATAW* data) {
    patterns.push_back(pattern);
    HANDLE find = FindFirstFileW(pattern, data);
    if (find != INVALID_HANDLE_VALUE) Mark(data);
    return find;
  }
  static BOOL Next(HANDLE find, WIN32_FIND_DATAW* data) {
    if (!FindNextFileW(find, data)) return FALSE;
    Mark(data);
    return TRUE;
  }
  static BOOL Close(HANDLE find) { return FindClose(find); }
  static const DirectoryListing& Get() {
    static const DirectoryListing listing = {First, Next, Close};
    return listing;
  }
  static bool WasListed(const std::wstring& folderText) {
    return std::any_of(patterns.begin(), patterns.end(), [&](const std::wstring& pattern) {
      return pattern.find(folderText) != std::wstring::npos;
    });
  }
};
std::set<std::wstring> LinkingListing::links;
std::vector<std::wstring> LinkingListing::patterns;

class RemoveTreeLinks : public ::testing::Test {
 protected:
  void SetUp() override {
    LinkingListing::links = {L"folderlink", L"filelink"};
    LinkingListing::patterns.clear();
    root_ = scratch_ / L"root";
    CreateDirectoryW(root_.c_str(), nullptr);
    CreateDirectoryW((root_ + L"\\folderlink").c_str(), nullptr);
    WriteFileBytes(root_ + L"\\filelink", "link");
    SetFileAttributesW((root_ + L"\\filelink").c_str(), FILE_ATTRIBUTE_READONLY);
    WriteFileBytes(root_ + L"\\plain.txt", "x");
  }
  ScratchFolder scratch_;
  std::wstring root_;
};

// A folder link whose target has content: the content survives, and since the
// link cannot be removed as an empty folder the removal stops there.
TEST_F(RemoveTreeLinks, FolderLinkIsNeverEntered) {
  WriteFileBytes(root_ + L"\\folderlink\\target.txt", "target");

  EXPECT_EQ(RemoveTree(root_ + L"\\", LinkingListing::Get()), 0);
  EXPECT_FALSE(LinkingListing::WasListed(L"folderlink"));
  EXPECT_EQ(qnvpd_test::ReadFileBytes(root_ + L"\\folderlink\\target.txt"), "target");
  EXPECT_TRUE(FolderExists(root_));
}

// Links go as themselves: a folder link with RemoveDirectoryW, a file link
// (read-only here) with DeleteFileW; then the tree is gone.
TEST_F(RemoveTreeLinks, LinksAreRemovedAsThemselves) {
  EXPECT_EQ(RemoveTree(root_ + L"\\", LinkingListing::Get()), 1);
  EXPECT_FALSE(LinkingListing::WasListed(L"folderlink"));
  EXPECT_FALSE(Exists(root_));
}

TEST(RemoveFolderIfEmptyTest, EmptyFolderIsRemovedEvenWhenReadOnly) {
  ScratchFolder scratch;
  const std::wstring empty = scratch / L"KAVRO";
  CreateDirectoryW(empty.c_str(), nullptr);
  SetFileAttributesW(empty.c_str(), FILE_ATTRIBUTE_READONLY);
  EXPECT_EQ(RemoveFolderIfEmpty(empty), 1);
  EXPECT_FALSE(Exists(empty));
}

TEST(RemoveFolderIfEmptyTest, AnyEntryKeepsTheFolderAndNothingInsideIsTouched) {
  ScratchFolder scratch;
  const std::wstring withFolder = scratch / L"withFolder";
  CreateDirectoryW(withFolder.c_str(), nullptr);
  CreateDirectoryW((withFolder + L"\\empty").c_str(), nullptr);
  EXPECT_EQ(RemoveFolderIfEmpty(withFolder), 0);
  EXPECT_TRUE(FolderExists(withFolder + L"\\empty"));

  const std::wstring withFile = scratch / L"withFile";
  CreateDirectoryW(withFile.c_str(), nullptr);
  WriteFileBytes(withFile + L"\\Uninstall.lnk", "x");
  EXPECT_EQ(RemoveFolderIfEmpty(withFile), 0);
  EXPECT_TRUE(Exists(withFile + L"\\Uninstall.lnk"));
}

TEST(RemoveFolderIfEmptyTest, ADotNamedEntryCountsAndKeepsTheFolder) {
  ScratchFolder scratch;
  const std::wstring folder = scratch / L"KAVRO";
  CreateDirectoryW(folder.c_str(), nullptr);
  WriteFileBytes(folder + L"\\.marker", "x");
  EXPECT_EQ(RemoveFolderIfEmpty(folder), 0);
  EXPECT_TRUE(Exists(folder + L"\\.marker"));
}

TEST(RemoveFolderIfEmptyTest, MissingFolderGivesZero) {
  ScratchFolder scratch;
  EXPECT_EQ(RemoveFolderIfEmpty(scratch / L"KAVRO"), 0);
}

}  // namespace
}  // namespace qnvpd
