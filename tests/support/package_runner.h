// Running the built package (or any Windows program) from a Windows-side test:
// full 32-bit exit codes, a chosen environment, and a watcher for message boxes.
#pragma once

#include <windows.h>

#include <map>
#include <string>
#include <vector>

#include "test_support.h"

namespace qnvpd_test {

// Paths of the build, as Windows paths: CTest hands in QNVPD_BUILD (the build
// folder); QNVPD_PACKAGE, QNVPD_VARIANTS, QNVPD_STANDIN_PAYLOAD,
// QNVPD_HELPERS, QNVPD_MARKER_DLLS and QNVPD_SCRATCH override single ones.
std::wstring PackagePath();              // build\QNVPDSetup.exe
std::wstring VariantPackagePath(const wchar_t* variant);  // a test package, e.g. L"nosetup"
std::wstring StandinPayloadDir();        // the stand-in payload folder (install\, removal\)
std::wstring HelpersDir();               // the helper programs (tests/helpers/)
std::wstring MarkerDllsDir();            // the marker DLLs (tests/helpers/marker_dll.cpp)
std::wstring ScratchDir();               // a fresh folder for this test process

struct RunOptions {
  std::wstring arguments;                          // the package's command line tail
  std::map<std::wstring, std::wstring> env;        // set for the child ("" removes)
  std::wstring tempFolder;                         // TMP and TEMP for the child, if set
  std::wstring currentFolder;                      // the child's current folder, if set
  DWORD timeoutMs = 60000;                         // killed (exit code 0xDEAD) after this
  bool watchMessageBoxes = true;                   // press OK on boxes with the caption
};

struct RunResult {
  DWORD exitCode = 0;
  bool timedOut = false;
  std::vector<std::wstring> boxTexts;  // texts of the message boxes it showed, in order
};

// Starts program with "\"program\" arguments", waits, and returns what happened.
RunResult RunProgram(const std::wstring& program, const RunOptions& options);
inline RunResult RunPackage(const RunOptions& options) {
  return RunProgram(PackagePath(), options);
}

// Starts program without waiting; the caller owns the returned process handle.
HANDLE StartProgram(const std::wstring& program, const RunOptions& options);

// Windows version reported to a program of this file name (Wine's per-application
// override), e.g. L"win2k", L"nt40"; an empty version removes the override.
void SetWindowsVersionFor(const std::wstring& exeName, const std::wstring& version);

// Report lines of the stand-in payload programs: key -> values in order.
std::multimap<std::string, std::string> ReadReport(const std::wstring& path);
std::vector<std::string> ReportValues(const std::multimap<std::string, std::string>& report,
                                      const std::string& key);

// Where RCDATA resource `id` lies in a program's bytes, found through its PE
// resource table: false when the table does not hold it.
bool FindRcdataInFile(const std::string& image, WORD id, size_t* offset, size_t* size);

// A copy of the built package at `path` with one byte flipped in the middle of
// RCDATA resource `id`, as a damaged download would be. False when the package
// or its resource cannot be found.
bool WriteDamagedPackage(WORD id, const std::wstring& path);

// A copy of the built package at `path` in which RCDATA resource `id` is
// carried under `newId` instead (an id the package does not use), as if it had
// been renumbered after the build: the CRC-32 table still lists `id`. False
// when the package has no resource `id`, or already one `newId`.
bool WriteRenumberedPackage(WORD id, WORD newId, const std::wstring& path);

// Linux path of a Windows path, through Wine's own mapping; empty outside Wine.
std::string UnixPath(const std::wstring& path);

// Runs a Linux shell script (arguments as $1, $2, ...) and waits for it, at most
// 30 s; true when it exited with 0. A Linux program started from Wine has no
// waitable handle, so its end is seen through a file it writes.
bool RunLinuxShell(const std::string& script, const std::vector<std::string>& arguments);

// A Linux symbolic link at `link` to the folder `target` (Windows paths), which
// Wine reports as a folder link; removed as a link from the Linux side when the
// scope ends, so that no Windows-side clean-up (Wine's deletes follow links)
// ever reaches through it. Made() is false when it could not be made.
class LinuxFolderLink {
 public:
  LinuxFolderLink(const std::wstring& target, const std::wstring& link);
  ~LinuxFolderLink();
  LinuxFolderLink(const LinuxFolderLink&) = delete;
  LinuxFolderLink& operator=(const LinuxFolderLink&) = delete;
  bool Made() const { return made_; }

 private:
  std::string link_;
  bool made_ = false;
};

constexpr const wchar_t kCaption[] = L"KAVRO QN Virtual Port Driver Ver.7.20b";
constexpr const wchar_t kProductCode[] = L"{5A1C90E2-7D3F-4B8A-9E21-0C6F4D8B2A17}";

}  // namespace qnvpd_test
