#include "checks/administrator.h"

#include <windows.h>
#include <sddl.h>

#include <gtest/gtest.h>

#include <initializer_list>
#include <thread>
#include <vector>

#include "scoped.h"

namespace qnvpd {
namespace {

const wchar_t kAdministrators[] = L"S-1-5-32-544";

// SIDs for the tests come from their text form, not from the code under test.
PSID SidFromText(const wchar_t* text, ScopedLocal* owner) {
  PSID sid = nullptr;
  EXPECT_TRUE(ConvertStringSidToSidW(text, &sid)) << "bad SID text";
  owner->Reset(sid);
  return sid;
}

// A TOKEN_GROUPS record as GetTokenInformation lays it out, built by hand.
class GroupList {
 public:
  explicit GroupList(std::initializer_list<SID_AND_ATTRIBUTES> entries)
      : bytes_(sizeof(TOKEN_GROUPS) + entries.size() * sizeof(SID_AND_ATTRIBUTES)) {
    TOKEN_GROUPS* groups = reinterpret_cast<TOKEN_GROUPS*>(bytes_.data());
    groups->GroupCount = static_cast<DWORD>(entries.size());
    DWORD i = 0;
    for (const SID_AND_ATTRIBUTES& entry : entries) groups->Groups[i++] = entry;
  }
  TOKEN_GROUPS& get() { return *reinterpret_cast<TOKEN_GROUPS*>(bytes_.data()); }

 private:
  std::vector<unsigned char> bytes_;
};

TEST(AdministratorTest, GroupWalkFindsOnlyTheAdministratorsSid) {
  ScopedLocal a, u, p, d, r, l;
  PSID admins = SidFromText(kAdministrators, &a);
  PSID users = SidFromText(L"S-1-5-32-545", &u);
  PSID powerUsers = SidFromText(L"S-1-5-32-547", &p);
  PSID domainRid544 = SidFromText(L"S-1-5-21-1-2-3-544", &d);  // same RID, other domain
  PSID builtinDomain = SidFromText(L"S-1-5-32", &r);
  PSID highLabel = SidFromText(L"S-1-16-12288", &l);

  EXPECT_EQ(0, GroupsContainSid(GroupList({}).get(), admins));
  EXPECT_EQ(0, GroupsContainSid(GroupList({{powerUsers, SE_GROUP_ENABLED}}).get(), admins));
  EXPECT_EQ(0, GroupsContainSid(GroupList({{users, SE_GROUP_ENABLED},
                                           {domainRid544, SE_GROUP_ENABLED},
                                           {builtinDomain, SE_GROUP_ENABLED},
                                           {highLabel, SE_GROUP_INTEGRITY}})
                                    .get(),
                                admins));

  // Found in the middle of the list, whatever its attributes say.
  for (DWORD attributes : {DWORD{SE_GROUP_ENABLED | SE_GROUP_ENABLED_BY_DEFAULT},
                           DWORD{0}, DWORD{SE_GROUP_USE_FOR_DENY_ONLY}}) {
    SCOPED_TRACE(attributes);
    EXPECT_EQ(1, GroupsContainSid(GroupList({{users, SE_GROUP_ENABLED},
                                             {admins, attributes},
                                             {powerUsers, SE_GROUP_ENABLED}})
                                      .get(),
                                  admins));
  }
}

TEST(AdministratorTest, GroupWalkStopsAtTheGroupCount) {
  ScopedLocal a, p;
  PSID admins = SidFromText(kAdministrators, &a);
  PSID powerUsers = SidFromText(L"S-1-5-32-547", &p);
  GroupList list({{powerUsers, SE_GROUP_ENABLED}, {admins, SE_GROUP_ENABLED}});
  list.get().GroupCount = 1;
  EXPECT_EQ(0, GroupsContainSid(list.get(), admins));
  list.get().GroupCount = 2;
  EXPECT_EQ(1, GroupsContainSid(list.get(), admins));
}

TEST(AdministratorTest, ProcessTokenWithoutImpersonation) {
  // No thread token here, so the process token decides; Wine lists the group.
  HANDLE probe = nullptr;
  ASSERT_FALSE(OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, FALSE, &probe));
  ASSERT_EQ(static_cast<DWORD>(ERROR_NO_TOKEN), GetLastError());
  EXPECT_EQ(1, IsAdministrator());
}

// Makes the calling thread act with token until the end of the scope.
class Impersonation {
 public:
  explicit Impersonation(HANDLE token) : active_(SetThreadToken(nullptr, token) != FALSE) {}
  ~Impersonation() {
    if (active_) SetThreadToken(nullptr, nullptr);
  }
  bool active() const { return active_; }

