#include "carryover/ports_file.h"

#include <windows.h>

#include <io.h>

#include <cstdio>
#include <memory>

#include "carryover/usb_interfaces.h"
#include "carryover/virtual_ports.h"

namespace qnvpd {
namespace {

struct CloseStream {
  void operator()(std::FILE* stream) const { std::fclose(stream); }
};

}  // namespace

bool WritePortsFile(const std::wstring& extractionRoot) {
  std::wstring path = extractionRoot + L"PORTS.dat";
  // Text mode: every "\n" of the lines reaches the disk as CR LF.
  std::unique_ptr<std::FILE, CloseStream> out(_wfopen(path.c_str(), L"wt"));
  if (!out) return false;
  WriteUsbInterfaceSection(out.get());
  WriteVirtualPortSection(out.get());
  // A file cut short (a full disk) would silently drop the machine's port
  // settings: every write, the flush to the disk and the close must succeed.
  bool written = std::ferror(out.get()) == 0 && std::fflush(out.get()) == 0 &&
                 _commit(_fileno(out.get())) == 0;
  if (std::fclose(out.release()) != 0) written = false;
  if (!written) DeleteFileW(path.c_str());
  return written;
}

}  // namespace qnvpd
