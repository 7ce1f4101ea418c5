#include "held_folder.h"

#include <winternl.h>

#include "system_export.h"

namespace qnvpd {

namespace {

template <typename Fn>
Fn Native(const char* name) {
  return NtdllExport<Fn>(name);
}

using NtCreateFileFn = NTSTATUS(NTAPI*)(PHANDLE, ACCESS_MASK, POBJECT_ATTRIBUTES,
                                        PIO_STATUS_BLOCK, PLARGE_INTEGER, ULONG, ULONG, ULONG,
                                        ULONG, PVOID, ULONG);
using SetInformationFn = NTSTATUS(NTAPI*)(HANDLE, PIO_STATUS_BLOCK, PVOID, ULONG,
                                          FILE_INFORMATION_CLASS);
using QueryInformationFn = SetInformationFn;
using QueryDirectoryFn = NTSTATUS(NTAPI*)(HANDLE, HANDLE, PVOID, PVOID, PIO_STATUS_BLOCK, PVOID,
                                          ULONG, FILE_INFORMATION_CLASS, BOOLEAN,
                                          PUNICODE_STRING, BOOLEAN);
using StatusToErrorFn = ULONG(NTAPI*)(NTSTATUS);

// FILE_INFORMATION_CLASS and FS_INFORMATION_CLASS values the headers here lack.
constexpr auto kDirectoryInformation = static_cast<FILE_INFORMATION_CLASS>(1);
constexpr auto kBasicInformation = static_cast<FILE_INFORMATION_CLASS>(4);
constexpr auto kDispositionInformation = static_cast<FILE_INFORMATION_CLASS>(13);
constexpr auto kDispositionInformationEx = static_cast<FILE_INFORMATION_CLASS>(64);
constexpr ULONG kFsDeviceInformation = 4;
constexpr ULONG kFsAttributeInformation = 5;

// FILE_DISPOSITION_INFORMATION_EX flags.
constexpr ULONG kDispositionDelete = 0x1;
constexpr ULONG kDispositionPosixSemantics = 0x2;
constexpr ULONG kDispositionIgnoreReadOnly = 0x10;

constexpr NTSTATUS kStatusNoMoreFiles = static_cast<NTSTATUS>(0x80000006);
constexpr NTSTATUS kStatusDirectoryNotEmpty = static_cast<NTSTATUS>(0xC0000101);
constexpr NTSTATUS kStatusCannotDelete = static_cast<NTSTATUS>(0xC0000121);
constexpr NTSTATUS kStatusInvalidInfoClass = static_cast<NTSTATUS>(0xC0000003);
constexpr NTSTATUS kStatusNotImplemented = static_cast<NTSTATUS>(0xC0000002);

// NtCreateFile options the headers here lack.
constexpr ULONG kOpenForBackupIntent = 0x00004000;
constexpr ULONG kOpenReparsePoint = 0x00200000;

struct BasicInformation {
  LARGE_INTEGER creationTime, lastAccessTime, lastWriteTime, changeTime;
  ULONG fileAttributes;
};
struct DirectoryInformation {
  ULONG nextEntryOffset;
  ULONG fileIndex;
  LARGE_INTEGER creationTime, lastAccessTime, lastWriteTime, changeTime;
  LARGE_INTEGER endOfFile, allocationSize;
  ULONG fileAttributes;
  ULONG fileNameLength;  // in bytes
  WCHAR fileName[1];
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

// NtCreateFile on `name` relative to `parent` (an empty name: the file
// `parent` itself names), opened as itself, for synchronous use, and allowing
// a pipe server found there to identify the package only. *information, when
// given, receives what the call did (FILE_CREATED, FILE_OPENED).
HANDLE CreateRelative(HANDLE parent, const std::wstring& name, DWORD access, DWORD share,
                      ULONG disposition, ULONG options, PSECURITY_DESCRIPTOR descriptor,
                      ULONG_PTR* information) {
  auto createFile = Native<NtCreateFileFn>("NtCreateFile");
  if (createFile == nullptr) {
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
  }
  if (name.size() > 32767 || name.find_first_of(L"\\/") != std::wstring::npos) {
    SetLastError(ERROR_INVALID_NAME);
    return nullptr;
  }
  UNICODE_STRING counted;
  counted.Buffer = const_cast<PWSTR>(name.c_str());
  counted.Length = static_cast<USHORT>(name.size() * sizeof(wchar_t));
  counted.MaximumLength = counted.Length;
  SECURITY_QUALITY_OF_SERVICE quality = {};
  quality.Length = sizeof quality;
  quality.ImpersonationLevel = SecurityIdentification;
  quality.ContextTrackingMode = SECURITY_STATIC_TRACKING;
  OBJECT_ATTRIBUTES attributes;
  InitializeObjectAttributes(&attributes, &counted, OBJ_CASE_INSENSITIVE, parent, descriptor);
  attributes.SecurityQualityOfService = &quality;
  IO_STATUS_BLOCK io = {};
  HANDLE opened = nullptr;
  const NTSTATUS status =
      createFile(&opened, access | SYNCHRONIZE, &attributes, &io, nullptr, FILE_ATTRIBUTE_NORMAL,
                 share, disposition, options | FILE_SYNCHRONOUS_IO_NONALERT | kOpenReparsePoint,
                 nullptr, 0);
  if (!Succeeded(status)) return nullptr;
  if (information != nullptr) *information = io.Information;
  return opened;
}

}  // namespace

HANDLE OpenHeldFolder(const std::wstring& path, DWORD access) {
  return CreateFileW(path.c_str(), access | kHeldFolderAccess, kHoldSharing, nullptr,
                     OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                     nullptr);
}

HANDLE CreateHeldFolderBelow(HANDLE parent, const std::wstring& name,
                             PSECURITY_DESCRIPTOR descriptor) {
  // The native call is the only one that creates a folder and returns a handle
  // to it. FILE_CREATE fails on anything already there, a link included.
  if (name.empty()) {
    SetLastError(ERROR_INVALID_NAME);
    return nullptr;
  }
  return CreateRelative(parent, name, kHeldFolderAccess, kHoldSharing, FILE_CREATE,
                        FILE_DIRECTORY_FILE, descriptor, nullptr);
}

HANDLE OpenEntryBelow(HANDLE parent, const std::wstring& name, DWORD access, DWORD share,
                      bool folder) {
  if (name.empty()) {
    SetLastError(ERROR_INVALID_NAME);
    return nullptr;
  }
  // Backup intent, as FILE_FLAG_BACKUP_SEMANTICS: what opening a folder takes.
  return CreateRelative(parent, name, access, share, FILE_OPEN,
                        kOpenForBackupIntent | (folder ? FILE_DIRECTORY_FILE : 0), nullptr,
                        nullptr);
}

HANDLE CreateFileBelow(HANDLE parent, const std::wstring& name, DWORD access, DWORD share,
                       PSECURITY_DESCRIPTOR descriptor, bool* created) {
  if (name.empty()) {
    SetLastError(ERROR_INVALID_NAME);
    return nullptr;
  }
  ULONG_PTR information = 0;
  HANDLE file = CreateRelative(parent, name, access, share, FILE_OPEN_IF, FILE_NON_DIRECTORY_FILE,
                               descriptor, &information);
  if (file != nullptr && created != nullptr) *created = information == FILE_CREATED;
  return file;
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

HANDLE ReopenThroughHandle(HANDLE opened, DWORD access, DWORD share) {
  // An empty name relative to a handle names the handle's own file.
  return CreateRelative(opened, std::wstring(), access, share, FILE_OPEN, 0, nullptr, nullptr);
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
  // A system that does not know the class at all is not asked again; a file
  // system that refuses the flags is asked per entry (others may take them).
  static bool systemHasPosixDelete = true;
  if (systemHasPosixDelete) {
    ULONG posix = kDispositionDelete | kDispositionPosixSemantics | kDispositionIgnoreReadOnly;
    const NTSTATUS status = set(opened, &io, &posix, sizeof posix, kDispositionInformationEx);
    if (status >= 0) return true;
    // A folder that still holds something stays whichever way it is asked;
    // anything else may be a file system without POSIX semantics (or without
    // the read-only flag): the classic way, below, then decides.
    if (status == kStatusDirectoryNotEmpty) return Succeeded(status);
    if (status == kStatusInvalidInfoClass || status == kStatusNotImplemented) {
      systemHasPosixDelete = false;
    }
  }
  BOOLEAN deleteIt = TRUE;
  NTSTATUS status = set(opened, &io, &deleteIt, sizeof deleteIt, kDispositionInformation);
  if (status != kStatusCannotDelete) return Succeeded(status);
  // Read-only: the attribute goes first, through the same handle (zero times
  // leave the times as they are). Only after a refusal: it is a write per entry.
  BasicInformation basic = {};
  if (Succeeded(query(opened, &io, &basic, sizeof basic, kBasicInformation)) &&
      (basic.fileAttributes & FILE_ATTRIBUTE_READONLY)) {
    BasicInformation cleared = {};
    cleared.fileAttributes = basic.fileAttributes & ~static_cast<ULONG>(FILE_ATTRIBUTE_READONLY);
    if (cleared.fileAttributes == 0) cleared.fileAttributes = FILE_ATTRIBUTE_NORMAL;
    set(opened, &io, &cleared, sizeof cleared, kBasicInformation);
    status = set(opened, &io, &deleteIt, sizeof deleteIt, kDispositionInformation);
  }
  return Succeeded(status);
}

bool ListFolder(HANDLE folder, std::vector<FolderEntry>* entries) {
  auto queryDirectory = Native<QueryDirectoryFn>("NtQueryDirectoryFile");
  if (queryDirectory == nullptr) {
    SetLastError(ERROR_PROC_NOT_FOUND);
    return false;
  }
  entries->clear();
  alignas(8) BYTE buffer[16384];
  for (BOOLEAN restart = TRUE;; restart = FALSE) {
    IO_STATUS_BLOCK io = {};
    const NTSTATUS status = queryDirectory(folder, nullptr, nullptr, nullptr, &io, buffer,
                                           sizeof buffer, kDirectoryInformation, FALSE, nullptr,
                                           restart);
    if (status == kStatusNoMoreFiles) return true;
    if (!Succeeded(status)) return false;
    for (const BYTE* at = buffer;;) {
      const auto* entry = reinterpret_cast<const DirectoryInformation*>(at);
      FolderEntry found;
      found.name.assign(entry->fileName, entry->fileNameLength / sizeof(wchar_t));
      found.attributes = entry->fileAttributes;
      if (found.name != L"." && found.name != L"..") entries->push_back(std::move(found));
      if (entry->nextEntryOffset == 0) break;
      at += entry->nextEntryOffset;
    }
  }
}

FinalPathQuery SystemFinalPathQuery() {
  return Kernel32Export<FinalPathQuery>("GetFinalPathNameByHandleW");
}

std::wstring ComparablePath(const std::wstring& path) {
  std::wstring rest = path;
  if (rest.compare(0, 8, L"\\\\?\\UNC\\") == 0) {
    rest = L"\\\\" + rest.substr(8);
  } else if (rest.compare(0, 4, L"\\\\?\\") == 0) {
    rest = rest.substr(4);
  }
  // A share's path begins with its two backslashes; elsewhere a run is one.
  const size_t kept = rest.compare(0, 2, L"\\\\") == 0 ? 2 : 0;
  std::wstring comparable = rest.substr(0, kept);
  for (size_t i = kept; i < rest.size(); ++i) {
    if (rest[i] == L'\\' && !comparable.empty() && comparable.back() == L'\\') continue;
    comparable += rest[i];
  }
  while (comparable.size() > kept && comparable.back() == L'\\') comparable.pop_back();
  return comparable;
}

std::wstring FinalPathOf(HANDLE opened, FinalPathQuery query) {
  if (query == nullptr) return std::wstring();
  // Room for the longest path the package works with, and the prefix.
  constexpr DWORD kCapacity = 1024;
  wchar_t finalPath[kCapacity] = {};
  const DWORD length = query(opened, finalPath, kCapacity, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
  if (length == 0 || length >= kCapacity) return std::wstring();
  return ComparablePath(finalPath);
}

bool IsSamePath(const std::wstring& a, const std::wstring& b) {
  return _wcsicmp(ComparablePath(a).c_str(), ComparablePath(b).c_str()) == 0;
}

bool IsHeldAt(HANDLE held, const std::wstring& path, FinalPathQuery query) {
  const std::wstring finalPath = FinalPathOf(held, query);
  // The file system's names compare without case; the final path has the
  // names as stored, the setting as someone typed it.
  return !finalPath.empty() && IsSamePath(finalPath, path);
}

}  // namespace qnvpd
