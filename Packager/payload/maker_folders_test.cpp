#include "payload/maker_folders.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "scratch_registry.h"
#include "test_support.h"

namespace qnvpd {
namespace {

TEST(MakerFolderPathTest, AppendsTheMakerNameUnlessTheLookupGaveNothing) {
  EXPECT_EQ(L"C:\\Program Files (x86)\\KAVRO", MakerFolderPath(L"C:\\Program Files (x86)"));
  EXPECT_EQ(L"C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs\\KAVRO",
            MakerFolderPath(L"C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs"));
  EXPECT_EQ(L"", MakerFolderPath(L""));
}

// The folder lookups read HKEY_LOCAL_MACHINE, redirected here to a scratch key.
class FolderLookups : public qnvpd_test::ScratchRegistryTest {
 protected:
  static constexpr const char* kVersionKey = "Software\\Microsoft\\Windows\\CurrentVersion";
  static constexpr const char* kShellKey =
      "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";
  static constexpr const char* kProfileListKey =
      "Software\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList";

  // Stores exactly `bytes` bytes of `text` (so a terminator can be left out).
  void Store(const char* key, const wchar_t* value, DWORD type, const std::wstring& text,
             DWORD bytes) {
    PutWide(key, value, type, text.substr(0, bytes / sizeof(wchar_t)));
  }
  void StoreTerminated(const char* key, const wchar_t* value, DWORD type,
                       const std::wstring& text) {
    PutWide(key, value, type, text + L'\0');
  }

  // The drive of the Windows folder, as the system itself knows it.
  static std::wstring SystemDrive() {
    wchar_t windows[MAX_PATH] = {};
    GetSystemWindowsDirectoryW(windows, MAX_PATH);
    return std::wstring(windows, 2);
  }
};

TEST_F(FolderLookups, PlainTextIsUsedUnchangedAndReferencesAreExpanded) {
  StoreTerminated(kVersionKey, L"ProgramFilesPath", REG_SZ, L"D:\\Apps %NOT_EXPANDED");
  StoreTerminated(kProfileListKey, L"ProgramData", REG_EXPAND_SZ, L"D:\\Data");
  StoreTerminated(kShellKey, L"Common Programs", REG_EXPAND_SZ,
                  L"%ProgramData%\\Start Menu\\Programs");

  EXPECT_EQ(ReadProgramFilesFolder(), L"D:\\Apps %NOT_EXPANDED");
  EXPECT_EQ(ReadCommonProgramsFolder(), L"D:\\Data\\Start Menu\\Programs");
}

// Whoever starts the package chooses its environment (an unelevated user
// through HKCU\Environment, before the elevation): the references are expanded
// with the system's own variables only, and one to any other variable gives
// nothing.
TEST_F(FolderLookups, ReferencesComeFromTheSystemNeverFromTheProcess) {
  qnvpd_test::ScopedEnvironment files(L"ProgramFiles", L"C:\\Users\\Public\\decoy");
  qnvpd_test::ScopedEnvironment data(L"ProgramData", L"C:\\Users\\Public\\decoy");
  qnvpd_test::ScopedEnvironment allUsers(L"ALLUSERSPROFILE", L"C:\\Users\\Public\\decoy");
  qnvpd_test::ScopedEnvironment drive(L"SystemDrive", L"Q:");
  qnvpd_test::ScopedEnvironment own(L"QNVPD_TEST_DATA", L"D:\\Data");

  StoreTerminated(kVersionKey, L"ProgramFilesDir", REG_SZ, L"E:\\Programs");
  StoreTerminated(kVersionKey, L"ProgramFilesPath", REG_EXPAND_SZ, L"%programfiles%");
  StoreTerminated(kProfileListKey, L"ProgramData", REG_EXPAND_SZ, L"%SystemDrive%\\ProgramData");
  StoreTerminated(kShellKey, L"Common Programs", REG_EXPAND_SZ,
                  L"%ProgramData%\\Microsoft\\Windows\\Start Menu\\Programs");
  EXPECT_EQ(ReadProgramFilesFolder(), L"E:\\Programs");
  EXPECT_EQ(ReadCommonProgramsFolder(),
            SystemDrive() + L"\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs");

  // Windows XP: the all-users profile, and no ProgramData folder.
  Remove(kProfileListKey);
  StoreTerminated(kProfileListKey, L"ProfilesDirectory", REG_EXPAND_SZ,
                  L"%SystemDrive%\\Documents and Settings");
  StoreTerminated(kProfileListKey, L"AllUsersProfile", REG_SZ, L"All Users");
  StoreTerminated(kShellKey, L"Common Programs", REG_EXPAND_SZ,
                  L"%ALLUSERSPROFILE%\\Start Menu\\Programs");
  EXPECT_EQ(ReadCommonProgramsFolder(),
            SystemDrive() + L"\\Documents and Settings\\All Users\\Start Menu\\Programs");
  StoreTerminated(kShellKey, L"Common Programs", REG_EXPAND_SZ,
                  L"%ProgramData%\\Microsoft\\Windows\\Start Menu\\Programs");
  EXPECT_EQ(ReadCommonProgramsFolder(), L"");

  StoreTerminated(kVersionKey, L"ProgramFilesPath", REG_EXPAND_SZ, L"%QNVPD_TEST_DATA%\\Apps");
  EXPECT_EQ(ReadProgramFilesFolder(), L"");
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

  StoreTerminated(kProfileListKey, L"ProgramData", REG_SZ, L"C:\\" + std::wstring(247, L'c'));
  StoreTerminated(kShellKey, L"Common Programs", REG_EXPAND_SZ,
                  L"%ProgramData%\\Start Menu\\Programs");
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
