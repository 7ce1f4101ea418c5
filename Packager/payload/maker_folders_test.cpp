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

  // Stores exactly `bytes` bytes of `text` (so a terminator can be left out).
  void Store(const char* key, const wchar_t* value, DWORD type, const std::wstring& text,
             DWORD bytes) {
    PutWide(key, value, type, text.substr(0, bytes / sizeof(wchar_t)));
  }
  void StoreTerminated(const char* key, const wchar_t* value, DWORD type,
                       const std::wstring& text) {
    PutWide(key, value, type, text + L'\0');
  }
};

TEST_F(FolderLookups, PlainTextIsUsedUnchangedAndReferencesAreExpanded) {
  StoreTerminated(kVersionKey, L"ProgramFilesPath", REG_SZ, L"D:\\Apps %NOT_EXPANDED");
  qnvpd_test::ScopedEnvironment env(L"QNVPD_TEST_DATA", L"D:\\Data");
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

  qnvpd_test::ScopedEnvironment env(L"QNVPD_TEST_LONG", std::wstring(250, L'c'));
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
