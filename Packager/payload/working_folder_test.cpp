#include "payload/working_folder.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <initializer_list>
#include <vector>

#include "descriptors.h"
#include "scratch_temp.h"
#include "test_support.h"

namespace qnvpd {
namespace {

constexpr LANGID kEnglish = 1033;

using qnvpd_test::DaclSummary;
using qnvpd_test::EntryNames;
using qnvpd_test::Exists;
using qnvpd_test::FolderExists;
using qnvpd_test::kWorkingFolderGuid;
using qnvpd_test::Narrow;
using qnvpd_test::ScopedEnvironment;
using qnvpd_test::ScratchFolder;
using qnvpd_test::StoredDescriptor;
using qnvpd_test::WellKnownSid;
using qnvpd_test::WriteFileBytes;

TEST(WorkingFolderBase, TheTemporaryFolderOrTheCurrentOneAndAlwaysAbsolute) {
  // Only an exact match with the Windows folder counts: a trailing backslash or
  // letter case differs.
  EXPECT_EQ(ComposeWorkingFolderBase(L"C:\\windows\\", L"C:\\windows", L"D:\\cwd"),
            L"C:\\windows\\");
  EXPECT_EQ(ComposeWorkingFolderBase(L"C:\\WINDOWS", L"C:\\windows", L"D:\\cwd"), L"");
  EXPECT_EQ(ComposeWorkingFolderBase(L"C:\\Temp\\", L"C:\\windows", L"D:\\cwd"), L"C:\\Temp\\");
  EXPECT_EQ(ComposeWorkingFolderBase(L"\\\\srv\\share\\t\\", L"C:\\windows", L""),
            L"\\\\srv\\share\\t\\");
  // The Windows folder itself: the current folder, made a folder text.
  EXPECT_EQ(ComposeWorkingFolderBase(L"C:\\windows", L"C:\\windows", L"D:\\cwd"), L"D:\\cwd\\");
  EXPECT_EQ(ComposeWorkingFolderBase(L"C:\\windows", L"C:\\windows", L"D:\\"), L"D:\\");
  // Nothing relative or empty is ever a base.
  EXPECT_EQ(ComposeWorkingFolderBase(L"C:\\windows", L"C:\\windows", L""), L"");
  EXPECT_EQ(ComposeWorkingFolderBase(L"", L"C:\\windows", L"D:\\cwd"), L"");
  EXPECT_EQ(ComposeWorkingFolderBase(L"temp\\", L"C:\\windows", L"D:\\cwd"), L"");
  EXPECT_EQ(ComposeWorkingFolderBase(L"C:temp\\", L"C:\\windows", L"D:\\cwd"), L"");
  EXPECT_EQ(ComposeWorkingFolderBase(L"\\temp\\", L"C:\\windows", L"D:\\cwd"), L"");
}

TEST(WorkingFolderBase, FolderIsAbsoluteBaseGuidAndOneBackslashOrNothing) {
  EXPECT_EQ(ComposeWorkingFolder(L"C:\\Temp\\", kWorkingFolderGuid),
            L"C:\\Temp\\{5A1C90E2-7D3F-4B8A-9E21-0C6F4D8B2A17}\\");
  EXPECT_EQ(ComposeWorkingFolder(L"", kWorkingFolderGuid), L"")
      << "never relative to the current folder";
  EXPECT_EQ(ComposeWorkingFolder(L"C:\\Temp", kWorkingFolderGuid), L"");
  // An empty or odd product code would make the working folder the temporary
  // folder or somewhere else entirely.
  for (const wchar_t* code : {L"", L".", L"..", L"..\\x", L"a/b", L"C:x"}) {
    EXPECT_EQ(ComposeWorkingFolder(L"C:\\Temp\\", code), L"") << Narrow(code);
  }
}

TEST(WorkingFolderBase, FollowsTheTemporaryFolderAndRefusesOneThatDoesNotFit) {
  ScratchFolder scratch;
  {
    ScopedEnvironment tmp(L"TMP", scratch / L"work");
    EXPECT_EQ(GetWorkingFolderBase(), scratch / L"work\\");
  }
  for (size_t length : {260u, 300u}) {
    ScopedEnvironment tmp(L"TMP", L"C:\\" + std::wstring(length - 3, L'x'));
    EXPECT_EQ(GetWorkingFolderBase(), L"") << length;
  }
}

// One backslash between the folder and what is below it, never two and never
// none, and a path that does not fit is refused whole, never cut short.
TEST(WorkingFolderJoin, AppendsBelowTheFolderTextOrRefuses) {
  const std::wstring folder = L"C:\\T\\{G}\\";
  // A folder text of `length` characters that ends in one backslash.
  auto folderOf = [](size_t length) { return L"C:\\" + std::wstring(length - 4, L'r') + L"\\"; };
  const std::wstring kit = L"QNCOMUSBCLN.dll";
  const struct {
    std::wstring folder;
    std::wstring name;
    bool joins;
  } cases[] = {
      {folder, L"setup.exe", true},
      {folder, L"manual\\EN\\ReadMeE.txt", true},
      {folder, L"qnusb\\QNUSB64\\", true},  // a subfolder, as a folder text
      {L"C:\\T\\{G}", L"setup.exe", false},      // not a folder text: would drop one
      {L"C:\\T\\{G}\\\\", L"setup.exe", false},  // doubled already
      {folder, L"\\setup.exe", false},           // would double one
      {folder, L"", false},                      // the folder itself is no path below it
      {L"", L"setup.exe", false},                // a folder not created
      // 259 characters and the terminator fill kPathCapacity; one more does not fit.
      {folderOf(259 - kit.size()), kit, true},
      {folderOf(260 - kit.size()), kit, false},
  };
  for (const auto& c : cases) {
    BoundedText<kPathCapacity> path;
    path.Append(L"untouched");
    EXPECT_EQ(JoinBelow(c.folder, c.name, &path), c.joins) << Narrow(c.folder + c.name);
    EXPECT_EQ(path.str(), c.joins ? c.folder + c.name : L"untouched")
        << Narrow(c.folder + c.name);
  }
  // The tree's own capacity, for files the system itself may refuse beyond
  // kPathCapacity: 521 characters and the terminator.
  BoundedText<kTreePathCapacity> tree;
  EXPECT_TRUE(JoinBelow(folderOf(510), std::wstring(11, L'n'), &tree));
  EXPECT_EQ(tree.size(), 521u);
  EXPECT_FALSE(JoinBelow(folderOf(510), std::wstring(12, L'n'), &tree));
  EXPECT_EQ(tree.size(), 521u);
  EXPECT_EQ(FolderName(folder), L"C:\\T\\{G}");
}

// WorkingFolder with the temporary folder pointed at a scratch folder.
using CreateWorkingFolder = qnvpd_test::ScratchTempTest;

TEST_F(CreateWorkingFolder, CreatesHoldsAndRemovesTheSameFolderOnEveryRun) {
  for (int run = 0; run < 2; ++run) {
    WorkingFolder working;
    BoundedText<kPathCapacity> path;
    EXPECT_FALSE(working.Join(L"setup.exe", &path)) << "nothing to join below yet";
    ASSERT_TRUE(working.Create(kEnglish));
    EXPECT_EQ(working.Path(), expected_);
    ASSERT_TRUE(working.Join(L"setup.exe", &path));
    EXPECT_EQ(path.str(), expected_ + L"setup.exe");
    EXPECT_TRUE(FolderExists(expected_));
    // Held: nobody can rename the folder or put something else at its name.
    EXPECT_FALSE(MoveFileW(name_.c_str(), (scratch_ / L"moved").c_str()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    CreateDirectoryW((expected_ + L"sub").c_str(), nullptr);
    WriteFileBytes(expected_ + L"sub\\.dotted", "x");
    working.Remove();
    EXPECT_FALSE(Exists(name_));
    EXPECT_EQ(working.Path(), L"");
  }
  EXPECT_EQ(EntryNames(scratch_.Path()), std::vector<std::wstring>{}) << "nothing set aside";
}

// A temporary-folder query that fails or reports a length that does not fit
// leaves no base, whatever its buffer holds (Wine itself only ever fails).
DWORD TempPathTooLong(DWORD capacity, wchar_t* buffer) {
  GetTempPathW(capacity, buffer);
  return capacity + 40;
}
DWORD TempPathFilledButFailed(DWORD capacity, wchar_t* buffer) {
  GetTempPathW(capacity, buffer);
  return 0;
}
// Volumes where a private descriptor would not keep others out, or that do
// not say: nothing of the run may land there.
FolderVolume VolumeWithoutAccessLists(HANDLE) { return {true, true, false}; }
FolderVolume RemoteVolume(HANDLE) { return {true, false, true}; }
FolderVolume SilentVolume(HANDLE) { return {}; }

TEST_F(CreateWorkingFolder, RefusesATemporaryFolderItCannotTrustBeforeWritingAnything) {
  std::vector<WorkingFolderQuery> queries;
  for (auto tempPath : {TempPathTooLong, TempPathFilledButFailed}) {
    queries.push_back(SystemWorkingFolderQuery());
    queries.back().tempPath = tempPath;
  }
  for (auto volume : {VolumeWithoutAccessLists, RemoteVolume, SilentVolume}) {
    queries.push_back(SystemWorkingFolderQuery());
    queries.back().volume = volume;
  }
  for (size_t i = 0; i < queries.size(); ++i) {
    WorkingFolder working;
    EXPECT_FALSE(working.Create(kEnglish, queries[i])) << i;
    EXPECT_EQ(working.Path(), L"") << i;
    EXPECT_TRUE(EntryNames(scratch_.Path()).empty()) << i;
  }
  EXPECT_TRUE(IsNetworkFolderText(L"\\\\server\\share\\tmp\\"));
  EXPECT_TRUE(IsNetworkFolderText(L"\\\\?\\UNC\\server\\share\\"));
  EXPECT_FALSE(IsNetworkFolderText(L"C:\\Temp\\"));
}

// The folder goes through a handle on it, its path never looked up again: a
// folder put at that path meanwhile (here after the parent was renamed, which
// Wine allows while the folder is held) is not the one removed. (Wine then
// deletes neither; Windows deletes the moved folder.)
TEST_F(CreateWorkingFolder, NeverRemovesWhatNowStandsAtItsPath) {
  WorkingFolder working;
  ASSERT_TRUE(working.Create(kEnglish));
  const std::wstring moved = scratch_.Path() + L".moved";
  ASSERT_TRUE(MoveFileW(scratch_.Path().c_str(), moved.c_str()));
  ASSERT_TRUE(CreateDirectoryW(scratch_.Path().c_str(), nullptr));
  ASSERT_TRUE(CreateDirectoryW(name_.c_str(), nullptr));
  working.Remove();
  EXPECT_TRUE(FolderExists(name_)) << "the stand-in at the old path stays";
  qnvpd_test::DeleteTree(moved);
}

TEST_F(CreateWorkingFolder, ItAndWhatIsWrittenInItCarryThePrivateDescriptor) {
  WorkingFolder working;
  ASSERT_TRUE(working.Create(kEnglish));
  const std::wstring folder = working.Path();
  WriteFileBytes(folder + L"payload.bin", "x");
  StoredDescriptor stored(folder);
  ASSERT_EQ(stored.Error(), static_cast<DWORD>(ERROR_SUCCESS));
  StoredDescriptor child(folder + L"payload.bin");
  ASSERT_EQ(child.Error(), static_cast<DWORD>(ERROR_SUCCESS));

  // Holds even where the platform derives a folder's descriptor from its Unix
  // mode: one made with default security there lets Everyone read it.
  for (WELL_KNOWN_SID_TYPE outsider : {WinWorldSid, WinBuiltinUsersSid, WinAuthenticatedUserSid}) {
    EXPECT_FALSE(stored.Summary().Grants(WellKnownSid(outsider))) << outsider;
  }

  if (!qnvpd_test::FileSystemKeepsDescriptors(scratch_.Path())) {
    GTEST_SKIP() << "this file system does not keep security descriptors; "
                    "only the absence of outsiders was checked";
  }
  qnvpd_test::ExpectPrivate(stored.Summary());
  // What the run writes below inherits the same entries.
  const DaclSummary inherited = child.Summary();
  EXPECT_EQ(inherited.sids.size(), stored.Summary().sids.size());
  for (const ACE_HEADER& ace : inherited.aces) EXPECT_TRUE(ace.AceFlags & INHERITED_ACE);
}

// The same check against a folder made with default security, so that the
// outsider test above is known to tell the two apart on this platform.
TEST_F(CreateWorkingFolder, DefaultSecurityWouldLetOutsidersIn) {
  const std::wstring plain = scratch_ / L"plain";
  ASSERT_TRUE(CreateDirectoryW(plain.c_str(), nullptr));
  StoredDescriptor stored(plain);
  ASSERT_EQ(stored.Error(), static_cast<DWORD>(ERROR_SUCCESS));
  const DaclSummary dacl = stored.Summary();
  if (dacl.isProtected) GTEST_SKIP() << "the temporary folder is itself private here";
  EXPECT_TRUE(dacl.Grants(WellKnownSid(WinWorldSid)) ||
              dacl.Grants(WellKnownSid(WinBuiltinUsersSid)) ||
              dacl.Grants(WellKnownSid(WinAuthenticatedUserSid)));
}

}  // namespace
}  // namespace qnvpd
