// The working folder of a run: the product GUID under the user's temporary folder.
#pragma once

#include <string>

namespace qnvpd {

// The base folder from the two platform texts: the temporary folder as given, or
// the empty string when it equals the Windows folder exactly.
std::wstring ComposeExtractionBase(const wchar_t* tempFolder, const wchar_t* windowsFolder);

// The base folder from GetTempPathW and GetWindowsDirectoryW (260-character
// buffers); a query that fails or does not fit leaves an empty text.
std::wstring GetExtractionBase();

// Composes the ExtractionRoot (base, product GUID, "\"), removes whatever an
// earlier run left there and creates the folder afresh, readable and writable
// only by Administrators, SYSTEM and the token's owner (falling back to default
// security if that cannot be done). Returns the root, which ends in a backslash.
std::wstring PrepareExtractionRoot();

}  // namespace qnvpd
