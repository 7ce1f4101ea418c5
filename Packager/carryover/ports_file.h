// PORTS.dat: the port settings of the installation already on the machine, for
// the product installer to carry over.
#pragma once

#include <string>

namespace qnvpd {

// Writes ExtractionRoot + "PORTS.dat" ("[PORTS]" from the USB printer
// interfaces, then "[QNVPD]" from the virtual ports), truncating any earlier
// file. True when the file was created (failed writes into it are not looked
// at); false when it could not be created.
bool WritePortsFile(const std::wstring& extractionRoot);

}  // namespace qnvpd
