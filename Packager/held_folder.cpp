#include "held_folder.h"

#include <winternl.h>

namespace qnvpd {

HANDLE OpenHeldFolder(const std::wstring& path, DWORD access) {
  return CreateFileW(path.c_str(), access | FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | READ_CONTROL,
                     FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                     FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
}

bool IsPlainFolder(HANDLE held, const std::wstring& path) {
  BY_HANDLE_FILE_INFORMATION info = {};
  if (!GetFileInformationByHandle(held, &info)) return false;
  const DWORD byPath = GetFileAttributesW(path.c_str());
  for (DWORD attributes : {info.dwFileAttributes, byPath}) {
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) ||
        !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
      return false;
    }
  }
  return true;
}

bool DeleteThroughHandle(HANDLE opened) {
  // The native call exists on every system the package accepts (the Win32
  // wrapper only from Vista on); ntdll is not among the package's imports.
  using SetInformationFn =
      NTSTATUS(NTAPI*)(HANDLE, PIO_STATUS_BLOCK, PVOID, ULONG, FILE_INFORMATION_CLASS);
  using StatusToErrorFn = ULONG(NTAPI*)(NTSTATUS);
  HMODULE ntdll = GetModuleHandleW(L"ntdll");
  auto setInformation = ntdll == nullptr ? nullptr
                                         : reinterpret_cast<SetInformationFn>(reinterpret_cast<void*>(
                                               GetProcAddress(ntdll, "NtSetInformationFile")));
  auto statusToError = ntdll == nullptr ? nullptr
                                        : reinterpret_cast<StatusToErrorFn>(reinterpret_cast<void*>(
                                              GetProcAddress(ntdll, "RtlNtStatusToDosError")));
  if (setInformation == nullptr || statusToError == nullptr) {
    SetLastError(ERROR_PROC_NOT_FOUND);
    return false;
  }
  constexpr FILE_INFORMATION_CLASS kDispositionInformation = static_cast<FILE_INFORMATION_CLASS>(13);
  BOOLEAN deleteFile = TRUE;
  IO_STATUS_BLOCK io = {};
  const NTSTATUS status =
      setInformation(opened, &io, &deleteFile, sizeof deleteFile, kDispositionInformation);
  if (status < 0) {
    SetLastError(statusToError(status));
    return false;
  }
  return true;
}

}  // namespace qnvpd
