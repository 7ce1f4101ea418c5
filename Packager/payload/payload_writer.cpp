#include "payload/payload_writer.h"

#include <windows.h>

#include <io.h>

#include "bounded_text.h"
#include "string_table.h"
#include "payload/extract_resource.h"
#include "payload/payload_manifest.h"

namespace qnvpd {

InstallExtraction ExtractInstallPayload(const std::wstring& extractionRoot, LANGID userLanguage,
                                        std::wstring* setupPath) {
  // Checked before anything is written: a root too long for the setup path
  // would only fill the disk with a tree nobody can start.
  const std::wstring setupName = LoadProgramString(kSetupNameId, userLanguage);
  // The launch works from this same text, in a buffer of the platform's path limit.
  BoundedText<kPathCapacity> setup;
  if (!setup.Append(extractionRoot) || !setup.Append(setupName)) {
    return InstallExtraction::PathTooLong;
  }

  // On a repeated run the folders exist already; a real failure shows up as
  // files that cannot be created below.
  for (const PayloadFolderRow& row : kPayloadFolders) {
    CreateDirectoryW(PayloadFolderPath(extractionRoot, row.folder).c_str(), nullptr);
  }

  for (const PayloadFileRow& row : kPayloadManifest) {
    ExtractStep step = ExtractStep::Done;
    ExtractResource(PayloadFolderPath(extractionRoot, row.folder), row.resourceId,
                    LoadProgramString(row.nameId, userLanguage), &step);
    // A resource left out of the build only costs its file (setup.exe is
    // checked below); a file that could not be written means the disk or the
    // folder is unusable, and a damaged one that the package cannot be trusted:
    // either way writing on is pointless.
    if (step != ExtractStep::Done && step != ExtractStep::Resource) {
      return InstallExtraction::WriteFailed;
    }
  }

  if (_waccess(setup.c_str(), 0) != 0) return InstallExtraction::SetupMissing;
  if (setupPath != nullptr) *setupPath = setup.str();
  return InstallExtraction::Ready;
}

bool ExtractRemovalKit(const std::wstring& extractionRoot, LANGID userLanguage) {
  for (const PayloadFileRow& row : kRemovalKit) {
    ExtractStep step = ExtractStep::Done;
    ExtractResource(extractionRoot, row.resourceId, LoadProgramString(row.nameId, userLanguage), &step);
    if (step != ExtractStep::Done && step != ExtractStep::Resource) return false;
  }
  return true;
}

}  // namespace qnvpd
