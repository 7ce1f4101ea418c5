#include "payload/payload_writer.h"

#include <windows.h>

#include <io.h>

#include "bounded_text.h"
#include "string_table.h"
#include "payload/extract_resource.h"
#include "payload/payload_manifest.h"

namespace qnvpd {

namespace {

// What the payload rows wrote, for the log.
struct WriteTally {
  unsigned files = 0;
  unsigned long long bytes = 0;
  DWORD startedAt = GetTickCount();
};

// Writes one row's file. True when it was written or is not carried by this
// build (the presence checks judge that); false when the run must stop.
bool WriteRow(const std::wstring& folder, const PayloadFileRow& row, LANGID userLanguage,
              WriteTally* tally, const RunLog& log) {
  const std::wstring name = LoadProgramString(row.nameId, userLanguage);
  ExtractStep step = ExtractStep::Done;
  DWORD bytes = 0;
  const DWORD error = ExtractResource(folder, row.resourceId, name, &step, &bytes);
  if (step == ExtractStep::Done) {
    ++tally->files;
    tally->bytes += bytes;
    return true;
  }
  const bool separated = !folder.empty() && folder.back() == L'\\';
  const std::wstring file = folder + (separated ? L"" : L"\\") + name;
  switch (step) {
    case ExtractStep::Done:
      return true;
    case ExtractStep::Resource:
      log.Write(L"not carried by this package: " + file);
      return true;
    case ExtractStep::ListedButMissing:
      log.Write(L"the package's CRC-32 table lists " + file +
                L", but the package does not carry it (" + DescribeError(error) + L")");
      return false;
    case ExtractStep::PathTooLong:
      log.Failure(L"composing the path of " + file, error);
      return false;
    case ExtractStep::Checksum:
      log.Failure(L"checking the carried file " + file + L" against the package's CRC-32 table",
                  error);
      return false;
    case ExtractStep::Create:
      log.Failure(L"creating " + file, error);
      return false;
    case ExtractStep::Write:
      log.Failure(L"writing " + file, error);
      return false;
  }
  return false;
}

void LogTally(const wchar_t* what, const WriteTally& tally, const RunLog& log) {
  if (!log.IsOn()) return;
  log.Write(std::wstring(what) + L" written: " + std::to_wstring(tally.files) + L" files, " +
            std::to_wstring(tally.bytes) + L" bytes, " +
            std::to_wstring(GetTickCount() - tally.startedAt) + L" ms");
}

}  // namespace

InstallExtraction ExtractInstallPayload(const std::wstring& extractionRoot, LANGID userLanguage,
                                        std::wstring* setupPath, const RunLog& log) {
  // Checked before anything is written: a root too long for the setup path
  // would only fill the disk with a tree nobody can start.
  const std::wstring setupName = LoadProgramString(kSetupNameId, userLanguage);
  // The launch works from this same text, in a buffer of the platform's path limit.
  BoundedText<kPathCapacity> setup;
  if (!setup.Append(extractionRoot) || !setup.Append(setupName)) {
    log.Write(L"the working folder's path is too long for " + setupName + L" (" +
              std::to_wstring(kPathCapacity) + L" characters); nothing written");
    return InstallExtraction::PathTooLong;
  }

  // On a repeated run the folders exist already; a real failure shows up as
  // files that cannot be created below.
  for (const PayloadFolderRow& row : kPayloadFolders) {
    CreateDirectoryW(PayloadFolderPath(extractionRoot, row.folder).c_str(), nullptr);
  }

  WriteTally tally;
  for (const PayloadFileRow& row : kPayloadManifest) {
    // A resource left out of the build only costs its file (setup.exe is
    // checked below); a file that could not be written means the disk or the
    // folder is unusable, and a damaged one (its bytes changed, or gone although
    // the table lists it) that the package cannot be trusted: either way
    // writing on is pointless.
    if (!WriteRow(PayloadFolderPath(extractionRoot, row.folder), row, userLanguage, &tally, log)) {
      return InstallExtraction::WriteFailed;
    }
  }
  LogTally(L"payload", tally, log);

  if (_waccess(setup.c_str(), 0) != 0) {
    log.Write(setupName + L" is missing from the package; the working folder stays as written");
    return InstallExtraction::SetupMissing;
  }
  if (setupPath != nullptr) *setupPath = setup.str();
  return InstallExtraction::Ready;
}

bool ExtractRemovalKit(const std::wstring& extractionRoot, LANGID userLanguage,
                       const RunLog& log) {
  WriteTally tally;
  for (const PayloadFileRow& row : kRemovalKit) {
    if (!WriteRow(extractionRoot, row, userLanguage, &tally, log)) return false;
  }
  LogTally(L"removal kit", tally, log);
  return true;
}

}  // namespace qnvpd
