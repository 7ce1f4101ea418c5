#include "child_command_line.h"

#include <cwchar>

namespace qnvpd {

std::wstring ComposeInstallArguments(const std::wstring& installerOptions,
                                     const std::wstring& notifyToken,
                                     const wchar_t* packageCommandLine) {
  std::wstring arguments = installerOptions;
  arguments += L" \"";
  arguments += notifyToken;
  // Only the first 1024 characters decide whether there are options at all;
  // when there are, the whole command line goes along unchanged, so the
  // installer sees the options the package was started with.
  if (packageCommandLine != nullptr &&
      wcsnlen(packageCommandLine, kChildCommandLineCapacity) != 0) {
    arguments += L' ';
    arguments += packageCommandLine;
  }
  arguments += L'"';
  return arguments;
}

bool ComposeChildCommandLine(const std::wstring& path, const std::wstring& arguments,
                             std::vector<wchar_t>* commandLine) {
  // Quote, path, quote, blank, arguments and the terminating zero.
  const size_t needed = 1 + path.size() + 1 + 1 + arguments.size() + 1;
  if (needed > kChildCommandLineCapacity) return false;

  commandLine->assign(kChildCommandLineCapacity, L'\0');
  wchar_t* out = commandLine->data();
  *out++ = L'"';
  out = std::wmemcpy(out, path.data(), path.size()) + path.size();
  *out++ = L'"';
  *out++ = L' ';
  std::wmemcpy(out, arguments.data(), arguments.size());
  return true;
}

}  // namespace qnvpd
