#include "payload/maker_folders.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "payload_test_util.h"

namespace qnvpd {
namespace {

TEST(MakerFolderPathTest, AppendsTheMakerNameUnlessTheLookupGaveNothing) {
  EXPECT_EQ(L"C:\\Program Files (x86)\\KAVRO", MakerFolderPath(L"C:\\Program Files (x86)"));
  EXPECT_EQ(L"C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs\\KAVRO",
            MakerFolderPath(L"C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs"));
  EXPECT_EQ(L"", MakerFolderPath(L""));
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
