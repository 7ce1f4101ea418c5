#include "launch/child_command_line.h"

#include <cwchar>

#include "bounded_text.h"

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
  BoundedText<kChildCommandLineCapacity> composed;
  if (!composed.Append(L'"') || !composed.Append(path) || !composed.Append(L'"') ||
      !composed.Append(L' ') || !composed.Append(arguments)) {
    return false;
  }
  const wchar_t* buffer = composed.Buffer();
  commandLine->assign(buffer, buffer + kChildCommandLineCapacity);
  return true;
}

}  // namespace qnvpd
