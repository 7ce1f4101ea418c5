// PORTS.dat: the port settings of the installation already on the machine, for
// the product installer to carry over.
#pragma once

#include <string>

namespace qnvpd {

// Writes ExtractionRoot + "PORTS.dat" ("[PORTS]" from the USB printer
// interfaces, then "[QNVPD]" from the virtual ports), truncating any earlier
// file. True when the whole file reached the disk; false when it could not be
// created, written, flushed or closed, and then no file is left behind.
bool WritePortsFile(const std::wstring& extractionRoot);

}  // namespace qnvpd
