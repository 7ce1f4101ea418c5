#include "payload/install_extraction.h"

#include <windows.h>

#include <io.h>

#include <cwchar>

#include "launcher/string_table.h"
#include "payload/extract_resource.h"
#include "payload/payload_manifest.h"

namespace qnvpd {

namespace {

// The setup path is copied into a buffer of the platform's path limit, the
// terminating zero included; the launch works from that same text.
constexpr size_t kSetupPathCapacity = 260;

}  // namespace

InstallExtraction ExtractInstallPayload(const std::wstring& extractionRoot,
                                        std::wstring* setupPath) {
  // Checked before anything is written: a root too long for the setup path
  // would only fill the disk with a tree nobody can start.
  const std::wstring setupName = LoadStringInUserLanguage(kSetupNameId);
  if (extractionRoot.size() + setupName.size() + 1 > kSetupPathCapacity) {
    return InstallExtraction::PathTooLong;
  }
  wchar_t setup[kSetupPathCapacity] = {};
  std::wmemcpy(setup, extractionRoot.data(), extractionRoot.size());
  std::wmemcpy(setup + extractionRoot.size(), setupName.data(), setupName.size());

  // On a repeated run the folders exist already; a real failure shows up as
  // files that cannot be created below.
  for (const PayloadFolderRow& row : kPayloadFolders) {
    CreateDirectoryW(PayloadFolderPath(extractionRoot, row.folder).c_str(), nullptr);
  }

  for (const PayloadFileRow& row : kPayloadManifest) {
    ExtractStep step = ExtractStep::Done;
    ExtractResource(PayloadFolderPath(extractionRoot, row.folder), row.resourceId,
                    LoadStringInUserLanguage(row.nameId), &step);
    // A resource left out of the build only costs its file (setup.exe is
    // checked below); a file that could not be written means the disk or the
    // folder is unusable, and a damaged one that the package cannot be trusted:
    // either way writing on is pointless.
    if (step != ExtractStep::Done && step != ExtractStep::Resource) {
      return InstallExtraction::WriteFailed;
    }
  }

  if (_waccess(setup, 0) != 0) return InstallExtraction::SetupMissing;
  if (setupPath != nullptr) *setupPath = setup;
  return InstallExtraction::Ready;
}

bool ExtractRemovalKit(const std::wstring& extractionRoot) {
  for (const PayloadFileRow& row : kRemovalKit) {
    ExtractStep step = ExtractStep::Done;
    ExtractResource(extractionRoot, row.resourceId, LoadStringInUserLanguage(row.nameId), &step);
    if (step != ExtractStep::Done && step != ExtractStep::Resource) return false;
  }
  return true;
}

}  // namespace qnvpd
