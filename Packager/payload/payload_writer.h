// Writing the payload of both runs.
#pragma once

#include <windows.h>

#include <string>

#include "payload/working_folder.h"
#include "run_log.h"

namespace qnvpd {

enum class InstallExtraction {
  Ready,          // setup.exe is in place; *setupPath names it
  SetupMissing,   // no setup.exe after extraction: 1001, the tree stays
  WriteFailed,    // a payload file could not be fully written, or was damaged: 1001, remove the tree
  PathTooLong,    // a path would not fit its buffer: 1001, nothing written past it
};

// Creates the eleven folders and writes the 39 files of the install run into the
// working folder, then checks for setup.exe. File names are read in the
// string-table language of userLanguage. What was written, and what failed
// (step, path, error), goes to `report`.
InstallExtraction ExtractInstallPayload(const WorkingFolder& folder, LANGID userLanguage,
                                        std::wstring* setupPath, StepReport* report);

// Writes the three files of the removal kit into the working folder. False when
// a file could not be written in full or does not match the build's table (or
// failed any other step after its resource was found), when its path would not
// fit, or when the build's table lists a file the package no longer carries;
// writing stops there. A resource the build left out is not a failure here: the
// removal run's presence checks decide about it.
bool ExtractRemovalKit(const WorkingFolder& folder, LANGID userLanguage, StepReport* report);

}  // namespace qnvpd
