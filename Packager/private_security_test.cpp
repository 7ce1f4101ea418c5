#include "private_security.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <initializer_list>
#include <vector>

#include "descriptors.h"

namespace qnvpd {
namespace {

using qnvpd_test::DaclSummary;
using qnvpd_test::WellKnownSid;

bool OwnedBy(PSECURITY_DESCRIPTOR descriptor, WELL_KNOWN_SID_TYPE type) {
  PSID owner = nullptr;
  BOOL defaulted = TRUE;
  if (!GetSecurityDescriptorOwner(descriptor, &owner, &defaulted) || owner == nullptr) {
    return false;
  }
  std::vector<BYTE> expected = WellKnownSid(type);
  return !defaulted && EqualSid(owner, expected.data());
}

TEST(PrivateFolderSecurityTest, OwnedByAdministratorsAndGrantsOnlyThemAndSystem) {
  PrivateFolderSecurity security;
  ASSERT_NE(security.Attributes(), nullptr);
  EXPECT_EQ(security.Attributes()->nLength, sizeof(SECURITY_ATTRIBUTES));
  EXPECT_FALSE(security.Attributes()->bInheritHandle);
  PSECURITY_DESCRIPTOR descriptor = security.Attributes()->lpSecurityDescriptor;
  ASSERT_TRUE(IsValidSecurityDescriptor(descriptor));
  EXPECT_TRUE(OwnedBy(descriptor, WinBuiltinAdministratorsSid));
  qnvpd_test::ExpectPrivate(DaclSummary(descriptor));
  EXPECT_TRUE(IsPrivateDescriptor(descriptor));
}

// A descriptor built for the test: owner, protection and allowed entries.
class TestDescriptor {
 public:
  TestDescriptor(WELL_KNOWN_SID_TYPE owner, bool isProtected,
                 std::initializer_list<WELL_KNOWN_SID_TYPE> allowed, bool withDacl = true)
      : owner_(WellKnownSid(owner)) {
    InitializeSecurityDescriptor(&descriptor_, SECURITY_DESCRIPTOR_REVISION);
    SetSecurityDescriptorOwner(&descriptor_, owner_.data(), FALSE);
    InitializeAcl(reinterpret_cast<PACL>(acl_), sizeof acl_, ACL_REVISION);
    for (WELL_KNOWN_SID_TYPE type : allowed) {
      sids_.push_back(WellKnownSid(type));
      AddAccessAllowedAce(reinterpret_cast<PACL>(acl_), ACL_REVISION, FILE_ALL_ACCESS,
                          sids_.back().data());
    }
    SetSecurityDescriptorDacl(&descriptor_, TRUE,
                              withDacl ? reinterpret_cast<PACL>(acl_) : nullptr, FALSE);
    if (isProtected) SetSecurityDescriptorControl(&descriptor_, SE_DACL_PROTECTED, SE_DACL_PROTECTED);
  }
  PSECURITY_DESCRIPTOR Get() { return &descriptor_; }

 private:
  std::vector<BYTE> owner_;
  std::vector<std::vector<BYTE>> sids_;
  alignas(DWORD) BYTE acl_[512] = {};
  SECURITY_DESCRIPTOR descriptor_;
};

TEST(PrivateFolderSecurityTest, OnlyAdministratorsOwnedProtectedAndClosedCountsAsPrivate) {
  const auto admins = WinBuiltinAdministratorsSid;
  const auto system = WinLocalSystemSid;
  EXPECT_TRUE(IsPrivateDescriptor(TestDescriptor(admins, true, {admins, system}).Get()));
  EXPECT_TRUE(IsPrivateDescriptor(TestDescriptor(system, true, {system}).Get()));
  // An owner who is not an administrator can rewrite the DACL.
  EXPECT_FALSE(IsPrivateDescriptor(TestDescriptor(WinBuiltinUsersSid, true, {admins}).Get()));
  EXPECT_FALSE(IsPrivateDescriptor(TestDescriptor(WinWorldSid, true, {admins}).Get()));
  // Unprotected, it inherits whatever the temporary folder grants.
  EXPECT_FALSE(IsPrivateDescriptor(TestDescriptor(admins, false, {admins, system}).Get()));
  EXPECT_FALSE(
      IsPrivateDescriptor(TestDescriptor(admins, true, {admins, WinBuiltinUsersSid}).Get()));
  EXPECT_FALSE(
      IsPrivateDescriptor(TestDescriptor(admins, true, {admins, WinCreatorOwnerSid}).Get()));
  // A null DACL grants everyone everything.
  EXPECT_FALSE(IsPrivateDescriptor(TestDescriptor(admins, true, {}, false).Get()));
  EXPECT_FALSE(IsPrivateDescriptor(nullptr));
}

}  // namespace
}  // namespace qnvpd
