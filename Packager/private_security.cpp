#include "private_security.h"

#include <initializer_list>

namespace qnvpd {

namespace {

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

bool IsAdministratorsOrSystem(PSID sid) {
  alignas(DWORD) BYTE administrators[SECURITY_MAX_SID_SIZE] = {};
  alignas(DWORD) BYTE system[SECURITY_MAX_SID_SIZE] = {};
  if (sid == nullptr || !IsValidSid(sid)) return false;
  if (!BuildNtSid(administrators, sizeof administrators,
                  {SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS}) ||
      !BuildNtSid(system, sizeof system, {SECURITY_LOCAL_SYSTEM_RID})) {
    return false;
  }
  return EqualSid(sid, administrators) || EqualSid(sid, system);
}

PrivateFolderSecurity::PrivateFolderSecurity() {
  if (!BuildNtSid(administrators_, sizeof administrators_,
                  {SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS}) ||
      !BuildNtSid(system_, sizeof system_, {SECURITY_LOCAL_SYSTEM_RID})) {
    return;
  }
  if (!InitializeAcl(reinterpret_cast<PACL>(acl_), sizeof acl_, ACL_REVISION)) return;
  if (!Allow(administrators_) || !Allow(system_)) return;

  if (!InitializeSecurityDescriptor(&descriptor_, SECURITY_DESCRIPTOR_REVISION)) return;
  // Set explicitly: the default owner may be the user's own account, and an
  // owner can always rewrite the DACL, that is let anyone in.
  if (!SetSecurityDescriptorOwner(&descriptor_, administrators_, FALSE)) return;
  if (!SetSecurityDescriptorDacl(&descriptor_, TRUE, reinterpret_cast<PACL>(acl_), FALSE)) return;
  // Protected: nothing of the temporary folder's own entries is inherited, so
  // whoever may write there cannot write in here.
  if (!SetSecurityDescriptorControl(&descriptor_, SE_DACL_PROTECTED, SE_DACL_PROTECTED)) return;
  attributes_.nLength = sizeof attributes_;
  attributes_.lpSecurityDescriptor = &descriptor_;
  attributes_.bInheritHandle = FALSE;
  ready_ = true;
}

bool PrivateFolderSecurity::Allow(PSID sid) {
  return AddAccessAllowedAceEx(reinterpret_cast<PACL>(acl_), ACL_REVISION,
                               OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE, FILE_ALL_ACCESS,
                               sid) != FALSE;
}

bool IsPrivateDescriptor(PSECURITY_DESCRIPTOR descriptor) {
  if (descriptor == nullptr || !IsValidSecurityDescriptor(descriptor)) return false;
  PSID owner = nullptr;
  BOOL defaulted = FALSE;
  if (!GetSecurityDescriptorOwner(descriptor, &owner, &defaulted) ||
      !IsAdministratorsOrSystem(owner)) {
    return false;
  }
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  if (!GetSecurityDescriptorControl(descriptor, &control, &revision) ||
      !(control & SE_DACL_PROTECTED)) {
    return false;
  }
  BOOL present = FALSE;
  PACL dacl = nullptr;
  // A missing or null DACL lets everyone in.
  if (!GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted) || !present ||
      dacl == nullptr) {
    return false;
  }
  for (DWORD index = 0; index < dacl->AceCount; ++index) {
    void* ace = nullptr;
    if (!GetAce(dacl, index, &ace)) return false;
    if (static_cast<ACE_HEADER*>(ace)->AceType != ACCESS_ALLOWED_ACE_TYPE) return false;
    if (!IsAdministratorsOrSystem(&static_cast<ACCESS_ALLOWED_ACE*>(ace)->SidStart)) return false;
  }
  return true;
}

}  // namespace qnvpd
