#include "launch/removal_run.h"

#include "bounded_text.h"
#include "checks/wow64.h"
#include "launch/launch_and_wait.h"
#include "payload/extraction_root.h"
#include "payload/maker_folders.h"
#include "payload/payload_manifest.h"
#include "payload/payload_writer.h"
#include "result_codes.h"
#include "scoped.h"
#include "string_table.h"

namespace qnvpd {

namespace {

constexpr wchar_t kRemovalArgument[] = L"/9";
constexpr char kUninstallEntryName[] = "RCVCLN_UninstQNCOMUSB";

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
  wchar_t full[kPathCapacity] = {};
  const DWORD length = GetFullPathNameW(path.c_str(), kPathCapacity, full, nullptr);
  if (length == 0 || length >= kPathCapacity) return path;
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

}  // namespace

bool ComposeRemovalPath(const std::wstring& extractionRoot, const std::wstring& fileName,
                        std::wstring* path) {
  BoundedText<kPathCapacity> composed;
  if (!composed.Append(extractionRoot) || !composed.Append(fileName)) return false;
  *path = composed.str();
  return true;
}

int RunRemoval(const RunContext& context) {
  int result = kResultOk;
  PreparedRoot prepared;
  if (!prepared.Prepare(context.language)) {
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
  if (!ComposeRemovalPath(root, LoadProgramString(kRemovalLibraryNameId, context.language),
                          &libraryPath) ||
      !ComposeRemovalPath(root, LoadProgramString(setupNameId, context.language), &setupPath) ||
      !ExtractRemovalKit(root, context.language)) {
    prepared.Remove();
    TidyMakerFolders();
    return kResultInstallFailed;
  }

  if (!IsPresent(setupPath)) result = kResultInstallFailed;
  if (!IsPresent(libraryPath)) result = kResultInstallFailed;

  // With a file missing nothing is started and the kit stays where it was written.
  if (result == kResultOk) {
    CallUninstallEntry(libraryPath);
    if (LaunchAndWait(setupPath, kRemovalArgument, context.notifyWindow) == kLaunchFailed) {
      result = kResultInstallFailed;
    }
    prepared.Remove();
  }

  TidyMakerFolders();
  return result;
}

}  // namespace qnvpd
