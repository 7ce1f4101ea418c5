#include "string_table.h"

#include <cstring>

#include "languages.h"

namespace qnvpd {

LANGID StringTableLanguage(LANGID userLanguage) {
  return LanguageFor(userLanguage).stringTable;
}

std::wstring ReadStringTableEntry(const void* block, size_t blockBytes, unsigned index) {
  if (block == nullptr || index > 15) return std::wstring();
  const unsigned char* bytes = static_cast<const unsigned char*>(block);
  size_t offset = 0;
  for (unsigned i = 0;; ++i) {
    if (offset + sizeof(WORD) > blockBytes) return std::wstring();
    WORD count;
    std::memcpy(&count, bytes + offset, sizeof count);
    offset += sizeof(WORD);
    size_t textBytes = static_cast<size_t>(count) * sizeof(wchar_t);
    if (textBytes > blockBytes - offset) return std::wstring();
    if (i == index) {
      std::wstring text(count, L'\0');
      if (count) std::memcpy(&text[0], bytes + offset, textBytes);
      return text;
    }
    offset += textBytes;
  }
}

std::wstring LoadStringInLanguage(HMODULE module, UINT id, LANGID language) {
  HRSRC found = FindResourceExW(module, RT_STRING, MAKEINTRESOURCEW(id / 16 + 1), language);
  if (found == nullptr) return std::wstring();
  HGLOBAL loaded = LoadResource(module, found);
  if (loaded == nullptr) return std::wstring();
  const void* block = LockResource(loaded);
  return ReadStringTableEntry(block, SizeofResource(module, found), id % 16);
}

std::wstring LoadProgramString(UINT id, LANGID userLanguage) {
  return LoadStringInLanguage(GetModuleHandleW(nullptr), id, StringTableLanguage(userLanguage));
}

}  // namespace qnvpd
