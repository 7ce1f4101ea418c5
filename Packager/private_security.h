// The package's private security: what only administrators and the system may
// touch. The package runs elevated in folders others can write to, so what it
// creates there, and what it trusts, must be theirs alone.
#pragma once

#include <windows.h>

namespace qnvpd {

// Administrators or SYSTEM.
bool IsAdministratorsOrSystem(PSID sid);

// The security the working folder (and a run log this run creates) is created
// with: owned by the Administrators
// group, and a protected DACL that grants full access to Administrators and
// SYSTEM only, inherited by files and folders below.
class PrivateFolderSecurity {
 public:
  PrivateFolderSecurity();
  PrivateFolderSecurity(const PrivateFolderSecurity&) = delete;
  PrivateFolderSecurity& operator=(const PrivateFolderSecurity&) = delete;

  // For CreateDirectoryW; null when the descriptor could not be built.
  SECURITY_ATTRIBUTES* Attributes() { return ready_ ? &attributes_ : nullptr; }

 private:
  bool Allow(PSID sid);

  // Room for two allowed entries of the largest SID, and the ACL header.
  static constexpr DWORD kAclBytes =
      sizeof(ACL) + 2 * (sizeof(ACCESS_ALLOWED_ACE) + SECURITY_MAX_SID_SIZE);

  alignas(DWORD) BYTE administrators_[SECURITY_MAX_SID_SIZE] = {};
  alignas(DWORD) BYTE system_[SECURITY_MAX_SID_SIZE] = {};
  alignas(DWORD) BYTE acl_[kAclBytes] = {};
  SECURITY_DESCRIPTOR descriptor_ = {};
  SECURITY_ATTRIBUTES attributes_ = {};
  bool ready_ = false;
};

// Whether a descriptor keeps everyone but administrators out: owned by
// Administrators or SYSTEM (an owner can always rewrite the DACL), with a
// protected DACL of allowed entries for those two only.
bool IsPrivateDescriptor(PSECURITY_DESCRIPTOR descriptor);


}  // namespace qnvpd
