// Composing the child installer's command line (pure text work).
#pragma once

#include <string>
#include <vector>

namespace qnvpd {

// Capacity of the child's command line, the terminating zero included.
constexpr size_t kChildCommandLineCapacity = 1024;

// The install run's argument text: InstallerOptions, a blank, then NotifyToken
// and, when the package had options, a blank and the package's command line,
// together inside one pair of double quotes.
std::wstring ComposeInstallArguments(const std::wstring& installerOptions,
                                     const std::wstring& notifyToken,
                                     const wchar_t* packageCommandLine);

// "\"<path>\" <arguments>" into a zero-filled buffer of kChildCommandLineCapacity
// characters. False, and nothing composed, when it would not fit.
bool ComposeChildCommandLine(const std::wstring& path, const std::wstring& arguments,
                             std::vector<wchar_t>* commandLine);

}  // namespace qnvpd
