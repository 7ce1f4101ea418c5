// The working folder of a run: the product GUID under the user's temporary folder.
#pragma once

#include <windows.h>

#include <string>

namespace qnvpd {

// The base folder from the two platform texts: the temporary folder as given, or
// the empty string when it equals the Windows folder exactly.
std::wstring ComposeExtractionBase(const wchar_t* tempFolder, const wchar_t* windowsFolder);

// The ExtractionRoot from a base folder and the product GUID: base, GUID, "\".
// No separator goes between the two, since a base that is not empty ends in one.
std::wstring ComposeExtractionRoot(const std::wstring& base, const std::wstring& productCode);

// The base folder from GetTempPathW and GetWindowsDirectoryW (260-character
// buffers); a query that fails or does not fit leaves an empty text.
std::wstring GetExtractionBase();

// The security the ExtractionRoot is created with: a protected DACL that grants
// full access to Administrators, SYSTEM and the process token's owner (one entry
// when the owner is one of the two), inherited by files and folders below.
class PrivateFolderSecurity {
 public:
  PrivateFolderSecurity();
  PrivateFolderSecurity(const PrivateFolderSecurity&) = delete;
  PrivateFolderSecurity& operator=(const PrivateFolderSecurity&) = delete;

  // For CreateDirectoryW; null when the descriptor could not be built.
  SECURITY_ATTRIBUTES* Attributes() { return ready_ ? &attributes_ : nullptr; }

 private:
  bool ReadTokenOwner();
  bool Allow(PSID sid);

  // Room for three allowed entries of the largest SID, and the ACL header.
  static constexpr DWORD kAclBytes =
      sizeof(ACL) + 3 * (sizeof(ACCESS_ALLOWED_ACE) + SECURITY_MAX_SID_SIZE);

  alignas(DWORD) BYTE administrators_[SECURITY_MAX_SID_SIZE] = {};
  alignas(DWORD) BYTE system_[SECURITY_MAX_SID_SIZE] = {};
  alignas(DWORD) BYTE ownerInfo_[sizeof(TOKEN_OWNER) + SECURITY_MAX_SID_SIZE] = {};
  PSID owner_ = nullptr;
  alignas(DWORD) BYTE acl_[kAclBytes] = {};
  SECURITY_DESCRIPTOR descriptor_ = {};
  SECURITY_ATTRIBUTES attributes_ = {};
  bool ready_ = false;
};

// Composes the ExtractionRoot (base, the product GUID in the string-table
// language of userLanguage, "\"), removes whatever an earlier run left there
// and creates the folder afresh, readable and writable only by Administrators,
// SYSTEM and the token's owner (falling back to default security if that cannot
// be done). Returns the root, which ends in a backslash, or an empty text when
// no folder of this run's own could be created there (for instance one keeps
// reappearing): nothing may be written then.
std::wstring PrepareExtractionRoot(LANGID userLanguage);

}  // namespace qnvpd
