#include "payload/working_folder.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <initializer_list>
#include <vector>

#include "descriptors.h"
#include "package_runner.h"
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
    ASSERT_TRUE(working.Create(kEnglish, Unlogged()));
    EXPECT_EQ(working.Path(), expected_);
    ASSERT_TRUE(working.Join(L"setup.exe", &path));
    EXPECT_EQ(path.str(), expected_ + L"setup.exe");
    EXPECT_TRUE(FolderExists(expected_));
    // Held, and every folder above it: nobody can rename the folder, or any
    // folder on its path, and put something else at its name.
    const std::wstring temp = scratch_.Path().substr(0, scratch_.Path().rfind(L'\\'));
    for (const std::wstring& held : {name_, scratch_.Path(), temp}) {
      const std::wstring moved = held + L".moved";
      const bool renamed = MoveFileW(held.c_str(), moved.c_str()) != FALSE;
      const DWORD error = GetLastError();
      if (renamed) MoveFileW(moved.c_str(), held.c_str());  // the tests after need it
      EXPECT_FALSE(renamed) << Narrow(held);
      EXPECT_EQ(error, static_cast<DWORD>(ERROR_SHARING_VIOLATION)) << Narrow(held);
    }
    CreateDirectoryW((expected_ + L"sub").c_str(), nullptr);
    WriteFileBytes(expected_ + L"sub\\.dotted", "x");
    working.Remove();
    EXPECT_FALSE(Exists(name_));
    EXPECT_EQ(working.Path(), L"");
  }
  EXPECT_EQ(EntryNames(scratch_.Path()), std::vector<std::wstring>{}) << "nothing set aside";
}

// The machine's Windows folder as the working folder's creation sees it: a
// scratch folder of the test's own with a "Temp" in it, so that no test
// writes into the real one.
std::wstring g_windows;
UINT WINAPI ScratchWindowsFolder(LPWSTR buffer, UINT capacity) {
  if (g_windows.size() >= capacity) return static_cast<UINT>(g_windows.size() + 1);
  wcscpy(buffer, g_windows.c_str());
  return static_cast<UINT>(g_windows.size());
}
// Volumes as the test sets them: below g_withoutAccessLists (everything when
// it is "*"), a volume that keeps no access lists; g_remote and g_silent for
// every folder.
std::wstring g_withoutAccessLists;
bool g_remote = false;
bool g_silent = false;
FolderVolume StagedVolume(HANDLE folder, const std::wstring& path) {
  if (g_silent) return {};
  if (g_remote) return {true, false, true};
  if (g_withoutAccessLists == L"*" || (!g_withoutAccessLists.empty() &&
                                       path.find(g_withoutAccessLists) == 0)) {
    return {true, true, false};
  }
  return QueryFolderVolume(folder);
}
// A temporary-folder query that fails or reports a length that does not fit
// leaves no base, whatever its buffer holds (Wine itself only ever fails).
DWORD TempPathTooLong(DWORD capacity, wchar_t* buffer) {
  GetTempPathW(capacity, buffer);
  return capacity + 40;
}

// Where the working folder goes, with the Windows folder and the volumes
// staged: the temporary folder first; the machine's temporary folder where the
// temporary folder cannot hold a private folder but the Windows folder's
// volume keeps access lists (SystemTemp before Temp); the temporary folder as
// it is where no folder on the machine can be kept private; none where no
// place is local.
class WorkingFolderPlace : public qnvpd_test::ScratchTempTest {
 protected:
  // The Windows folder lies beside the temporary folder, not in it.
  WorkingFolderPlace() : windows_(scratch_.Path() + L".windows") {
    CreateDirectoryW(windows_.c_str(), nullptr);
    CreateDirectoryW((windows_ + L"\\Temp").c_str(), nullptr);
    g_windows = windows_;
    g_withoutAccessLists.clear();
    g_remote = g_silent = false;
    query_ = SystemWorkingFolderQuery();
    query_.windowsFolder = ScratchWindowsFolder;
    query_.volume = StagedVolume;
  }
  // Creates, returns where, checks the folder is empty and removes it again.
  std::wstring CreatedAt(const WorkingFolderQuery& query, StepReport* report) {
    WorkingFolder working;
    if (!working.Create(kEnglish, report, query)) return L"";
    const std::wstring path = working.Path();
    EXPECT_TRUE(EntryNames(path).empty());
    working.Remove();
    EXPECT_FALSE(Exists(path));
    return path;
  }
  static bool Says(const StepReport& report, const wchar_t* text) {
    for (const std::wstring& line : report.Lines()) {
      if (line.find(text) != std::wstring::npos) return true;
    }
    return false;
  }

  ~WorkingFolderPlace() override { qnvpd_test::DeleteTree(windows_); }

  std::wstring windows_;
  WorkingFolderQuery query_;
};

