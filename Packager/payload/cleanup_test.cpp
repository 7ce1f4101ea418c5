#include "payload/cleanup.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cwctype>
#include <set>
#include <string>
#include <vector>

#include "held_folder.h"
#include "package_runner.h"
#include "scoped.h"
#include "test_support.h"

namespace qnvpd {
namespace {

using qnvpd_test::Exists;
using qnvpd_test::FolderExists;
using qnvpd_test::ScratchFolder;
using qnvpd_test::WriteFileBytes;

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
  EXPECT_EQ(RemoveFolderIfEmpty(empty).outcome, FolderRemoval::kRemoved);
  EXPECT_FALSE(Exists(empty));
}

TEST(RemoveFolderIfEmptyTest, AnyEntryKeepsTheFolderAndNothingInsideIsTouched) {
  ScratchFolder scratch;
  const std::wstring withFolder = scratch / L"withFolder";
  CreateDirectoryW(withFolder.c_str(), nullptr);
  CreateDirectoryW((withFolder + L"\\empty").c_str(), nullptr);
  EXPECT_EQ(RemoveFolderIfEmpty(withFolder).outcome, FolderRemoval::kNotEmpty);
  EXPECT_TRUE(FolderExists(withFolder + L"\\empty"));

  // Kept as it was, attributes included.
  const std::wstring withFile = scratch / L"withFile";
  CreateDirectoryW(withFile.c_str(), nullptr);
  WriteFileBytes(withFile + L"\\Uninstall.lnk", "x");
  const DWORD hiddenSystem = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
  SetFileAttributesW(withFile.c_str(), hiddenSystem);
  EXPECT_EQ(RemoveFolderIfEmpty(withFile).outcome, FolderRemoval::kNotEmpty);
  EXPECT_TRUE(Exists(withFile + L"\\Uninstall.lnk"));
  EXPECT_EQ(hiddenSystem, GetFileAttributesW(withFile.c_str()) & hiddenSystem);
}

TEST(RemoveFolderIfEmptyTest, ADotNamedEntryCountsAndKeepsTheFolder) {
  ScratchFolder scratch;
  const std::wstring folder = scratch / L"KAVRO";
  CreateDirectoryW(folder.c_str(), nullptr);
  WriteFileBytes(folder + L"\\.marker", "x");
  EXPECT_EQ(RemoveFolderIfEmpty(folder).outcome, FolderRemoval::kNotEmpty);
  EXPECT_TRUE(Exists(folder + L"\\.marker"));
}

// An entry the listing did not show (one that came in after it): the file
// system refuses to delete the folder, and it is kept as not empty.
TEST(RemoveFolderIfEmptyTest, EntryTheListingDidNotShowStillKeepsTheFolder) {
  ScratchFolder scratch;
  const std::wstring folder = scratch / L"KAVRO";
  CreateDirectoryW(folder.c_str(), nullptr);
  WriteFileBytes(folder + L"\\late.txt", "late");
  struct ListsNothing {
    static BOOL WINAPI Query(HANDLE, FILE_INFO_BY_HANDLE_CLASS, LPVOID, DWORD) {
      SetLastError(ERROR_NO_MORE_FILES);
      return FALSE;
    }
  };
  EXPECT_EQ(RemoveFolderIfEmpty(folder, ListsNothing::Query).outcome, FolderRemoval::kNotEmpty);
  EXPECT_EQ(qnvpd_test::ReadFileBytes(folder + L"\\late.txt"), "late");
}

TEST(RemoveFolderIfEmptyTest, MissingFolderIsNotThere) {
  ScratchFolder scratch;
  EXPECT_EQ(RemoveFolderIfEmpty(scratch / L"KAVRO").outcome, FolderRemoval::kNotThere);
  EXPECT_EQ(RemoveFolderIfEmpty(scratch / L"no parent\\KAVRO").outcome, FolderRemoval::kNotThere);
}

// Under Wine a Linux link stands in for a junction: Wine opens what it points
// to, and a removal by path would remove the link's empty target. Neither a
// link at the place nor one above it may lead the removal elsewhere; a file
// at the place is not a folder to remove either.
TEST(RemoveFolderIfEmptyTest, LinkAtOrAboveThePlaceAndAFileAreKept) {
  ScratchFolder scratch;
  const std::wstring target = scratch / L"target";  // empty: what a followed link would lose
  const std::wstring real = scratch / L"real";
  CreateDirectoryW(target.c_str(), nullptr);
  CreateDirectoryW(real.c_str(), nullptr);
  CreateDirectoryW((real + L"\\KAVRO").c_str(), nullptr);
  WriteFileBytes(scratch / L"file", "a file");
  const std::wstring atPlace = scratch / L"KAVRO";
  const std::wstring above = scratch / L"above";

  EXPECT_EQ(RemoveFolderIfEmpty(scratch / L"file").outcome, FolderRemoval::kNotItself);
  EXPECT_EQ(qnvpd_test::ReadFileBytes(scratch / L"file"), "a file");

  if (qnvpd_test::UnixPath(scratch.Path()).empty()) GTEST_SKIP() << "links need Wine";
  // Removed from the Linux side whatever happens, before the scratch folder's
  // own clean-up (which Wine would let reach through them).
  struct Unlink {
    std::vector<std::string> paths;
    ~Unlink() {
      for (const std::string& path : paths) qnvpd_test::RunLinuxShell("rm -f \"$1\"", {path});
    }
  } links{{qnvpd_test::UnixPath(atPlace), qnvpd_test::UnixPath(above)}};
  ASSERT_TRUE(qnvpd_test::RunLinuxShell("ln -s \"$1\" \"$2\" && ln -s \"$3\" \"$4\"",
                                        {qnvpd_test::UnixPath(target), links.paths[0],
                                         qnvpd_test::UnixPath(real), links.paths[1]}));

  EXPECT_EQ(RemoveFolderIfEmpty(atPlace).outcome, FolderRemoval::kNotItself);
  EXPECT_EQ(RemoveFolderIfEmpty(above + L"\\KAVRO").outcome, FolderRemoval::kNotItself);
  EXPECT_TRUE(FolderExists(target));
  EXPECT_TRUE(FolderExists(real + L"\\KAVRO"));
  EXPECT_NE(0u, GetFileAttributesW(atPlace.c_str()) & FILE_ATTRIBUTE_REPARSE_POINT);
}

TEST(HeldFolderIdentityTest, FinalPathIsComparedAsTheFolderWasAskedFor) {
  EXPECT_EQ(ComparablePath(L"\\\\?\\C:\\Program Files\\KAVRO"), L"C:\\Program Files\\KAVRO");
  EXPECT_EQ(ComparablePath(L"\\\\?\\UNC\\srv\\share\\KAVRO"), L"\\\\srv\\share\\KAVRO");
  EXPECT_EQ(ComparablePath(L"\\\\srv\\\\share\\KAVRO\\"), L"\\\\srv\\share\\KAVRO");
  EXPECT_EQ(ComparablePath(L"C:\\Program Files\\\\KAVRO\\"), L"C:\\Program Files\\KAVRO");

  ScratchFolder scratch;
  const std::wstring folder = scratch / L"KAVRO";
  CreateDirectoryW(folder.c_str(), nullptr);
  qnvpd::ScopedFile held(OpenHeldFolder(folder));
  ASSERT_TRUE(held.IsValid());
  std::wstring otherCase = folder;
  for (wchar_t& c : otherCase) c = static_cast<wchar_t>(towlower(c));
  EXPECT_TRUE(IsHeldAt(held.Get(), otherCase));
  EXPECT_TRUE(IsHeldAt(held.Get(), scratch.Path() + L"\\\\KAVRO\\"));
  EXPECT_FALSE(IsHeldAt(held.Get(), scratch / L"KAVRO2"));
  EXPECT_FALSE(IsHeldAt(held.Get(), folder, nullptr)) << "a system that cannot tell";
}

}  // namespace
}  // namespace qnvpd
