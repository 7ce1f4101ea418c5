#include "carryover/ports_file.h"

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
  // Results of the writes and of the close are not looked at: a short file only
  // means fewer settings to carry over.
  WriteUsbInterfaceSection(out.get());
  WriteVirtualPortSection(out.get());
  return true;
}

}  // namespace qnvpd
