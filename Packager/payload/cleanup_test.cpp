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

// Everything below a held folder, through handles; returns what was left.
std::vector<LeftEntry> RemoveAllBelow(const std::wstring& root,
                                      FolderListing listing = ListFolder) {
  ScopedFile held(OpenHeldFolder(root));
  EXPECT_TRUE(held.IsValid()) << qnvpd_test::Narrow(root);
  std::vector<LeftEntry> left;
  const bool emptied = RemoveBelow(held.Get(), root + L"\\", &left, listing);
  EXPECT_EQ(emptied, left.empty());
  return left;
}

// A tree like the extracted payload, with read-only, hidden and dot-named
// entries (anyone may plant those in a shared temporary folder): all of it
// goes, the folder itself stays.
TEST(RemoveBelowTest, RemovesANestedTreeWithAnyAttributesAndNames) {
  ScratchFolder scratch;
  const std::wstring root = scratch / L"root";
  CreateDirectoryW(root.c_str(), nullptr);
  for (const wchar_t* folder : {L"qnusb", L"qnusb\\QNUSB64", L"empty", L"sub", L"sub\\.keep"}) {
    CreateDirectoryW((root + L"\\" + folder).c_str(), nullptr);
  }
  for (const wchar_t* file : {L"setup.exe", L"qnusb\\QNUSB64\\dpinst.xml", L"qnusb\\readonly.txt",
                              L"hidden.sys", L"sub\\.keep\\inside.txt", L".profile", L"..dll"}) {
    WriteFileBytes(root + L"\\" + file, "x");
  }
  SetFileAttributesW((root + L"\\qnusb\\readonly.txt").c_str(), FILE_ATTRIBUTE_READONLY);
  SetFileAttributesW((root + L"\\hidden.sys").c_str(),
                     FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_READONLY);

  EXPECT_TRUE(RemoveAllBelow(root).empty());
  EXPECT_TRUE(qnvpd_test::EntryNames(root).empty());
  EXPECT_TRUE(FolderExists(root));
}

// A file another program holds: everything else goes, and what is left is
// named, deepest first; once released, the same call finishes the job.
TEST(RemoveBelowTest, FileHeldByAnotherProgramIsLeftAndEverythingElseGoes) {
  const std::wstring helpers = qnvpd_test::EnvironmentValue(L"QNVPD_HELPERS");
  if (helpers.empty()) GTEST_SKIP() << "QNVPD_HELPERS is not set";
  ScratchFolder scratch;
  const std::wstring root = scratch / L"root";
  CreateDirectoryW(root.c_str(), nullptr);
  CreateDirectoryW((root + L"\\sub").c_str(), nullptr);
  WriteFileBytes(root + L"\\sub\\a.txt", "x");
  WriteFileBytes(root + L"\\z.txt", "x");
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

  const std::vector<LeftEntry> left = RemoveAllBelow(root);
  ASSERT_EQ(left.size(), 2u);
  EXPECT_EQ(left[0].path, held);
  EXPECT_EQ(left[0].error, static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  EXPECT_EQ(left[1].path, root + L"\\sub");
  EXPECT_EQ(qnvpd_test::EntryNames(root + L"\\sub"), std::vector<std::wstring>{L"held.dat"});
  EXPECT_EQ(qnvpd_test::EntryNames(root), std::vector<std::wstring>{L"sub"});

  WriteFileBytes(release, "");
  EXPECT_EQ(WaitForSingleObject(process.hProcess, 30000), WAIT_OBJECT_0);
  CloseHandle(process.hProcess);
  EXPECT_TRUE(RemoveAllBelow(root).empty());
  EXPECT_TRUE(qnvpd_test::EntryNames(root).empty());
}

// A listing that reports chosen entries as links (reparse points) and records
// every folder it is asked to list; everything else comes from the file system.
struct LinkingListing {
  static std::set<std::wstring> links;
  static std::vector<std::wstring> listed;

  static bool List(HANDLE folder, std::vector<FolderEntry>* entries) {
    listed.push_back(FinalPathOf(folder));
    if (!ListFolder(folder, entries)) return false;
    for (FolderEntry& entry : *entries) {
      if (links.count(entry.name)) entry.attributes |= FILE_ATTRIBUTE_REPARSE_POINT;
    }
    return true;
  }
  static bool WasListed(const std::wstring& name) {
    return std::any_of(listed.begin(), listed.end(), [&](const std::wstring& path) {
      return path.size() >= name.size() && path.compare(path.size() - name.size(), name.size(), name) == 0;
    });
  }
};
std::set<std::wstring> LinkingListing::links;
std::vector<std::wstring> LinkingListing::listed;

class RemoveBelowLinks : public ::testing::Test {
 protected:
  void SetUp() override {
    LinkingListing::links = {L"folderlink", L"filelink"};
    LinkingListing::listed.clear();
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

// A folder link is never entered: a link whose target has content keeps it
// (it cannot be deleted as an empty folder), an empty one and a file link
// (read-only here) go as themselves, and so does everything else.
TEST_F(RemoveBelowLinks, LinksAreDeletedAsThemselvesNeverEntered) {
  WriteFileBytes(root_ + L"\\folderlink\\target.txt", "target");
  std::vector<LeftEntry> left = RemoveAllBelow(root_, LinkingListing::List);
  ASSERT_EQ(left.size(), 1u);
  EXPECT_EQ(left[0].path, root_ + L"\\folderlink");
  EXPECT_FALSE(LinkingListing::WasListed(L"folderlink"));
  EXPECT_EQ(qnvpd_test::ReadFileBytes(root_ + L"\\folderlink\\target.txt"), "target");
  EXPECT_EQ(qnvpd_test::EntryNames(root_), std::vector<std::wstring>{L"folderlink"});

  DeleteFileW((root_ + L"\\folderlink\\target.txt").c_str());
  EXPECT_TRUE(RemoveAllBelow(root_, LinkingListing::List).empty());
  EXPECT_FALSE(LinkingListing::WasListed(L"folderlink"));
  EXPECT_TRUE(qnvpd_test::EntryNames(root_).empty());
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
