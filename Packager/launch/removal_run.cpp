#include "removal_run.h"

#include "checks/wow64.h"
#include "launch_and_wait.h"
#include "launcher/result_codes.h"
#include "launcher/string_table.h"
#include "payload/cleanup.h"
#include "payload/extraction_root.h"
#include "payload/install_extraction.h"
#include "payload/payload_manifest.h"
#include "scoped.h"

namespace qnvpd {

namespace {

constexpr int kLaunchFailed = 2;  // not started, or the setup itself failed
constexpr wchar_t kRemovalArgument[] = L"/9";
constexpr char kUninstallEntryName[] = "RCVCLN_UninstQNCOMUSB";
constexpr wchar_t kMakerFolderSuffix[] = L"\\KAVRO";

using UninstallEntryFn = int (*)();

bool IsPresent(const std::wstring& path) {
  return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// Where the system can restrict it, the library's own imports are looked for
// only beside it and in the system folder, never in the current folder or PATH.
DWORD LibraryLoadFlags() {
  HMODULE kernel32 = GetModuleHandleW(L"kernel32");
  if (kernel32 != nullptr && GetProcAddress(kernel32, "AddDllDirectory") != nullptr) {
    return LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32;
  }
  return LOAD_WITH_ALTERED_SEARCH_PATH;
}

// Both flag sets need a full path; the ExtractionRoot is relative when the
// temporary folder was the Windows folder.
std::wstring FullPath(const std::wstring& path) {
  wchar_t full[kRemovalPathCapacity] = {};
  const DWORD length = GetFullPathNameW(path.c_str(), kRemovalPathCapacity, full, nullptr);
  if (length == 0 || length >= kRemovalPathCapacity) return path;
  return std::wstring(full, length);
}

// Runs the library's removal entry, if it loads and has one; the library is
// released again before anything else starts.
void CallUninstallEntry(const std::wstring& libraryPath) {
  ScopedLibrary library(LoadLibraryExW(FullPath(libraryPath).c_str(), nullptr, LibraryLoadFlags()));
  if (!library.IsValid()) return;
  auto entry = reinterpret_cast<UninstallEntryFn>(
      reinterpret_cast<void*>(GetProcAddress(library.Get(), kUninstallEntryName)));
  if (entry != nullptr) entry();  // its result is not used: the setup decides the outcome
}

void RemoveMakerFolderIfEmpty(const std::wstring& parentFolder) {
  const std::wstring folder = MakerFolderPath(parentFolder);
  if (!folder.empty()) RemoveFolderIfEmpty(folder);
}

// The maker's folders go at the end of every removal run, when they are empty.
void TidyMakerFolders() {
  RemoveMakerFolderIfEmpty(ReadProgramFilesFolder());
  RemoveMakerFolderIfEmpty(ReadCommonProgramsFolder());
}

}  // namespace

bool ComposeRemovalPath(const std::wstring& extractionRoot, const std::wstring& fileName,
                        std::wstring* path) {
  if (extractionRoot.size() + fileName.size() + 1 > kRemovalPathCapacity) return false;
  *path = extractionRoot + fileName;
  return true;
}

std::wstring MakerFolderPath(const std::wstring& parentFolder) {
  if (parentFolder.empty()) return std::wstring();
  return parentFolder + kMakerFolderSuffix;
}

int RunRemoval(HWND notifyWindow) {
  int result = kResultOk;
  PreparedRoot prepared;
  if (!prepared.Prepare()) {
    // No folder of our own to write the kit into: nothing is loaded or started.
    TidyMakerFolders();
    return kResultInstallFailed;
  }
  const std::wstring& root = prepared.Path();
  // A path that does not fit its buffer, or a kit file that could not be
  // written in full or does not match the build's table, ends the run before
  // anything is loaded or started; what was written goes again.
  std::wstring libraryPath;
  std::wstring setupPath;
  const UINT setupNameId = IsWow64() ? kRemovalSetup64NameId : kRemovalSetup32NameId;
  if (!ComposeRemovalPath(root, LoadStringInUserLanguage(kRemovalLibraryNameId), &libraryPath) ||
      !ComposeRemovalPath(root, LoadStringInUserLanguage(setupNameId), &setupPath) ||
      !ExtractRemovalKit(root)) {
    prepared.Remove();
    TidyMakerFolders();
    return kResultInstallFailed;
  }

  if (!IsPresent(setupPath)) result = kResultInstallFailed;
  if (!IsPresent(libraryPath)) result = kResultInstallFailed;

  // With a file missing nothing is started and the kit stays where it was written.
  if (result == kResultOk) {
    CallUninstallEntry(libraryPath);
    if (LaunchAndWait(setupPath, kRemovalArgument, notifyWindow) == kLaunchFailed) {
      result = kResultInstallFailed;
    }
    prepared.Remove();
  }

  TidyMakerFolders();
  return result;
}

}  // namespace qnvpd
