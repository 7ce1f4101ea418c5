// Which paths the run log may be written to. The package runs elevated and the
// path comes from a policy or the command line, so a path that reaches a
// device, a pipe or a stream is refused before anything is opened: opening a
// named pipe's path already connects to whoever serves it.
#pragma once

#include <string>
#include <vector>

namespace qnvpd {

// The folders a full log path runs through, its volume root first: for
// "C:\Logs\qn.log" {"C:\", "C:\Logs"}, for "\\srv\share\qn.log" {"\\srv\share\"}.
// Empty for every path the log refuses. Accepted are, as the system's full-path
// rules give them, a file on a drive ("X:\...") and a file on a share
// ("\\server\share\...", but not the pipe, mailslot or IPC$ shares); refused are
// device and raw paths ("\\.\...", "\\?\..."), names of devices in any folder
// (NUL, CON, COM1, LPT1, ... with or without an extension), streams (a colon
// after the drive), wildcards, control characters, and paths ending in a folder.
std::vector<std::wstring> LogPathFolders(const std::wstring& fullPath);

}  // namespace qnvpd
