#include "administrator.h"

#include "scoped.h"

namespace qnvpd {

namespace {

struct HeapBlockTraits {  // blocks from the process heap
  using Handle = void*;
  static Handle Invalid() { return nullptr; }
  static void Close(Handle h) { HeapFree(GetProcessHeap(), 0, h); }
};
struct SidTraits {  // SIDs from AllocateAndInitializeSid
  using Handle = PSID;
  static Handle Invalid() { return nullptr; }
  static void Close(Handle h) { FreeSid(h); }
};
using ScopedHeapBlock = Scoped<HeapBlockTraits>;
using ScopedSid = Scoped<SidTraits>;

}  // namespace

int GroupsContainSid(const TOKEN_GROUPS& groups, PSID sid) {
  for (DWORD i = 0; i < groups.GroupCount; ++i) {
    if (EqualSid(groups.Groups[i].Sid, sid)) return 1;
  }
  return 0;
}

int IsAdministrator() {
  // An impersonating thread is judged by the user it acts for; only a thread
  // without a token of its own falls back to the process token.
  ScopedHandle token;
  if (!OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, FALSE, token.Receive())) {
    if (GetLastError() != ERROR_NO_TOKEN) return 0;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.Receive())) return 0;
  }

  DWORD size = 0;
  if (GetTokenInformation(token.Get(), TokenGroups, nullptr, 0, &size) ||
      GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
    return 0;
  }
  ScopedHeapBlock groups(HeapAlloc(GetProcessHeap(), 0, size));
  if (!groups.IsValid()) return 0;
  if (!GetTokenInformation(token.Get(), TokenGroups, groups.Get(), size, &size)) return 0;

  // S-1-5-32-544, BUILTIN\Administrators.
  SID_IDENTIFIER_AUTHORITY ntAuthority = SECURITY_NT_AUTHORITY;
  ScopedSid administrators;
  if (!AllocateAndInitializeSid(&ntAuthority, 2, SECURITY_BUILTIN_DOMAIN_RID,
                                DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0,
                                administrators.Receive())) {
    return 0;
  }
  // Membership counts, not whether the group is enabled: a deny-only entry (an
  // administrator running without elevation) passes as well.
  return GroupsContainSid(*static_cast<const TOKEN_GROUPS*>(groups.Get()), administrators.Get());
}

}  // namespace qnvpd
