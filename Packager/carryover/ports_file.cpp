#include "carryover/ports_file.h"

#include <windows.h>

#include <cstdio>
#include <memory>

#include "carryover/usb_interfaces.h"
#include "carryover/virtual_ports.h"
#include "last_error.h"

namespace qnvpd {
namespace {

struct CloseStream {
  void operator()(std::FILE* stream) const { std::fclose(stream); }
};

}  // namespace

PortsFileOutcome WritePortsFile(const std::wstring& path) {
  PortsFileOutcome outcome;
  // Text mode: every "\n" of the lines reaches the disk as CR LF.
  std::unique_ptr<std::FILE, CloseStream> out(_wfopen(path.c_str(), L"wt"));
  if (!out) {
    outcome.failedStep = L"creating " + path;
    outcome.error = LastErrorOr(ERROR_OPEN_FAILED);
    return outcome;
  }
  outcome.usbLines = WriteUsbInterfaceSection(out.get());
  outcome.portLines = WriteVirtualPortSection(out.get());
  // A file cut short (a full disk) would silently drop the machine's port
  // settings: every write, the flush of the stream and the close must succeed.
  // A local volume (the working folder is always on one) reports a full disk
  // at the write itself; a flush to the disk would protect nothing more, as
  // the file lives only for the installer's run, and it would cost the run a
  // wait for the disk's cache.
  bool written = std::ferror(out.get()) == 0 && std::fflush(out.get()) == 0;
  DWORD error = written ? ERROR_SUCCESS : LastErrorOr(ERROR_WRITE_FAULT);
  if (std::fclose(out.release()) != 0 && written) {
    written = false;
    error = LastErrorOr(ERROR_WRITE_FAULT);
  }
  if (!written) {
    DeleteFileW(path.c_str());
    outcome.failedStep = L"writing " + path;
    outcome.error = error;
    return outcome;
  }
  outcome.written = true;
  return outcome;
}

}  // namespace qnvpd
