// Keeps DLLs planted beside the package (often in a Downloads folder) out of it.
#pragma once

namespace qnvpd {

// Takes the current folder out of the DLL search (an empty DLL directory) and
// restricts the default search to the system folder, each where the system
// offers it (looked up at run time).
void RestrictDllSearchPath();

}  // namespace qnvpd
