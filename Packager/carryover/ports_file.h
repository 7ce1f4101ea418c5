// PORTS.dat: the port settings of the installation already on the machine, for
// the product installer to carry over.
#pragma once

#include <string>

#include "run_log.h"

namespace qnvpd {

// The file's name; the product installer looks for it beside itself, in the
// working folder.
constexpr wchar_t kPortsFileName[] = L"PORTS.dat";

// Writes the file at `path` (kPortsFileName joined below the working folder by
// the caller: this layer writes where it is told and knows no folders) with
// "[PORTS]" from the USB printer interfaces, then "[QNVPD]" from the virtual
// ports, truncating any earlier file. True when the whole file reached the
// disk; false when it could not be created, written, flushed or closed, and
// then no file is left behind. How many lines each section got, or what
// failed, goes to `log`.
bool WritePortsFile(const std::wstring& path, const RunLog& log = OffRunLog());

}  // namespace qnvpd
