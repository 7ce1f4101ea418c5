#include "launch/removal_run.h"

#include <initializer_list>
#include <string>
#include <iterator>

#include "bounded_text.h"
#include "checks/wow64.h"
#include "launch/child_outcome.h"
#include "launch/launch_and_wait.h"
#include "payload/maker_folders.h"
#include "payload/payload_manifest.h"
#include "payload/payload_writer.h"
#include "payload/working_folder.h"
#include "result_codes.h"
#include "scoped.h"
#include "string_table.h"
#include "system_export.h"

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
  if (Kernel32Export<FARPROC>("AddDllDirectory") != nullptr) {
    return LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32;
  }
  return LOAD_WITH_ALTERED_SEARCH_PATH;
}

// Runs the library's removal entry, if it loads and has one; the library is
// released again before anything else starts.
void CallUninstallEntry(const std::wstring& libraryPath, const RunLog& log) {
  // Both flag sets need a full path, which the working folder always is.
  ScopedLibrary library(LoadLibraryExW(libraryPath.c_str(), nullptr, LibraryLoadFlags()));
  if (!library.IsValid()) {
    log.Failure(L"loading the removal library " + libraryPath, GetLastError());
    return;
  }
  auto entry = reinterpret_cast<UninstallEntryFn>(
      reinterpret_cast<void*>(GetProcAddress(library.Get(), kUninstallEntryName)));
  if (entry == nullptr) {
    log.Write(L"the removal library has no entry " +
              std::wstring(std::begin(kUninstallEntryName), std::end(kUninstallEntryName) - 1) +
              L"; not called");
    return;
  }
  log.Write(L"calling the removal library's entry");
  const int returned = entry();  // not used: the setup decides the outcome
  log.Write(L"the removal library's entry returned " + std::to_wstring(returned));
}

}  // namespace

int RunRemoval(const RunContext& context) {
  const RunLog& log = context.Log();
  int result = kResultOk;
  WorkingFolder working;
  StepReport created;
  const bool haveFolder = working.Create(context.language, &created);
  log.Write(created);
  if (!haveFolder) {
    // No folder of our own to write the kit into: nothing is loaded or started.
    TidyMakerFolders(log);
    return kResultInstallFailed;
  }
  // A path that does not fit its buffer, or a kit file that could not be
  // written in full or does not match the build's table, ends the run before
  // anything is loaded or started; what was written goes again.
  BoundedText<kPathCapacity> library;
  BoundedText<kPathCapacity> setup;
  const UINT setupNameId = IsWow64() ? kRemovalSetup64NameId : kRemovalSetup32NameId;
  const bool pathsFit =
      working.Join(LoadProgramString(kRemovalLibraryNameId, context.language), &library) &&
      working.Join(LoadProgramString(setupNameId, context.language), &setup);
  StepReport written;
  if (!pathsFit) {
    written.Fail(L"composing the removal kit's paths (at most " + std::to_wstring(kPathCapacity) +
                     L" characters) below",
                 working.Path(), ERROR_FILENAME_EXCED_RANGE);
  }
  const bool kitWritten = pathsFit && ExtractRemovalKit(working, context.language, &written);
  log.Write(written);
  if (!kitWritten) {
    log.Write(working.Remove());
    TidyMakerFolders(log);
    return kResultInstallFailed;
  }

  const std::wstring libraryPath = library.str();
  const std::wstring setupPath = setup.str();
  for (const std::wstring* path : {&setupPath, &libraryPath}) {
    if (!IsPresent(*path)) {
      log.Write(*path + L" is missing from the package; nothing is loaded or started");
      result = kResultInstallFailed;
    }
  }

  // With a file missing nothing is started and the kit stays where it was written.
  if (result == kResultOk) {
    CallUninstallEntry(libraryPath, log);
    const ChildOutcome outcome =
        LaunchAndWait(setupPath, kRemovalArgument, *context.childLink, log);
    if (ChildRunFailed(outcome)) {
      log.Write(L"the removal failed: its setup " + ChildFailureReason(outcome));
      result = kResultInstallFailed;
    }
    log.Write(working.Remove());
  }

  TidyMakerFolders(log);
  return result;
}

}  // namespace qnvpd
