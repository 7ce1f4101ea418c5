#include "checks/single_instance.h"

#include <windows.h>

#include <aclapi.h>

#include <initializer_list>
#include <string>

#include "private_security.h"
#include "scoped.h"
#include "system_export.h"

namespace qnvpd {

namespace {

// The package's private namespace: its name, and the boundary every copy
// names it by. Microsoft documents that a namespace is identified by its name
// and boundary together, that only a caller within the boundary can create it,
// and that a process can create one only at its own integrity level or below.
// With the Administrators SID and the high integrity label in the boundary, a
// standard user (or an administrator's unelevated, medium-integrity programs)
// can neither create it nor make one under that name first; the descriptor
// given at creation keeps everyone but administrators and SYSTEM from opening
// it, so nobody else can put an object into it either.
constexpr wchar_t kNamespaceAlias[] = L"KAVRO.QNVPDSetup";
constexpr wchar_t kBoundaryName[] = L"KAVRO QNVPDSetup";

using CreateBoundaryFn = HANDLE(WINAPI*)(LPCWSTR, ULONG);
using AddSidFn = BOOL(WINAPI*)(HANDLE*, PSID);
using DeleteBoundaryFn = VOID(WINAPI*)(HANDLE);
using CreateNamespaceFn = HANDLE(WINAPI*)(LPSECURITY_ATTRIBUTES, LPVOID, LPCWSTR);
using OpenNamespaceFn = HANDLE(WINAPI*)(LPVOID, LPCWSTR);

// Owns a boundary descriptor.
class Boundary {
 public:
  Boundary(CreateBoundaryFn create, DeleteBoundaryFn remove)
      : handle_(create(kBoundaryName, 0)), remove_(remove) {}
  ~Boundary() {
    if (handle_ != nullptr) remove_(handle_);
  }
  Boundary(const Boundary&) = delete;
  Boundary& operator=(const Boundary&) = delete;
  HANDLE* Receive() { return &handle_; }
  HANDLE Get() const { return handle_; }

 private:
  HANDLE handle_;
  DeleteBoundaryFn remove_;
};

bool BuildSid(BYTE (&sid)[SECURITY_MAX_SID_SIZE], SID_IDENTIFIER_AUTHORITY authority,
              std::initializer_list<DWORD> rids) {
  const BYTE count = static_cast<BYTE>(rids.size());
  if (!InitializeSid(sid, &authority, count)) return false;
  DWORD index = 0;
  for (DWORD rid : rids) *GetSidSubAuthority(sid, index++) = rid;
  return true;
}

HANDLE SystemCreatePrivateMutex(const wchar_t* name) {
  // Looked up at run time: Windows XP and Server 2003 lack private namespaces,
  // and Windows Vista the integrity label in a boundary.
  auto createBoundary = Kernel32Export<CreateBoundaryFn>("CreateBoundaryDescriptorW");
  auto addSid = Kernel32Export<AddSidFn>("AddSIDToBoundaryDescriptor");
  auto addLabel = Kernel32Export<AddSidFn>("AddIntegrityLabelToBoundaryDescriptor");
  auto deleteBoundary = Kernel32Export<DeleteBoundaryFn>("DeleteBoundaryDescriptor");
  auto createNamespace = Kernel32Export<CreateNamespaceFn>("CreatePrivateNamespaceW");
  auto openNamespace = Kernel32Export<OpenNamespaceFn>("OpenPrivateNamespaceW");
  if (createBoundary == nullptr || addSid == nullptr || deleteBoundary == nullptr ||
      createNamespace == nullptr || openNamespace == nullptr) {
    SetLastError(ERROR_NOT_SUPPORTED);
    return nullptr;
  }
  Boundary boundary(createBoundary, deleteBoundary);
  // Wine has the name but no boundaries: it returns none.
  if (boundary.Get() == nullptr) {
    SetLastError(ERROR_NOT_SUPPORTED);
    return nullptr;
  }
  alignas(DWORD) BYTE administrators[SECURITY_MAX_SID_SIZE] = {};
  alignas(DWORD) BYTE highLabel[SECURITY_MAX_SID_SIZE] = {};
  if (!BuildSid(administrators, SECURITY_NT_AUTHORITY,
                {SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS}) ||
      !BuildSid(highLabel, SECURITY_MANDATORY_LABEL_AUTHORITY, {SECURITY_MANDATORY_HIGH_RID}) ||
      !addSid(boundary.Receive(), administrators) ||
      (addLabel != nullptr && !addLabel(boundary.Receive(), highLabel))) {
    return nullptr;
  }
  PrivateFolderSecurity security;  // Administrators and SYSTEM only
  if (security.Attributes() == nullptr) return nullptr;
  // Never closed, as the mutex: the namespace lives as long as this run.
  HANDLE space = createNamespace(security.Attributes(), boundary.Get(), kNamespaceAlias);
  if (space == nullptr && GetLastError() == ERROR_ALREADY_EXISTS) {
    space = openNamespace(boundary.Get(), kNamespaceAlias);
  }
  if (space == nullptr) return nullptr;
  const std::wstring qualified = std::wstring(kNamespaceAlias) + L"\\" + name;
  return CreateMutexW(nullptr, FALSE, qualified.c_str());
}

bool ReadTokenOwner(BYTE (&sid)[SECURITY_MAX_SID_SIZE]) {
  ScopedHandle token;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.Receive())) return false;
  alignas(TOKEN_OWNER) BYTE buffer[sizeof(TOKEN_OWNER) + SECURITY_MAX_SID_SIZE] = {};
  DWORD size = 0;
  if (!GetTokenInformation(token.Get(), TokenOwner, buffer, sizeof buffer, &size)) return false;
  const PSID owner = reinterpret_cast<TOKEN_OWNER*>(buffer)->Owner;
  return IsValidSid(owner) && CopySid(sizeof sid, sid, owner);
}

