// The environment checks as the running package shows them: the Windows version
// (Wine's per-program version override), the second copy, and the run-time
// lookup of "IsWow64Process".
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "package_runner.h"

namespace qnvpd_test {
namespace {

const wchar_t kPackageName[] = L"QNVPDSetup.exe";
const wchar_t kUnsupportedText[] = L"This operating system is not supported.\r\nInstallation canceled.";
const wchar_t kUnsupportedTextJa[] =
    L"\u30B5\u30DD\u30FC\u30C8\u5BFE\u8C61\u5916\u306EOS\u306E\u70BA\u3001"
    L"\u30A4\u30F3\u30B9\u30C8\u30FC\u30EB\u3067\u304D\u307E\u305B\u3093\u3002\r\n"
    L"\u30A4\u30F3\u30B9\u30C8\u30FC\u30EB\u3092\u4E2D\u6B62\u3057\u307E\u3059\u3002";
const wchar_t kAlreadyRunningText[] = L"This installer is already running.";
// Two identical port options end a silent run with 106 before anything is
// written, so a run that gets past the checks stops there.
const wchar_t kConflictingPorts[] = L" -QN:COM3 -VD:COM3";

class ChecksE2eTest : public testing::Test {
 protected:
  void SetUp() override {
    temp_ = ScratchDir() + L"\\temp";
    CreateDirectoryW(temp_.c_str(), nullptr);
  }
  void TearDown() override { SetWindowsVersionFor(kPackageName, L""); }

  RunResult Run(const std::wstring& arguments, DWORD timeoutMs = 30000) {
    RunOptions options;
    options.arguments = arguments;
    options.tempFolder = temp_;
    options.timeoutMs = timeoutMs;
    options.env = env_;
    return RunProgram(PackagePath(), options);
  }
  // The package has written nothing into its temporary folder.
  bool NothingExtracted() const {
    return !FolderExists(temp_ + L"\\" + kProductCode);
  }

