// Read-only access to HKEY_LOCAL_MACHINE for the carry-over, through the ANSI
// registry functions: the names and strings go into PORTS.dat byte for byte,
// in the system's ANSI code page, which is what the product installer reads.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>

#include "scoped.h"

namespace qnvpd {

// Instance names and composed key paths live in buffers of this many
// characters, the terminating zero included.
constexpr DWORD kRegistryNameChars = 260;
// String values are read through a buffer of this many bytes.
constexpr DWORD kRegistryStringBytes = 260;

// Opens HKLM\path with KEY_READ in the default view. False when it cannot be
// opened, and when the path would not fit its buffer (the key is then not
// looked for at all); key then holds nothing.
bool OpenKeyForReading(const std::string& path, ScopedKey* key);

// Reads a number through a four-byte buffer preset to 0, whatever the value's
// type: one to four bytes are taken little-endian; a longer value fails.
bool ReadDwordValue(HKEY key, const char* name, uint32_t* value);

// Reads a string through a 260-byte buffer; the text ends at its first zero
// (for a multi-string, the first string). Data without a zero that leaves no
// room to add one does not fit and fails the read. On failure text is empty.
bool ReadStringValue(HKEY key, const char* name, std::string* text);

// How a subkey walk lists a key: the RegEnumKeyExA contract, with nameChars the
// offered size on entry and the name's length on success. A seam so tests can
// present failures a real key does not give on demand.
struct SubkeyEnumeration {
  LONG (*enumerate)(HKEY key, DWORD index, char* name, DWORD* nameChars);
};
const SubkeyEnumeration& SystemSubkeyEnumeration();

// Visits every subkey name of an open key, index 0, 1, 2, ... until
// ERROR_NO_MORE_ITEMS. An index that reports another error is skipped; after
// kMaxEnumerationErrors such indexes in a row the walk gives up, so a key that
// fails for good (deleted while being walked) cannot hold the run forever.
constexpr DWORD kMaxEnumerationErrors = 64;
void ForEachSubkeyName(HKEY key, const std::function<void(const std::string&)>& visit,
                       const SubkeyEnumeration& enumeration = SystemSubkeyEnumeration());

}  // namespace qnvpd
