#include "held_folder.h"

#include <winternl.h>

#include "system_export.h"

namespace qnvpd {

namespace {

template <typename Fn>
Fn Native(const char* name) {
  return NtdllExport<Fn>(name);
}

using SetInformationFn = NTSTATUS(NTAPI*)(HANDLE, PIO_STATUS_BLOCK, PVOID, ULONG,
                                          FILE_INFORMATION_CLASS);
using QueryInformationFn = SetInformationFn;
using StatusToErrorFn = ULONG(NTAPI*)(NTSTATUS);

// FILE_INFORMATION_CLASS and FS_INFORMATION_CLASS values the headers here lack.
constexpr auto kBasicInformation = static_cast<FILE_INFORMATION_CLASS>(4);
constexpr auto kDispositionInformation = static_cast<FILE_INFORMATION_CLASS>(13);
constexpr ULONG kFsDeviceInformation = 4;
constexpr ULONG kFsAttributeInformation = 5;

struct BasicInformation {
  LARGE_INTEGER creationTime, lastAccessTime, lastWriteTime, changeTime;
  ULONG fileAttributes;
};
struct FsDeviceInformation {
  ULONG deviceType;
  ULONG characteristics;
};
struct FsAttributeInformation {
  ULONG fileSystemAttributes;
  LONG maximumComponentNameLength;
  ULONG fileSystemNameLength;
  WCHAR fileSystemName[64];
};
constexpr ULONG kRemoteDevice = 0x10;               // FILE_REMOTE_DEVICE
constexpr ULONG kNetworkFileSystemDevice = 0x14;    // FILE_DEVICE_NETWORK_FILE_SYSTEM
constexpr ULONG kNetworkDevice = 0x12;              // FILE_DEVICE_NETWORK

// False, with the last error set from the status, when it is an error.
bool Succeeded(NTSTATUS status) {
  if (status >= 0) return true;
  auto toError = Native<StatusToErrorFn>("RtlNtStatusToDosError");
  SetLastError(toError != nullptr ? toError(status) : ERROR_GEN_FAILURE);
  return false;
}

}  // namespace

HANDLE OpenHeldFolder(const std::wstring& path, DWORD access) {
  return CreateFileW(path.c_str(), access | kHeldFolderAccess, FILE_SHARE_READ | FILE_SHARE_WRITE,
                     nullptr, OPEN_EXISTING,
                     FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
}

HANDLE CreateHeldFolder(const std::wstring& path, PSECURITY_DESCRIPTOR descriptor) {
  using NtCreateFileFn = NTSTATUS(NTAPI*)(PHANDLE, ACCESS_MASK, POBJECT_ATTRIBUTES,
                                          PIO_STATUS_BLOCK, PLARGE_INTEGER, ULONG, ULONG, ULONG,
                                          ULONG, PVOID, ULONG);
  using ToNativeNameFn = BOOLEAN(NTAPI*)(PCWSTR, PUNICODE_STRING, PCWSTR*, PVOID);
  using FreeNameFn = VOID(NTAPI*)(PUNICODE_STRING);
  // The native call is the only one that creates a folder and returns a handle
  // to it; the name conversion is the one CreateDirectoryW uses.
  auto createFile = Native<NtCreateFileFn>("NtCreateFile");
  auto toNativeName = Native<ToNativeNameFn>("RtlDosPathNameToNtPathName_U");
  auto freeName = Native<FreeNameFn>("RtlFreeUnicodeString");
  if (createFile == nullptr || toNativeName == nullptr || freeName == nullptr) {
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
  }
  UNICODE_STRING name = {};
  if (!toNativeName(path.c_str(), &name, nullptr, nullptr)) {
    SetLastError(ERROR_BAD_PATHNAME);
    return nullptr;
  }
  OBJECT_ATTRIBUTES attributes;
  InitializeObjectAttributes(&attributes, &name, OBJ_CASE_INSENSITIVE, nullptr, descriptor);
  IO_STATUS_BLOCK io = {};
  HANDLE folder = nullptr;
  // FILE_CREATE fails on anything already there, a link included.
  const NTSTATUS status = createFile(
      &folder, kHeldFolderAccess | SYNCHRONIZE, &attributes, &io, nullptr,
      FILE_ATTRIBUTE_NORMAL, FILE_SHARE_READ | FILE_SHARE_WRITE, FILE_CREATE,
      FILE_DIRECTORY_FILE | FILE_SYNCHRONOUS_IO_NONALERT | FILE_OPEN_REPARSE_POINT, nullptr, 0);
  freeName(&name);
  return Succeeded(status) ? folder : nullptr;
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

FolderVolume QueryFolderVolume(HANDLE folder) {
  using QueryVolumeFn = NTSTATUS(NTAPI*)(HANDLE, PIO_STATUS_BLOCK, PVOID, ULONG, ULONG);
  FolderVolume volume;
  auto query = Native<QueryVolumeFn>("NtQueryVolumeInformationFile");
  if (query == nullptr) return volume;
  IO_STATUS_BLOCK io = {};
  FsDeviceInformation device = {};
  FsAttributeInformation attributes = {};
  if (!Succeeded(query(folder, &io, &device, sizeof device, kFsDeviceInformation)) ||
      !Succeeded(query(folder, &io, &attributes, sizeof attributes, kFsAttributeInformation))) {
    return volume;
  }
  volume.known = true;
  volume.local = !(device.characteristics & kRemoteDevice) &&
                 device.deviceType != kNetworkFileSystemDevice &&
                 device.deviceType != kNetworkDevice;
  volume.keepsAccessLists = (attributes.fileSystemAttributes & FILE_PERSISTENT_ACLS) != 0;
  return volume;
}

HANDLE ReopenThroughHandle(HANDLE opened, DWORD access) {
  using NtOpenFileFn =
      NTSTATUS(NTAPI*)(PHANDLE, ACCESS_MASK, POBJECT_ATTRIBUTES, PIO_STATUS_BLOCK, ULONG, ULONG);
  auto openFile = Native<NtOpenFileFn>("NtOpenFile");
  if (openFile == nullptr) {
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
  }
  // An empty name relative to a handle names the handle's own file.
  UNICODE_STRING none = {};
  OBJECT_ATTRIBUTES attributes;
  InitializeObjectAttributes(&attributes, &none, 0, opened, nullptr);
  IO_STATUS_BLOCK io = {};
  HANDLE reopened = nullptr;
  const NTSTATUS status = openFile(&reopened, access | SYNCHRONIZE, &attributes, &io,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                   FILE_SYNCHRONOUS_IO_NONALERT | FILE_OPEN_REPARSE_POINT);
  return Succeeded(status) ? reopened : nullptr;
}

bool DeleteAnchoredFolder(HANDLE anchor) {
  HANDLE deleter = ReopenThroughHandle(anchor, kDeleteAccess);
  if (deleter == nullptr) return false;
  const bool deleted = DeleteThroughHandle(deleter);
  const DWORD error = GetLastError();
  CloseHandle(deleter);
  SetLastError(error);
  return deleted;
}

bool DeleteThroughHandle(HANDLE opened) {
  auto query = Native<QueryInformationFn>("NtQueryInformationFile");
  auto set = Native<SetInformationFn>("NtSetInformationFile");
  if (query == nullptr || set == nullptr) {
    SetLastError(ERROR_PROC_NOT_FOUND);
    return false;
  }
  IO_STATUS_BLOCK io = {};
  // A read-only entry refuses deletion; the attribute goes first, through the
  // same handle (zero times leave the times as they are).
  BasicInformation basic = {};
  if (Succeeded(query(opened, &io, &basic, sizeof basic, kBasicInformation)) &&
      (basic.fileAttributes & FILE_ATTRIBUTE_READONLY)) {
    BasicInformation cleared = {};
    cleared.fileAttributes = basic.fileAttributes & ~static_cast<ULONG>(FILE_ATTRIBUTE_READONLY);
    if (cleared.fileAttributes == 0) cleared.fileAttributes = FILE_ATTRIBUTE_NORMAL;
    set(opened, &io, &cleared, sizeof cleared, kBasicInformation);
  }
  BOOLEAN deleteIt = TRUE;
  return Succeeded(set(opened, &io, &deleteIt, sizeof deleteIt, kDispositionInformation));
}

}  // namespace qnvpd