  std::wstring temp_;
  std::map<std::wstring, std::wstring> env_;
};

TEST_F(ChecksE2eTest, Windows2000IsRefusedWithoutTheKmSwitch) {
  SetWindowsVersionFor(kPackageName, L"win2k");

  RunResult interactive = Run(L"");
  EXPECT_FALSE(interactive.timedOut);
  EXPECT_EQ(102u, interactive.exitCode);
  EXPECT_EQ(std::vector<std::wstring>{kUnsupportedText}, interactive.boxTexts);

  RunResult silent = Run(L"-s1");
  EXPECT_EQ(102u, silent.exitCode);
  EXPECT_TRUE(silent.boxTexts.empty());

  // Only the two exact spellings of the switch count.
  RunResult wrongCase = Run(std::wstring(L"-s1 -Km") + kConflictingPorts);
  EXPECT_EQ(102u, wrongCase.exitCode);
  EXPECT_TRUE(NothingExtracted());
}

struct BoxSearch {
  std::vector<HWND> boxes;
};
BOOL CALLBACK CollectPackageBoxes(HWND window, LPARAM param) {
  wchar_t cls[32] = {}, title[128] = {};
  GetClassNameW(window, cls, 32);
  GetWindowTextW(window, title, 128);
  if (std::wstring(cls) == L"#32770" && std::wstring(title) == kCaption)
    reinterpret_cast<BoxSearch*>(param)->boxes.push_back(window);
  return TRUE;
}

// Wine gives a program the user language of the Linux locale of the `wine`
// command that started it; a Windows parent hands down its own whatever the
// environment says. So a run in another language starts through a Linux shell,
// and its boxes are found by their caption (the runs here are one at a time).
// Returns the exit code the shell recorded, or -1; boxTexts gets the boxes' texts.
int RunPackageInLocale(const std::string& locale, const std::wstring& arguments,
                       const std::wstring& scratch, std::vector<std::wstring>* boxTexts) {
  const std::wstring exitFile = scratch + L"\\exit-code.txt";
  const std::string package = UnixPath(PackagePath());
  const std::string exitUnix = UnixPath(exitFile);
  if (package.empty() || exitUnix.empty()) return -1;
  std::wstring command = L"sh -c \"LC_ALL=" + Widen(locale) + L" wine \\\"$0\\\" " + arguments +
                         L"; echo $? > \\\"$1\\\"\" \"" + Widen(package) + L"\" \"" +
                         Widen(exitUnix) + L"\"";
  STARTUPINFOW si = {};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi = {};
  if (!CreateProcessW(L"Z:\\bin\\sh", &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &si, &pi)) {
    return -1;
  }
  // A Linux child has no waitable handle; its end shows in the exit file.
  std::vector<HWND> pressed;
  for (DWORD waited = 0; waited < 30000 && !FileExists(exitFile); waited += 50) {
    BoxSearch search;
    EnumWindows(CollectPackageBoxes, reinterpret_cast<LPARAM>(&search));
    for (HWND box : search.boxes) {
      if (std::find(pressed.begin(), pressed.end(), box) != pressed.end()) continue;
      Sleep(100);  // let the box finish setting itself up
      wchar_t text[2048] = {};
      GetDlgItemTextW(box, 0xFFFF, text, 2048);
      boxTexts->push_back(text);
      pressed.push_back(box);
      PostMessageW(box, WM_COMMAND, IDOK, 0);
    }
    Sleep(50);
  }
  Sleep(100);  // the shell may still be writing the code
  std::string code = ReadFileBytes(exitFile);
  return code.empty() ? -1 : std::atoi(code.c_str());
}

TEST_F(ChecksE2eTest, Windows2000RefusalInJapanese) {
  if (UnixPath(PackagePath()).empty()) GTEST_SKIP() << "needs Wine";
  SetWindowsVersionFor(kPackageName, L"win2k");
  std::vector<std::wstring> boxTexts;
  EXPECT_EQ(102, RunPackageInLocale("ja_JP.UTF-8", L"", ScratchDir(), &boxTexts));
  EXPECT_EQ(std::vector<std::wstring>{kUnsupportedTextJa}, boxTexts);
}

TEST_F(ChecksE2eTest, KmSwitchAdmitsWindows2000Only) {
  SetWindowsVersionFor(kPackageName, L"win2k");
  for (const wchar_t* km : {L"-KM", L"-km", L"x-kmx"}) {
    SCOPED_TRACE(Narrow(km));
    RunResult result = Run(std::wstring(L"-s1 ") + km + kConflictingPorts);
    EXPECT_EQ(106u, result.exitCode);  // past the version check
    EXPECT_TRUE(result.boxTexts.empty());
  }

  SetWindowsVersionFor(kPackageName, L"nt40");
  RunResult older = Run(std::wstring(L"-s1 -KM") + kConflictingPorts);
  EXPECT_EQ(102u, older.exitCode);
  EXPECT_TRUE(NothingExtracted());
}

// Waits until the report file shows that the stand-in installer has started.
bool WaitForStandinSetup(const std::wstring& report, HANDLE package, DWORD timeoutMs) {
  for (DWORD waited = 0; waited < timeoutMs; waited += 100) {
    if (FileExists(report) && !ReportValues(ReadReport(report), "setup").empty()) return true;
    if (WaitForSingleObject(package, 100) == WAIT_OBJECT_0) return false;
  }
  return false;
}

TEST_F(ChecksE2eTest, SecondCopyIsRefusedWhileTheFirstRuns) {
  const std::wstring scratch = ScratchDir();
  const std::wstring report = scratch + L"\\report.txt";
  const std::wstring hold = scratch + L"\\hold";

  RunOptions first;
  first.arguments = L"-u1";
  first.tempFolder = scratch + L"\\temp1";
  first.timeoutMs = 120000;
  first.env[L"QNVPD_STANDIN_REPORT"] = report;
  first.env[L"QNVPD_STANDIN_HOLD"] = hold;
  first.env[L"QNVPD_STANDIN_DIALOG"] = L"TSetDialog";
  CreateDirectoryW(first.tempFolder.c_str(), nullptr);
  HANDLE firstCopy = StartProgram(PackagePath(), first);
  ASSERT_NE(nullptr, firstCopy);
  // Lets the first copy finish whatever happens below.
  struct Release {
    std::wstring hold;
    HANDLE process;
    ~Release() {
      if (!FileExists(hold)) WriteFileBytes(hold, "go");
      if (WaitForSingleObject(process, 60000) != WAIT_OBJECT_0) TerminateProcess(process, 0xDEAD);
      CloseHandle(process);
    }
  } release{hold, firstCopy};
  ASSERT_TRUE(WaitForStandinSetup(report, firstCopy, 60000));

  RunResult silent = Run(L"-s1");
  EXPECT_EQ(101u, silent.exitCode);
  EXPECT_TRUE(silent.boxTexts.empty());

  RunResult interactive = Run(L"");
  EXPECT_EQ(101u, interactive.exitCode);
  EXPECT_EQ(std::vector<std::wstring>{kAlreadyRunningText}, interactive.boxTexts);

  // The port conflict is tested after the guard and replaces its verdict.
  RunResult conflict = Run(std::wstring(L"-s1") + kConflictingPorts);
  EXPECT_EQ(106u, conflict.exitCode);
  EXPECT_TRUE(conflict.boxTexts.empty());

  // The version check comes before the guard.
  SetWindowsVersionFor(kPackageName, L"win2k");
  RunResult refused = Run(L"-s1");
  EXPECT_EQ(102u, refused.exitCode);
  SetWindowsVersionFor(kPackageName, L"");

  EXPECT_TRUE(NothingExtracted());

  // The first copy was not disturbed and ends normally.
  WriteFileBytes(hold, "go");
  ASSERT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), WaitForSingleObject(firstCopy, 60000));
  DWORD code = 0xDEAD;
  GetExitCodeProcess(firstCopy, &code);
  EXPECT_EQ(0u, code);
  EXPECT_EQ(std::vector<std::string>{"0"}, ReportValues(ReadReport(report), "setup.exit"));

