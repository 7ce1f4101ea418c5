// Writing the payload of both runs.
#pragma once

#include <string>

namespace qnvpd {

enum class InstallExtraction {
  Ready,          // setup.exe is in place; *setupPath names it
  SetupMissing,   // no setup.exe after extraction: 1001, the tree stays
  WriteFailed,    // a payload file could not be fully written, or was damaged: 1001, remove the tree
  PathTooLong,    // a path would not fit its buffer: 1001, nothing written past it
};

// Creates the eleven folders and writes the 39 files of the install run into the
// prepared ExtractionRoot, then checks for setup.exe.
InstallExtraction ExtractInstallPayload(const std::wstring& extractionRoot,
                                        std::wstring* setupPath);

// Writes the three files of the removal kit into the ExtractionRoot. False when
// a file of the kit could not be written or does not match the build's table; a
// resource left out of the build is found by the removal run's presence checks.
bool ExtractRemovalKit(const std::wstring& extractionRoot);

}  // namespace qnvpd
