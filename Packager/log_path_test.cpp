#include "log_path.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace qnvpd {
namespace {

using Folders = std::vector<std::wstring>;

TEST(LogPathFolders, FilesOnDrivesAndSharesOnly) {
  const struct {
    const wchar_t* path;
    Folders folders;  // empty: refused
  } cases[] = {
      {L"C:\\qn.log", {L"C:\\"}},
      {L"c:\\Deploy Logs\\sub\\qn-u3.log", {L"c:\\", L"c:\\Deploy Logs", L"c:\\Deploy Logs\\sub"}},
      {L"\\\\srv-01.corp\\logs$\\qn.log", {L"\\\\srv-01.corp\\logs$\\"}},
      {L"\\\\srv\\share\\a\\qn.log", {L"\\\\srv\\share\\", L"\\\\srv\\share\\a"}},
      // Device and raw paths, pipes and mailslots, also on another server.
      {L"\\\\.\\pipe\\qn", {}},
      {L"\\\\.\\C:\\qn.log", {}},
      {L"\\\\?\\C:\\qn.log", {}},
      {L"\\\\..\\share\\qn.log", {}},
      {L"\\\\srv\\pipe\\qn", {}},
      {L"\\\\127.0.0.1\\PIPE\\qn", {}},
      {L"\\\\srv\\pipe. \\qn", {}},
      {L"\\\\srv\\mailslot\\qn", {}},
      {L"\\\\srv\\ipc$\\qn", {}},
      {L"\\\\srv;x\\share\\qn.log", {}},
      {L"\\\\srv\\share", {}},
      {L"\\\\srv\\qn.log", {}},
      // Names of devices in any folder, with or without an extension.
      {L"C:\\Logs\\nul", {}},
      {L"C:\\Logs\\NUL.log", {}},
      {L"C:\\Logs\\com3.txt", {}},
      {L"C:\\Logs\\LPT1", {}},
      {L"C:\\Logs\\COM\u00B9", {}},
      {L"C:\\Logs\\conout$", {}},
      {L"C:\\con\\qn.log", {}},
      {L"C:\\Logs\\COM10.log", {L"C:\\", L"C:\\Logs"}},
      {L"C:\\Logs\\console.log", {L"C:\\", L"C:\\Logs"}},
      // Streams, wildcards, folders, and what the full-path rules never give.
      {L"C:\\Logs\\qn.log:hidden", {}},
      {L"C:\\Logs::$INDEX_ALLOCATION\\qn.log", {}},
      {L"C:\\Logs\\qn*.log", {}},
      {L"C:\\Logs\\q\"n.log", {}},
      {L"C:\\Logs\\qn\t.log", {}},
      {L"C:\\Logs\\", {}},
      {L"C:\\", {}},
      {L"C:\\Logs\\\\qn.log", {}},
      {L"C:\\Logs\\..\\qn.log", {}},
      {L"C:/Logs/qn.log", {}},
      {L"C:qn.log", {}},
      {L"\\Logs\\qn.log", {}},
      {L"qn.log", {}},
      {L"1:\\qn.log", {}},
      {L"", {}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.folders, LogPathFolders(c.path)) << c.path;
  }
}

}  // namespace
}  // namespace qnvpd