bool SystemIsFromAPackage(HANDLE mutex) {
  PSID owner = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetSecurityInfo(mutex, SE_KERNEL_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr,
                      nullptr, nullptr, &descriptor) != ERROR_SUCCESS) {
    return true;  // cannot tell: another copy, as before
  }
  ScopedLocal owned(descriptor);
  // Every object on Windows has an owner; Wine leaves it out.
  if (owner == nullptr || !IsValidSid(owner) || IsAdministratorsOrSystem(owner)) return true;
  alignas(DWORD) BYTE ours[SECURITY_MAX_SID_SIZE] = {};
  return ReadTokenOwner(ours) && EqualSid(owner, ours);
}

void RaiseOtherCopy(const wchar_t* name) {
  // The running copy's notification window bears the same name as its class;
  // bring it forward so the user sees which installer is active.
  HWND other = FindWindowW(name, nullptr);
  if (other != nullptr) SetForegroundWindow(other);
}

}  // namespace

const InstanceGuardSystem& SystemInstanceGuard() {
  static const InstanceGuardSystem system = {SystemCreatePrivateMutex, SystemIsFromAPackage};
  return system;
}

InstanceCheck CheckSingleInstance(const wchar_t* name, const InstanceGuardSystem& system) {
  // Not owned and never closed: the mutex's mere existence marks a running
  // package, and it vanishes with the process however the process ends.
  HANDLE mutex = CreateMutexW(nullptr, FALSE, name);
  const DWORD error = GetLastError();
  bool squatted = false;
  if (mutex == nullptr) {
    // Another kind of object holds the name, or a mutex an administrator may
    // not open: no copy of the package made either.
    if (error != ERROR_INVALID_HANDLE && error != ERROR_ACCESS_DENIED) {
      return InstanceCheck::kNoGuard;
    }
    squatted = true;
  } else if (error == ERROR_ALREADY_EXISTS) {
    if (system.isFromAPackage(mutex)) {
      RaiseOtherCopy(name);
      return InstanceCheck::kAnotherCopy;
    }
    // Someone else's: not kept open, so that it goes when its maker ends.
    CloseHandle(mutex);
    squatted = true;
  }

  // Taken on every run, not only a squatted one: a copy that ran while the
  // name was squatted holds only this one.
  HANDLE guard = system.createPrivateMutex(name);
  const DWORD guardError = GetLastError();
  if (guard != nullptr && guardError == ERROR_ALREADY_EXISTS) {
    RaiseOtherCopy(name);
    return InstanceCheck::kAnotherCopy;
  }
  if (!squatted) return InstanceCheck::kAlone;
  if (guard != nullptr) return InstanceCheck::kAloneNameTaken;
  // Without private namespaces a squatted name stops the run as it always did.
  if (mutex != nullptr) {
    RaiseOtherCopy(name);
    return InstanceCheck::kAnotherCopy;
  }
  return InstanceCheck::kNoGuard;
}

int IsAnotherInstanceRunning(const wchar_t* name) {
  const InstanceCheck check = CheckSingleInstance(name);
  return check == InstanceCheck::kAnotherCopy || check == InstanceCheck::kNoGuard ? 1 : 0;
}

}  // namespace qnvpd