TEST_F(WorkingFolderPlace, TemporaryFolderFirstThenTheMachinesOrNone) {
  const std::wstring machine = windows_ + L"\\Temp\\" + kWorkingFolderGuid + L"\\";
  StepReport report;
  EXPECT_EQ(CreatedAt(query_, &report), expected_);

  // The temporary folder on a volume without access lists (a FAT RAM disk),
  // or one its query cannot give: the machine's, and the log says why.
  g_withoutAccessLists = scratch_.Path() + L"\\";
  StepReport fat;
  EXPECT_EQ(CreatedAt(query_, &fat), machine);
  EXPECT_TRUE(Says(fat, L"keeps no access lists")) << Narrow(fat.Lines().front());
  EXPECT_TRUE(Says(fat, L"the machine's temporary folder is used instead"));
  g_withoutAccessLists.clear();
  WorkingFolderQuery unreadable = query_;
  unreadable.tempPath = TempPathTooLong;
  EXPECT_EQ(CreatedAt(unreadable, Unlogged()), machine);
  // SystemTemp, where the system has it and it can be used, comes first.
  CreateDirectoryW((windows_ + L"\\SystemTemp").c_str(), nullptr);
  EXPECT_EQ(CreatedAt(unreadable, Unlogged()),
            windows_ + L"\\SystemTemp\\" + kWorkingFolderGuid + L"\\");

  // A FAT system drive: nothing anywhere can be kept private, so the temporary
  // folder is used as it is, and the log says so.
  g_withoutAccessLists = L"*";
  StepReport unprotected;
  EXPECT_EQ(CreatedAt(query_, &unprotected), expected_);
  EXPECT_TRUE(Says(unprotected, L"no folder on this machine can be kept private"));

  // Remote or silent volumes everywhere: no place, and nothing written.
  g_withoutAccessLists.clear();
  for (bool* staged : {&g_remote, &g_silent}) {
    *staged = true;
    StepReport none;
    EXPECT_EQ(CreatedAt(query_, &none), L"");
    EXPECT_TRUE(Says(none, L"working folder: none; "));
    *staged = false;
  }
  EXPECT_TRUE(EntryNames(scratch_.Path()).empty());
  EXPECT_TRUE(EntryNames(windows_ + L"\\Temp").empty());
  EXPECT_TRUE(IsNetworkFolderText(L"\\\\server\\share\\tmp\\"));
  EXPECT_TRUE(IsNetworkFolderText(L"\\\\?\\UNC\\server\\share\\"));
  EXPECT_FALSE(IsNetworkFolderText(L"C:\\Temp\\"));
}

// A temporary folder reached through a link (under Wine a Linux link stands
// in for a junction): followed once, where the system can name a folder's
// final path, so the working folder lies in the link's target under its real
// path and the link no longer matters; refused where it cannot (Windows XP),
// and then the machine's temporary folder serves. The link's first target is
// never written to either way.
TEST_F(WorkingFolderPlace, LinkInTheTemporaryFolderIsFollowedOnceOrRefused) {
  const std::wstring real = scratch_ / L"real";
  CreateDirectoryW(real.c_str(), nullptr);
  qnvpd_test::LinuxFolderLink link(real, scratch_ / L"link");
  if (!link.Made()) GTEST_SKIP() << "links need Wine";
  ScopedEnvironment tmp(L"TMP", scratch_ / L"link");
  EXPECT_EQ(CreatedAt(query_, Unlogged()), real + L"\\" + kWorkingFolderGuid + L"\\");

  WorkingFolderQuery withoutFinalPaths = query_;
  withoutFinalPaths.finalPath = nullptr;
  StepReport report;
  EXPECT_EQ(CreatedAt(withoutFinalPaths, &report),
            windows_ + L"\\Temp\\" + kWorkingFolderGuid + L"\\");
  EXPECT_TRUE(Says(report, L"is a link this system cannot resolve safely"));
  EXPECT_TRUE(EntryNames(real).empty());
  // Without the link the chain is held from the root down all the same.
  ScopedEnvironment plain(L"TMP", real);
  EXPECT_EQ(CreatedAt(withoutFinalPaths, Unlogged()), real + L"\\" + kWorkingFolderGuid + L"\\");
}

// What is still held when the removal stops trying is registered for deletion
// at restart, deepest first and the folder last; what can go goes.
std::vector<std::wstring> g_atRestart;
bool RecordAtRestart(const std::wstring& path) {
  g_atRestart.push_back(path);
  return true;
}

TEST_F(CreateWorkingFolder, WhatStaysHeldIsDeletedAtRestartAndTheRestGoes) {
  WorkingFolder working;
  ASSERT_TRUE(working.Create(kEnglish, Unlogged()));
  CreateDirectoryW((expected_ + L"sub").c_str(), nullptr);
  WriteFileBytes(expected_ + L"sub\\held.cab", "x");
  WriteFileBytes(expected_ + L"setup.exe", "x");
  ScopedFile held(CreateFileW((expected_ + L"sub\\held.cab").c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                              nullptr));
  ASSERT_TRUE(held.IsValid());
  g_atRestart.clear();
  const StepReport report = working.Remove({300, RecordAtRestart});
  EXPECT_EQ(g_atRestart, (std::vector<std::wstring>{expected_ + L"sub\\held.cab",
                                                     expected_ + L"sub", name_}));
  EXPECT_EQ(EntryNames(expected_), std::vector<std::wstring>{L"sub"});
  ASSERT_EQ(report.Lines().size(), 3u);
  EXPECT_NE(report.Lines()[0].find(L"error 32"), std::wstring::npos);
  EXPECT_NE(report.Lines()[2].find(L"will be deleted when Windows next starts"),
            std::wstring::npos);
  held.Reset();
  qnvpd_test::DeleteTree(name_);
}

TEST_F(CreateWorkingFolder, ItAndWhatIsWrittenInItCarryThePrivateDescriptor) {
  WorkingFolder working;
  ASSERT_TRUE(working.Create(kEnglish, Unlogged()));
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