 private:
  bool active_;
};

bool OpenOwnProcessToken(ScopedHandle* token) {
  return OpenProcessToken(GetCurrentProcess(), TOKEN_DUPLICATE | TOKEN_QUERY,
                          token->Receive()) != FALSE;
}

DWORD AdministratorsAttributes(HANDLE token) {
  DWORD size = 0;
  GetTokenInformation(token, TokenGroups, nullptr, 0, &size);
  std::vector<unsigned char> bytes(size);
  if (!GetTokenInformation(token, TokenGroups, bytes.data(), size, &size)) return 0;
  ScopedLocal owner;
  PSID admins = SidFromText(kAdministrators, &owner);
  const TOKEN_GROUPS* groups = reinterpret_cast<const TOKEN_GROUPS*>(bytes.data());
  for (DWORD i = 0; i < groups->GroupCount; ++i) {
    if (EqualSid(groups->Groups[i].Sid, admins)) return groups->Groups[i].Attributes;
  }
  return 0;
}

TEST(AdministratorTest, DenyOnlyAdministratorsInTheThreadTokenPasses) {
  ScopedHandle process;
  ASSERT_TRUE(OpenOwnProcessToken(&process));
  ScopedLocal owner;
  SID_AND_ATTRIBUTES disable = {SidFromText(kAdministrators, &owner), 0};
  ScopedHandle restricted;
  ASSERT_TRUE(CreateRestrictedToken(process.Get(), 0, 1, &disable, 0, nullptr, 0, nullptr,
                                    restricted.Receive()));
  ScopedHandle impersonation;
  ASSERT_TRUE(DuplicateToken(restricted.Get(), SecurityImpersonation, impersonation.Receive()));
  ASSERT_TRUE(AdministratorsAttributes(impersonation.Get()) & SE_GROUP_USE_FOR_DENY_ONLY);

  int answer = -1;
  std::thread worker([&] {
    Impersonation acting(impersonation.Get());
    ASSERT_TRUE(acting.active());
    answer = IsAdministrator();
  });
  worker.join();
  EXPECT_EQ(1, answer);
}

TEST(AdministratorTest, UnreadableThreadTokenDoesNotFallBackToTheProcess) {
  // An anonymous-level impersonation token cannot be opened (error 1347, not
  // ERROR_NO_TOKEN), so the answer is 0 although the process token would pass.
  ScopedHandle process;
  ASSERT_TRUE(OpenOwnProcessToken(&process));
  ScopedHandle anonymous;
  ASSERT_TRUE(DuplicateToken(process.Get(), SecurityAnonymous, anonymous.Receive()));

  int answer = -1;
  DWORD openError = 0;
  std::thread worker([&] {
    Impersonation acting(anonymous.Get());
    ASSERT_TRUE(acting.active());
    HANDLE probe = nullptr;
    if (!OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, FALSE, &probe)) {
      openError = GetLastError();
    } else {
      CloseHandle(probe);
    }
    answer = IsAdministrator();
  });
  worker.join();
  ASSERT_NE(0u, openError);
  ASSERT_NE(static_cast<DWORD>(ERROR_NO_TOKEN), openError);
  EXPECT_EQ(0, answer);
  EXPECT_EQ(1, IsAdministrator());  // this thread still goes by the process token
}

}  // namespace
}  // namespace qnvpd
