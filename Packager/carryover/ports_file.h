// PORTS.dat: the port settings of the installation already on the machine, for
// the product installer to carry over.
#pragma once

#include <windows.h>

#include <string>

namespace qnvpd {

// The file's name; the product installer looks for it beside itself, in the
// working folder.
constexpr wchar_t kPortsFileName[] = L"PORTS.dat";

// Writes the file at `path` (kPortsFileName joined below the working folder by
// the caller: this layer writes where it is told and knows no folders) with
// "[PORTS]" from the USB printer interfaces, then "[QNVPD]" from the virtual
// ports, truncating any earlier file. `written` when the whole file reached the
// disk; otherwise it could not be created, written, flushed or closed, no file
// is left behind, and `failedStep` ("creating <path>" or "writing <path>") and
// `error` say why. The caller logs the outcome.
struct PortsFileOutcome {
  bool written = false;
  int usbLines = 0;   // "[PORTS]" lines
  int portLines = 0;  // "[QNVPD]" lines
  std::wstring failedStep;
  DWORD error = ERROR_SUCCESS;
};
PortsFileOutcome WritePortsFile(const std::wstring& path);

}  // namespace qnvpd
