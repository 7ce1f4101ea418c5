#include "payload/cleanup.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <vector>

#include "payload/payload_test_util.h"

namespace qnvpd {
namespace {

using qnvpd_payload_test::Exists;
using qnvpd_payload_test::IsFolder;
using qnvpd_payload_test::ScratchFolder;
using qnvpd_payload_test::WriteBytes;

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
  WriteBytes(root + L"\\setup.exe", "x");
  WriteBytes(root + L"\\qnusb\\QNUSB64\\dpinst.xml", "x");
  WriteBytes(root + L"\\qnusb\\readonly.txt", "x");
  SetFileAttributesW((root + L"\\qnusb\\readonly.txt").c_str(), FILE_ATTRIBUTE_READONLY);
  WriteBytes(root + L"\\hidden.sys", "x");
  SetFileAttributesW((root + L"\\hidden.sys").c_str(),
                     FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_READONLY);

  EXPECT_EQ(RemoveTree(root + L"\\"), 1);
  EXPECT_FALSE(Exists(root));
  EXPECT_TRUE(IsFolder(scratch.Path()));
}

TEST(RemoveTreeTest, MissingFolderGivesZero) {
  ScratchFolder scratch;
  EXPECT_EQ(RemoveTree(scratch / L"not-there\\"), 0);
  EXPECT_TRUE(IsFolder(scratch.Path()));
}

// Anyone may plant a dot-named entry in a shared temporary folder; skipping it
// would leave the tree in place for good.
TEST(RemoveTreeTest, DotNamedEntriesAreRemovedLikeAnyOther) {
  ScratchFolder scratch;
  const std::wstring root = scratch / L"root";
  CreateDirectoryW(root.c_str(), nullptr);
  CreateDirectoryW((root + L"\\sub").c_str(), nullptr);
  CreateDirectoryW((root + L"\\sub\\.keep").c_str(), nullptr);
  WriteBytes(root + L"\\sub\\.keep\\inside.txt", "x");
  WriteBytes(root + L"\\.profile", "x");
  WriteBytes(root + L"\\..dll", "x");

  EXPECT_EQ(RemoveTree(root + L"\\"), 1);
  EXPECT_FALSE(Exists(root));
  EXPECT_TRUE(IsFolder(scratch.Path()));
}

TEST(RemoveTreeTest, FileHeldOpenByAnotherProcessStopsTheRemoval) {
  wchar_t helpers[MAX_PATH] = {};
  if (GetEnvironmentVariableW(L"QNVPD_HELPERS", helpers, MAX_PATH) == 0) {
    GTEST_SKIP() << "QNVPD_HELPERS is not set";
  }
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
  EXPECT_TRUE(IsFolder(root + L"\\sub"));
  EXPECT_TRUE(IsFolder(root));

  WriteBytes(release, "");
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
    WriteBytes(root_ + L"\\filelink", "link");
    SetFileAttributesW((root_ + L"\\filelink").c_str(), FILE_ATTRIBUTE_READONLY);
    WriteBytes(root_ + L"\\plain.txt", "x");
  }
  ScratchFolder scratch_;
  std::wstring root_;
};

// A folder link whose target has content: the content survives, and since the
// link cannot be removed as an empty folder the removal stops there.
TEST_F(RemoveTreeLinks, FolderLinkIsNeverEntered) {
  WriteBytes(root_ + L"\\folderlink\\target.txt", "target");

  EXPECT_EQ(RemoveTree(root_ + L"\\", LinkingListing::Get()), 0);
  EXPECT_FALSE(LinkingListing::WasListed(L"folderlink"));
  EXPECT_EQ(qnvpd_payload_test::ReadBytes(root_ + L"\\folderlink\\target.txt"), "target");
  EXPECT_TRUE(IsFolder(root_));
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
  EXPECT_TRUE(IsFolder(withFolder + L"\\empty"));

  const std::wstring withFile = scratch / L"withFile";
  CreateDirectoryW(withFile.c_str(), nullptr);
  WriteBytes(withFile + L"\\Uninstall.lnk", "x");
  EXPECT_EQ(RemoveFolderIfEmpty(withFile), 0);
  EXPECT_TRUE(Exists(withFile + L"\\Uninstall.lnk"));
}

TEST(RemoveFolderIfEmptyTest, ADotNamedEntryCountsAndKeepsTheFolder) {
  ScratchFolder scratch;
  const std::wstring folder = scratch / L"KAVRO";
  CreateDirectoryW(folder.c_str(), nullptr);
  WriteBytes(folder + L"\\.marker", "x");
  EXPECT_EQ(RemoveFolderIfEmpty(folder), 0);
  EXPECT_TRUE(Exists(folder + L"\\.marker"));
}

TEST(RemoveFolderIfEmptyTest, MissingFolderGivesZero) {
  ScratchFolder scratch;
  EXPECT_EQ(RemoveFolderIfEmpty(scratch / L"KAVRO"), 0);
}

