#include "payload/extraction_root.h"

#include <windows.h>

#include <cwchar>
#include <initializer_list>

#include "bounded_text.h"
#include "string_table.h"
#include "payload/cleanup.h"
#include "payload/payload_manifest.h"
#include "scoped.h"

namespace qnvpd {

namespace {

// A stale root that keeps coming back between our removal and our creation is
// someone else's doing; after this many tries we stop racing for it.
constexpr int kCreateAttempts = 3;

// S-1-5-<rids> built in place (the well-known-SID call is missing on the oldest
// systems the package accepts).
bool BuildNtSid(BYTE* buffer, DWORD capacity, std::initializer_list<DWORD> rids) {
  SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
  const BYTE count = static_cast<BYTE>(rids.size());
  if (GetSidLengthRequired(count) > capacity || !InitializeSid(buffer, &nt, count)) return false;
  DWORD index = 0;
  for (DWORD rid : rids) *GetSidSubAuthority(buffer, index++) = rid;
  return true;
}

}  // namespace

PrivateFolderSecurity::PrivateFolderSecurity() {
  if (!BuildNtSid(administrators_, sizeof administrators_,
                  {SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS}) ||
      !BuildNtSid(system_, sizeof system_, {SECURITY_LOCAL_SYSTEM_RID})) {
    return;
  }
  if (!ReadTokenOwner()) return;

  if (!InitializeAcl(reinterpret_cast<PACL>(acl_), sizeof acl_, ACL_REVISION)) return;
  if (!Allow(administrators_) || !Allow(system_)) return;
  // An elevated administrator's token is usually owned by the Administrators
  // group itself; one entry for it is enough.
  if (!EqualSid(owner_, administrators_) && !EqualSid(owner_, system_) && !Allow(owner_)) return;

  if (!InitializeSecurityDescriptor(&descriptor_, SECURITY_DESCRIPTOR_REVISION)) return;
  if (!SetSecurityDescriptorDacl(&descriptor_, TRUE, reinterpret_cast<PACL>(acl_), FALSE)) return;
  // Protected: nothing of the temporary folder's own entries is inherited, so
  // whoever may write there cannot write in here.
  if (!SetSecurityDescriptorControl(&descriptor_, SE_DACL_PROTECTED, SE_DACL_PROTECTED)) return;
  attributes_.nLength = sizeof attributes_;
  attributes_.lpSecurityDescriptor = &descriptor_;
  attributes_.bInheritHandle = FALSE;
  ready_ = true;
}

bool PrivateFolderSecurity::ReadTokenOwner() {
  ScopedHandle token;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.Receive())) return false;
  DWORD needed = 0;
  if (!GetTokenInformation(token.Get(), TokenOwner, ownerInfo_, sizeof ownerInfo_, &needed)) {
    return false;
  }
  owner_ = reinterpret_cast<TOKEN_OWNER*>(ownerInfo_)->Owner;
  return owner_ != nullptr && IsValidSid(owner_);
}

bool PrivateFolderSecurity::Allow(PSID sid) {
  return AddAccessAllowedAceEx(reinterpret_cast<PACL>(acl_), ACL_REVISION,
                               OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE, FILE_ALL_ACCESS,
                               sid) != FALSE;
}

std::wstring ComposeExtractionBase(const wchar_t* tempFolder, const wchar_t* windowsFolder) {
  if (std::wcscmp(tempFolder, windowsFolder) == 0) return std::wstring();
  return tempFolder;
}

std::wstring ComposeExtractionRoot(const std::wstring& base, const std::wstring& productCode) {
  return base + productCode + L"\\";
}

std::wstring GetExtractionBase() {
  wchar_t temp[kPathCapacity] = {};
  wchar_t windows[kPathCapacity] = {};
  // A length of 0 is a failure and one of the capacity or more a path that does
  // not fit; neither leaves a text we may use, whatever the buffer holds.
  const DWORD tempLength = GetTempPathW(static_cast<DWORD>(kPathCapacity), temp);
  if (tempLength == 0 || tempLength >= kPathCapacity) temp[0] = L'\0';
  const DWORD windowsLength = GetWindowsDirectoryW(windows, static_cast<UINT>(kPathCapacity));
  if (windowsLength == 0 || windowsLength >= kPathCapacity) windows[0] = L'\0';
  return ComposeExtractionBase(temp, windows);
}

std::wstring PrepareExtractionRoot(LANGID userLanguage) {
  const std::wstring root =
      ComposeExtractionRoot(GetExtractionBase(), LoadProgramString(kProductCodeId, userLanguage));
  // Whatever an earlier run left behind is not ours to hand to the installer.
  RemoveTree(root);
  PrivateFolderSecurity security;
  if (security.Attributes() != nullptr) {
    for (int attempt = 0; attempt < kCreateAttempts; ++attempt) {
      // Only a folder this call created carries our descriptor; one that
      // reappeared after the removal could hold files planted by someone else.
      if (CreateDirectoryW(root.c_str(), security.Attributes())) return root;
      if (GetLastError() != ERROR_ALREADY_EXISTS) break;
      RemoveTree(root);
    }
  }
  // Default security rather than no install at all, but still only in a folder
  // this run created.
  if (CreateDirectoryW(root.c_str(), nullptr)) return root;
  return std::wstring();
}

}  // namespace qnvpd
