// The maker's folders the removal run tidies: "KAVRO" under the program-files
// folder and under the all-users Start-menu programs folder.
#pragma once

#include <string>

#include "run_log.h"

namespace qnvpd {

// The program-files folder and the all-users Start-menu programs folder, read
// from HKEY_LOCAL_MACHINE and expanded with the system's own variables (never
// this process's environment); empty when unavailable, when they refer to a
// variable the system does not set, or when too long.
std::wstring ReadProgramFilesFolder();
std::wstring ReadCommonProgramsFolder();

// The maker's folder under a looked-up parent folder: "<parent>\KAVRO"; empty when
// the lookup gave nothing, so that no folder at the drive's root is touched.
std::wstring MakerFolderPath(const std::wstring& parentFolder);

// Removes both maker's folders where they are empty and are themselves, not
// links (see RemoveFolderIfEmpty); what it found goes to `log`.
void TidyMakerFolders(const RunLog& log = OffRunLog());

}  // namespace qnvpd