  // With the first copy gone its mutex is gone too: a new copy runs through.
  env_[L"QNVPD_STANDIN_DIALOG"] = L"TSetDialog";
  RunResult after = Run(L"-s1", 60000);
  EXPECT_FALSE(after.timedOut);
  EXPECT_EQ(0u, after.exitCode);
}

// Names of the functions a PE32 file imports by name.
std::set<std::string> ImportedFunctions(const std::string& file) {
  std::set<std::string> names;
  auto at = [&](size_t offset, size_t size) -> const char* {
    return offset + size <= file.size() ? file.data() + offset : nullptr;
  };
  auto dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(at(0, sizeof(IMAGE_DOS_HEADER)));
  if (!dos || dos->e_magic != IMAGE_DOS_SIGNATURE) return names;
  auto nt = reinterpret_cast<const IMAGE_NT_HEADERS32*>(at(dos->e_lfanew, sizeof(IMAGE_NT_HEADERS32)));
  if (!nt || nt->Signature != IMAGE_NT_SIGNATURE) return names;
  const IMAGE_SECTION_HEADER* sections = IMAGE_FIRST_SECTION(nt);
  auto fileOffset = [&](DWORD rva) -> size_t {
    for (WORD i = 0; i < nt->FileHeader.NumberOfSections; ++i) {
      const IMAGE_SECTION_HEADER& s = sections[i];
      if (rva >= s.VirtualAddress && rva < s.VirtualAddress + s.SizeOfRawData)
        return rva - s.VirtualAddress + s.PointerToRawData;
    }
    return file.size();
  };
  DWORD importRva = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT].VirtualAddress;
  for (size_t d = fileOffset(importRva);; d += sizeof(IMAGE_IMPORT_DESCRIPTOR)) {
    auto desc = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(at(d, sizeof(IMAGE_IMPORT_DESCRIPTOR)));
    if (!desc || desc->Name == 0) break;
    DWORD thunkRva = desc->OriginalFirstThunk ? desc->OriginalFirstThunk : desc->FirstThunk;
    for (size_t t = fileOffset(thunkRva);; t += sizeof(DWORD)) {
      auto thunk = reinterpret_cast<const DWORD*>(at(t, sizeof(DWORD)));
      if (!thunk || *thunk == 0) break;
      if (*thunk & IMAGE_ORDINAL_FLAG32) continue;
      const char* name = at(fileOffset(*thunk) + 2, 1);
      if (name) names.insert(std::string(name, strnlen(name, file.data() + file.size() - name)));
    }
  }
  return names;
}

TEST(ChecksPackageTest, IsWow64ProcessIsLookedUpNotImported) {
  std::set<std::string> imports = ImportedFunctions(ReadFileBytes(PackagePath()));
  ASSERT_TRUE(imports.count("GetProcAddress")) << "import table not read";
  ASSERT_TRUE(imports.count("CreateMutexW"));
  EXPECT_EQ(0u, imports.count("IsWow64Process"));
}

}  // namespace
}  // namespace qnvpd_test
