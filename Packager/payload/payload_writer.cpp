#include "payload/payload_writer.h"

#include <windows.h>

#include <io.h>

#include "bounded_text.h"
#include "folder_text.h"
#include "string_table.h"
#include "payload/extract_resource.h"
#include "payload/payload_manifest.h"

namespace qnvpd {

namespace {

// A path in the tree the install run writes; see kTreePathCapacity.
using TreePath = BoundedText<kTreePathCapacity>;

// What the payload rows wrote, for the log.
struct WriteTally {
  unsigned files = 0;
  unsigned long long bytes = 0;
  DWORD startedAt = GetTickCount();
};

// A folder of the tree as a name below the working folder: empty for the
// working folder itself, else its path there with its backslash.
std::wstring TreeFolderName(PayloadFolder folder) {
  const std::wstring below = PayloadFolderPath(std::wstring(), folder);
  return below.empty() ? below : below + L'\\';
}

// Writes one row's file. True when it was written or is not carried by this
// build (the presence checks judge that); false when the run must stop.
bool WriteRow(const WorkingFolder& folder, const PayloadFileRow& row, LANGID userLanguage,
              WriteTally* tally, StepReport* report) {
  const std::wstring name =
      TreeFolderName(row.folder) + LoadProgramString(row.nameId, userLanguage);
  TreePath path;
  if (!folder.Join(name, &path)) {
    report->Fail(L"composing the path of", name + L" below the working folder",
                 ERROR_FILENAME_EXCED_RANGE);
    return false;
  }
  const std::wstring file = path.str();
  ExtractStep step = ExtractStep::Done;
  DWORD bytes = 0;
  const DWORD error = ExtractResource(file, row.resourceId, &step, &bytes);
  switch (step) {
    case ExtractStep::Done:
      ++tally->files;
      tally->bytes += bytes;
      return true;
    case ExtractStep::Resource:
      report->Note(L"not carried by this package: " + file);
      return true;
    case ExtractStep::ListedButMissing:
      report->Fail(L"reading the carried file the package's CRC-32 table lists:", file, error);
      return false;
    case ExtractStep::Checksum:
      report->Fail(L"checking the carried file", file, error);
      return false;
    case ExtractStep::Create:
      report->Fail(L"creating", file, error);
      return false;
    case ExtractStep::Write:
      report->Fail(L"writing", file, error);
      return false;
  }
  return false;
}

void NoteTally(const wchar_t* what, const WriteTally& tally, StepReport* report) {
  report->Note(std::wstring(what) + L" written: " + std::to_wstring(tally.files) + L" files, " +
            std::to_wstring(tally.bytes) + L" bytes, " +
            std::to_wstring(GetTickCount() - tally.startedAt) + L" ms");
}

}  // namespace

InstallExtraction ExtractInstallPayload(const WorkingFolder& folder, LANGID userLanguage,
                                        std::wstring* setupPath, StepReport* report) {
  // Checked before anything is written: a working folder too long for the
  // setup path would only fill the disk with a tree nobody can start.
  const std::wstring setupName = LoadProgramString(kSetupNameId, userLanguage);
  // The launch works from this same text, in a buffer of the platform's path limit.
  BoundedText<kPathCapacity> setup;
  if (!folder.Join(setupName, &setup)) {
    report->Fail(L"composing the path of " + setupName + L" (at most " +
                     std::to_wstring(kPathCapacity) + L" characters) below",
                 folder.Path(), ERROR_FILENAME_EXCED_RANGE);
    return InstallExtraction::PathTooLong;
  }

  // On a repeated run the folders exist already; a real failure shows up as
  // files that cannot be created below.
  for (const PayloadFolderRow& row : kPayloadFolders) {
    TreePath path;
    if (folder.Join(TreeFolderName(row.folder), &path)) CreateDirectoryW(path.c_str(), nullptr);
  }

  WriteTally tally;
  for (const PayloadFileRow& row : kPayloadManifest) {
    // A resource left out of the build only costs its file (setup.exe is
    // checked below); a file that could not be written means the disk or the
    // folder is unusable, and a damaged one (its bytes changed, or gone although
    // the table lists it) that the package cannot be trusted: either way
    // writing on is pointless.
    if (!WriteRow(folder, row, userLanguage, &tally, report)) return InstallExtraction::WriteFailed;
  }
  NoteTally(L"payload", tally, report);

  if (_waccess(setup.c_str(), 0) != 0) {
    report->Note(setupName + L" is missing from the package; the working folder stays as written");
    return InstallExtraction::SetupMissing;
  }
  if (setupPath != nullptr) *setupPath = setup.str();
  return InstallExtraction::Ready;
}

bool ExtractRemovalKit(const WorkingFolder& folder, LANGID userLanguage, StepReport* report) {
  WriteTally tally;
  for (const PayloadFileRow& row : kRemovalKit) {
    if (!WriteRow(folder, row, userLanguage, &tally, report)) return false;
  }
  NoteTally(L"removal kit", tally, report);
  return true;
}

}  // namespace qnvpd