// The folder lookups read HKEY_LOCAL_MACHINE, redirected here to a scratch key.
class FolderLookups : public ::testing::Test {
 protected:
  static constexpr const wchar_t* kScratchKey = L"Software\\QnvpdPayloadTest";
  static constexpr const wchar_t* kVersionKey = L"Software\\Microsoft\\Windows\\CurrentVersion";
  static constexpr const wchar_t* kShellKey =
      L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";

  void SetUp() override {
    RegDeleteTreeW(HKEY_CURRENT_USER, kScratchKey);
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, kScratchKey, 0, nullptr,
                              REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &fake_, nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(RegOverridePredefKey(HKEY_LOCAL_MACHINE, fake_), ERROR_SUCCESS);
  }
  void TearDown() override {
    RegOverridePredefKey(HKEY_LOCAL_MACHINE, nullptr);
    RegCloseKey(fake_);
    RegDeleteTreeW(HKEY_CURRENT_USER, kScratchKey);
  }
  // Stores exactly `bytes` bytes of `text` (so a terminator can be left out).
  void Store(const wchar_t* key, const wchar_t* value, DWORD type, const std::wstring& text,
             DWORD bytes) {
    HKEY created = nullptr;
    ASSERT_EQ(RegCreateKeyExW(fake_, key, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                              nullptr, &created, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(RegSetValueExW(created, value, 0, type, reinterpret_cast<const BYTE*>(text.c_str()),
                             bytes),
              ERROR_SUCCESS);
    RegCloseKey(created);
  }
  void StoreTerminated(const wchar_t* key, const wchar_t* value, DWORD type,
                       const std::wstring& text) {
    Store(key, value, type, text, static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
  }
  HKEY fake_ = nullptr;
};

TEST_F(FolderLookups, PlainTextIsUsedUnchangedAndReferencesAreExpanded) {
  StoreTerminated(kVersionKey, L"ProgramFilesPath", REG_SZ, L"D:\\Apps %NOT_EXPANDED");
  qnvpd_payload_test::ScopedEnvironment env(L"QNVPD_TEST_DATA", L"D:\\Data");
  StoreTerminated(kShellKey, L"Common Programs", REG_EXPAND_SZ,
                  L"%QNVPD_TEST_DATA%\\Start Menu\\Programs");

  EXPECT_EQ(ReadProgramFilesFolder(), L"D:\\Apps %NOT_EXPANDED");
  EXPECT_EQ(ReadCommonProgramsFolder(), L"D:\\Data\\Start Menu\\Programs");
}

TEST_F(FolderLookups, MissingKeyOrValueGivesEmpty) {
  EXPECT_EQ(ReadProgramFilesFolder(), L"");
  StoreTerminated(kShellKey, L"Common Start Menu", REG_SZ, L"C:\\Menu");
  EXPECT_EQ(ReadCommonProgramsFolder(), L"");
}

TEST_F(FolderLookups, TextOrExpansionThatDoesNotFitGivesEmpty) {
  StoreTerminated(kVersionKey, L"ProgramFilesPath", REG_SZ, L"C:\\" + std::wstring(300, L'a'));
  EXPECT_EQ(ReadProgramFilesFolder(), L"");

  // 259 characters and the terminator fill the buffer exactly.
  const std::wstring longest = L"C:\\" + std::wstring(256, L'b');
  StoreTerminated(kVersionKey, L"ProgramFilesPath", REG_SZ, longest);
  EXPECT_EQ(ReadProgramFilesFolder(), longest);

  qnvpd_payload_test::ScopedEnvironment env(L"QNVPD_TEST_LONG", std::wstring(250, L'c'));
  StoreTerminated(kShellKey, L"Common Programs", REG_EXPAND_SZ,
                  L"%QNVPD_TEST_LONG%\\Start Menu\\Programs");
  EXPECT_EQ(ReadCommonProgramsFolder(), L"");
}

TEST_F(FolderLookups, StoredTextWithoutTerminatorIsTerminatedOrRefused) {
  const std::wstring fits = L"C:\\" + std::wstring(256, L'd');  // 259 characters
  Store(kVersionKey, L"ProgramFilesPath", REG_SZ, fits,
        static_cast<DWORD>(fits.size() * sizeof(wchar_t)));
  EXPECT_EQ(ReadProgramFilesFolder(), fits);

  // 260 characters without a terminator leave it no room.
  const std::wstring full = L"C:\\" + std::wstring(257, L'e');
  Store(kVersionKey, L"ProgramFilesPath", REG_SZ, full,
        static_cast<DWORD>(full.size() * sizeof(wchar_t)));
  EXPECT_EQ(ReadProgramFilesFolder(), L"");

  Store(kShellKey, L"Common Programs", REG_SZ, L"C:\\Short", 8 * sizeof(wchar_t));
  EXPECT_EQ(ReadCommonProgramsFolder(), L"C:\\Short");
}

}  // namespace
}  // namespace qnvpd
