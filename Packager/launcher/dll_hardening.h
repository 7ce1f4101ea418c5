// Keeps DLLs planted beside the package (often in a Downloads folder) out of it.
#pragma once

namespace qnvpd {

// Restricts the default DLL search path to the system folder where the system
// offers that (looked up at run time; older systems keep their default).
void RestrictDllSearchPath();

}  // namespace qnvpd
