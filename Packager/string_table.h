// Reading single entries of the program's string table.
#pragma once

#include <windows.h>

#include <string>

namespace qnvpd {

// The language of the string table for a user default language id: Japanese for
// exactly 1041, English otherwise.
LANGID StringTableLanguage(LANGID userLanguage);

// Entry `index` (0 to 15) of a string-table block: each entry is a 16-bit count
// followed by that many UTF-16 units, no terminator. Entries are read by their
// counts alone; anything that would run past the block gives an empty text.
std::wstring ReadStringTableEntry(const void* block, size_t blockBytes, unsigned index);

// Entry `id` of the string table of `module` in exactly that language; empty when
// the block or the entry is missing (no fallback to another language).
std::wstring LoadStringInLanguage(HMODULE module, UINT id, LANGID language);

// Entry `id` of the running program's string table in the string-table language
// of a user default language id.
std::wstring LoadProgramString(UINT id, LANGID userLanguage);

}  // namespace qnvpd
