#include "descriptors.h"

#include <aclapi.h>
#include <gtest/gtest.h>

namespace qnvpd_test {

std::vector<BYTE> WellKnownSid(WELL_KNOWN_SID_TYPE type) {
  std::vector<BYTE> sid(SECURITY_MAX_SID_SIZE);
  DWORD size = static_cast<DWORD>(sid.size());
  CreateWellKnownSid(type, nullptr, sid.data(), &size);
  sid.resize(size);
  return sid;
}

DaclSummary::DaclSummary(PSECURITY_DESCRIPTOR descriptor) {
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  if (!GetSecurityDescriptorControl(descriptor, &control, &revision)) return;
  isProtected = (control & SE_DACL_PROTECTED) != 0;
  BOOL present = FALSE;
  BOOL defaulted = FALSE;
  PACL dacl = nullptr;
  if (!GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted) || !present ||
      dacl == nullptr) {
    return;
  }
  for (DWORD i = 0; i < dacl->AceCount; ++i) {
    void* ace = nullptr;
    if (!GetAce(dacl, i, &ace)) continue;
    aces.push_back(*static_cast<ACE_HEADER*>(ace));
    if (aces.back().AceType == ACCESS_ALLOWED_ACE_TYPE) {
      auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
      masks.push_back(allowed->Mask);
      auto* sid = reinterpret_cast<BYTE*>(&allowed->SidStart);
      sids.push_back(std::vector<BYTE>(sid, sid + GetLengthSid(sid)));
    }
  }
}

bool DaclSummary::Grants(const std::vector<BYTE>& sid) const {
  for (const auto& entry : sids) {
    if (EqualSid(const_cast<BYTE*>(entry.data()), const_cast<BYTE*>(sid.data()))) return true;
  }
  return false;
}

StoredDescriptor::StoredDescriptor(const std::wstring& path) {
  error_ = GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                                 nullptr, nullptr, nullptr, &descriptor_);
}

StoredDescriptor::~StoredDescriptor() { LocalFree(descriptor_); }

void ExpectPrivate(const DaclSummary& dacl) {
  EXPECT_TRUE(dacl.isProtected);
  ASSERT_EQ(dacl.aces.size(), 2u);
  ASSERT_EQ(dacl.sids.size(), dacl.aces.size()) << "only allowed entries expected";
  EXPECT_TRUE(dacl.Grants(WellKnownSid(WinBuiltinAdministratorsSid)));
  EXPECT_TRUE(dacl.Grants(WellKnownSid(WinLocalSystemSid)));
  for (size_t i = 0; i < dacl.aces.size(); ++i) {
    EXPECT_EQ(dacl.aces[i].AceFlags & (OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE),
              OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE);
    EXPECT_EQ(dacl.masks[i], static_cast<ACCESS_MASK>(FILE_ALL_ACCESS));
  }
}

bool FileSystemKeepsDescriptors(const std::wstring& scratch) {
  const std::wstring probe = scratch + L"\\descriptor-probe";
  alignas(DWORD) BYTE acl[256] = {};
  std::vector<BYTE> system = WellKnownSid(WinLocalSystemSid);
  SECURITY_DESCRIPTOR descriptor;
  InitializeAcl(reinterpret_cast<PACL>(acl), sizeof acl, ACL_REVISION);
  AddAccessAllowedAce(reinterpret_cast<PACL>(acl), ACL_REVISION, FILE_ALL_ACCESS, system.data());
  InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION);
  SetSecurityDescriptorDacl(&descriptor, TRUE, reinterpret_cast<PACL>(acl), FALSE);
  SetSecurityDescriptorControl(&descriptor, SE_DACL_PROTECTED, SE_DACL_PROTECTED);
  SECURITY_ATTRIBUTES attributes = {sizeof attributes, &descriptor, FALSE};
  if (!CreateDirectoryW(probe.c_str(), &attributes)) return false;
  bool kept = false;
  {
    StoredDescriptor stored(probe);
    const DaclSummary dacl = stored.Summary();
    kept = stored.Error() == ERROR_SUCCESS && dacl.isProtected && dacl.sids.size() == 1;
  }
  RemoveDirectoryW(probe.c_str());
  return kept;
}

}  // namespace qnvpd_test
