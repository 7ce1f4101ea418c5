// Membership of the local Administrators group.
#pragma once

#include <windows.h>

namespace qnvpd {

// 1 when the calling thread's token (or, without one, the process token) lists
// BUILTIN\Administrators in any state, enabled, disabled or deny-only; 0 when it
// does not, and on any failure of the token, buffer or SID calls.
int IsAdministrator();

// The group walk of IsAdministrator: 1 when one of the first GroupCount entries
// of groups has the SID sid (attributes not looked at), else 0.
int GroupsContainSid(const TOKEN_GROUPS& groups, PSID sid);

}  // namespace qnvpd
