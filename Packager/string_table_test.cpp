#include "string_table.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace qnvpd {
namespace {

// A block built the way the resource compiler lays it out.
std::vector<unsigned char> MakeBlock(const std::vector<std::wstring>& entries) {
  std::vector<unsigned char> block;
  for (size_t i = 0; i < 16; ++i) {
    std::wstring text = i < entries.size() ? entries[i] : std::wstring();
    WORD count = static_cast<WORD>(text.size());
    block.push_back(count & 0xFF);
    block.push_back(count >> 8);
    const unsigned char* p = reinterpret_cast<const unsigned char*>(text.data());
    block.insert(block.end(), p, p + text.size() * sizeof(wchar_t));
  }
  return block;
}

TEST(ReadStringTableEntry, EntriesByCount) {
  auto block = MakeBlock({L"zero", L"", L"two", L"", L"", L"", L"", L"", L"", L"", L"", L"",
                          L"", L"", L"", L"last"});
  EXPECT_EQ(L"zero", ReadStringTableEntry(block.data(), block.size(), 0));
  EXPECT_EQ(L"", ReadStringTableEntry(block.data(), block.size(), 1));
  EXPECT_EQ(L"two", ReadStringTableEntry(block.data(), block.size(), 2));
  EXPECT_EQ(L"last", ReadStringTableEntry(block.data(), block.size(), 15));
  EXPECT_EQ(L"", ReadStringTableEntry(block.data(), block.size(), 16));
  EXPECT_EQ(L"", ReadStringTableEntry(nullptr, 0, 0));
}

TEST(ReadStringTableEntry, TruncatedBlockNeverReadsPastItsEnd) {
  auto block = MakeBlock({L"abc", L"defgh"});
  // Cut inside entry 1's text: entry 0 still reads, entry 1 and later do not.
  size_t cut = 2 + 6 + 2 + 4;
  EXPECT_EQ(L"abc", ReadStringTableEntry(block.data(), cut, 0));
  EXPECT_EQ(L"", ReadStringTableEntry(block.data(), cut, 1));
  EXPECT_EQ(L"", ReadStringTableEntry(block.data(), cut, 5));
  // A count far beyond the block.
  unsigned char bogus[4] = {0xFF, 0xFF, 'a', 0};
  EXPECT_EQ(L"", ReadStringTableEntry(bogus, sizeof bogus, 0));
}

TEST(StringTableLanguage, JapaneseOnlyForExactly1041) {
  EXPECT_EQ(1041, StringTableLanguage(1041));
  for (LANGID other : {1033, 2052, 1028, 3076, 0x0011}) EXPECT_EQ(1033, StringTableLanguage(other));
}

// This test program carries the package's string tables.
TEST(LoadStringInLanguage, ReadsThePackageTablesInBothLanguages) {
  HMODULE self = GetModuleHandleW(nullptr);
  for (LANGID language : {1033, 1041}) {
    EXPECT_EQ(L"{5A1C90E2-7D3F-4B8A-9E21-0C6F4D8B2A17}", LoadStringInLanguage(self, 123, language));
    EXPECT_EQ(L"QN Virtual Port Driver Installer", LoadStringInLanguage(self, 111, language));
    EXPECT_EQ(L"KAVRO QN Virtual Port Driver Ver.7.20a", LoadStringInLanguage(self, 60, language));
    EXPECT_EQ(L"setup.exe", LoadStringInLanguage(self, 114, language));
    EXPECT_EQ(L"QNCOMUSBCLN.dll", LoadStringInLanguage(self, 157, language));
    EXPECT_EQ(L"QNVirtualPortDriver_User'sManual.pdf", LoadStringInLanguage(self, 154, language));
    // 115 is the icon's id, not a string: empty entry inside an existing block.
    EXPECT_EQ(L"", LoadStringInLanguage(self, 115, language));
  }
  // A block that does not exist, and a language without a table: no fallback.
  EXPECT_EQ(L"", LoadStringInLanguage(self, 4000, 1033));
  EXPECT_EQ(L"", LoadStringInLanguage(self, 123, 2052));
  // The running program's table in the row's language: Chinese users read English.
  EXPECT_EQ(L"{5A1C90E2-7D3F-4B8A-9E21-0C6F4D8B2A17}", LoadProgramString(123, 1041));
  EXPECT_EQ(L"{5A1C90E2-7D3F-4B8A-9E21-0C6F4D8B2A17}", LoadProgramString(123, 2052));
}

}  // namespace
}  // namespace qnvpd
