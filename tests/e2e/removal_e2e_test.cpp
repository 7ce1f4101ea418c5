// The removal run ("-u3") of the real package with the stand-in removal kit: the
// library's entry, then the removal setup matching the platform with "/9", the
// working tree removed, and the maker's folders tidied if empty. In a 32-bit
// prefix set QNVPD_EXPECT_WIN32=1: the 32-bit removal setup is expected there.
#include <windows.h>

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "package_runner.h"

namespace qnvpd_test {
namespace {

const wchar_t kLibraryName[] = L"QNCOMUSBCLN.dll";
const wchar_t kMakerFolder[] = L"\\KAVRO";

// A folder path from HKLM (this program's own registry view); an expandable value
// comes back expanded.
std::wstring ReadMachineFolder(const wchar_t* key, const wchar_t* value) {
  wchar_t text[1024] = {};
  DWORD bytes = sizeof text;
  if (RegGetValueW(HKEY_LOCAL_MACHINE, key, value, RRF_RT_REG_SZ, nullptr, text, &bytes) !=
      ERROR_SUCCESS) {
    return std::wstring();
  }
  return text;
}

// The test package without the removal library. Falls back to its place beside
// the package in the build when the variants' folder is not handed in.
std::wstring NoLibraryPackagePath() {
  const std::wstring variant = VariantPackagePath(L"nolib");
  if (FileExists(variant)) return variant;
  const std::wstring package = PackagePath();
  return package.substr(0, package.rfind(L'\\')) + L"\\variants\\nolib\\QNVPDSetup.exe";
}

// The report's keys in the order the stand-ins wrote them.
std::vector<std::string> ReportKeysInOrder(const std::wstring& path) {
  std::vector<std::string> keys;
  const std::string text = ReadFileBytes(path);
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(start, end - start);
    const size_t eq = line.find('=');
    if (eq != std::string::npos) keys.push_back(line.substr(0, eq));
    start = end + 1;
  }
  return keys;
}

class RemovalE2eTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(PackagePath().empty()) << "QNVPD_PACKAGE is not set";
    static int serial = 0;
    const std::wstring own = ScratchDir() + L"\\removal" + std::to_wstring(++serial);
    DeleteTree(own);
    ASSERT_TRUE(CreateDirectoryW(own.c_str(), nullptr));
    temp_ = own + L"\\temp\\";
    ASSERT_TRUE(CreateDirectoryW(temp_.c_str(), nullptr));
    root_ = temp_ + kProductCode + L"\\";
    report_ = own + L"\\report.txt";
    setupName_ = EnvironmentValue(L"QNVPD_EXPECT_WIN32") == L"1" ? L"KPESetup32.exe" : L"KPESetup64.exe";

    programFiles_ =
        ReadMachineFolder(L"Software\\Microsoft\\Windows\\CurrentVersion", L"ProgramFilesPath");
    commonPrograms_ = ReadMachineFolder(
        L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders",
        L"Common Programs");
    ASSERT_TRUE(FolderExists(programFiles_)) << Narrow(programFiles_);
    ASSERT_TRUE(FolderExists(commonPrograms_)) << Narrow(commonPrograms_);
    // Earlier tests must not leave maker folders behind.
    DeleteTree(programFiles_ + kMakerFolder);
    DeleteTree(commonPrograms_ + kMakerFolder);
  }

  void TearDown() override {
    DeleteTree(programFiles_ + kMakerFolder);
    DeleteTree(commonPrograms_ + kMakerFolder);
  }

  RunResult Run(const std::wstring& arguments, const std::wstring& package = PackagePath()) {
    EXPECT_TRUE(FileExists(package)) << Narrow(package);
    RunOptions options;
    options.arguments = arguments;
    options.tempFolder = temp_;
    options.env = env_;
    options.env[L"QNVPD_STANDIN_REPORT"] = report_;
    options.timeoutMs = 60000;
    RunResult result = RunProgram(package, options);
    EXPECT_FALSE(result.timedOut);
    EXPECT_TRUE(result.boxTexts.empty()) << "the removal run showed a message box";
    return result;
  }

  std::vector<std::string> Report(const char* key) const {
    return ReportValues(ReadReport(report_), key);
  }

  void ExpectSetupRanWithNine() const {
    EXPECT_EQ(std::vector<std::string>{Narrow(root_ + setupName_)}, Report("kpesetup"));
    EXPECT_EQ(std::vector<std::string>{Narrow(L"\"" + root_ + setupName_ + L"\" /9")},
              Report("kpesetup.commandline"));
  }

  std::wstring temp_;
  std::wstring root_;  // the package's working tree, with its trailing backslash
  std::wstring report_;
  std::wstring setupName_;
  std::wstring programFiles_;
  std::wstring commonPrograms_;
  std::map<std::wstring, std::wstring> env_;
};

TEST_F(RemovalE2eTest, LibraryEntryThenMatchingSetupWithNineThenTreeGone) {
  RunResult result = Run(L"-u3");
  EXPECT_EQ(0u, result.exitCode);

  ExpectSetupRanWithNine();
  EXPECT_EQ(std::vector<std::string>{Narrow(root_ + kLibraryName)}, Report("library"));
  // The setup starts in the package's own folder, not in the working tree.
  wchar_t cwd[MAX_PATH] = {};
  GetCurrentDirectoryW(MAX_PATH, cwd);
  EXPECT_EQ(std::vector<std::string>{Narrow(cwd)}, Report("kpesetup.cwd"));

  const std::vector<std::string> keys = ReportKeysInOrder(report_);
  ASSERT_FALSE(keys.empty());
  EXPECT_EQ("library", keys.front()) << "the library's entry must run before the setup";

  EXPECT_FALSE(FolderExists(root_));
}

TEST_F(RemovalE2eTest, SilentSwitchBesideRemovalStillRemoves) {
  RunResult result = Run(L"-u3 -s1");
  EXPECT_EQ(0u, result.exitCode);
  ExpectSetupRanWithNine();
  EXPECT_FALSE(FolderExists(root_));
}

// Exit code 2 and an NTSTATUS error (the setup crashed or could not be loaded)
// fail the run; the tree goes and the maker's folders are tidied either way.
TEST_F(RemovalE2eTest, SetupThatFailsOrCrashesFailsTheRunAndStillTidies) {
  for (const wchar_t* code : {L"2", L"0xC0000005"}) {
    SCOPED_TRACE(Narrow(code));
    DeleteFileW(report_.c_str());
    ASSERT_TRUE(CreateDirectoryW((programFiles_ + kMakerFolder).c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW((commonPrograms_ + kMakerFolder).c_str(), nullptr));
    env_[L"QNVPD_STANDIN_EXIT"] = code;
    EXPECT_EQ(1001u, Run(L"-u3").exitCode);
    ExpectSetupRanWithNine();
    EXPECT_FALSE(FolderExists(root_));
    EXPECT_FALSE(FolderExists(programFiles_ + kMakerFolder));
    EXPECT_FALSE(FolderExists(commonPrograms_ + kMakerFolder));
  }

  // Any other code is the setup's own business, "still active" included.
  for (const wchar_t* code : {L"7", L"259"}) {
    DeleteFileW(report_.c_str());
    env_[L"QNVPD_STANDIN_EXIT"] = code;
    RunResult accepted = Run(L"-u3");
    EXPECT_EQ(0u, accepted.exitCode) << Narrow(code);
    ExpectSetupRanWithNine();
    EXPECT_FALSE(FolderExists(root_));
  }
}

TEST_F(RemovalE2eTest, MissingLibraryStartsNothingKeepsTheKitAndStillTidies) {
  ASSERT_TRUE(CreateDirectoryW((programFiles_ + kMakerFolder).c_str(), nullptr));
  ASSERT_TRUE(CreateDirectoryW((commonPrograms_ + kMakerFolder).c_str(), nullptr));

  RunResult result = Run(L"-u3", NoLibraryPackagePath());
  EXPECT_EQ(1001u, result.exitCode);

  EXPECT_TRUE(Report("library").empty());
  EXPECT_TRUE(Report("kpesetup").empty());
  EXPECT_TRUE(FileExists(root_ + L"KPESetup32.exe"));
  EXPECT_TRUE(FileExists(root_ + L"KPESetup64.exe"));
  EXPECT_FALSE(FileExists(root_ + kLibraryName));

  EXPECT_FALSE(FolderExists(programFiles_ + kMakerFolder));
  EXPECT_FALSE(FolderExists(commonPrograms_ + kMakerFolder));
}

// A damaged kit is never run: nothing is loaded or started, the kit goes, and
// the maker's empty folders are still tidied. A kit file the CRC-32 table lists
// but the package no longer carries (renumbered) is damage too, also when it is
// the setup this platform does not run.
TEST_F(RemovalE2eTest, DamagedKitStartsNothingRemovesTheKitAndStillTidies) {
  const std::wstring package = temp_ + L"damaged\\QNVPDSetup.exe";
  CreateDirectoryW((temp_ + L"damaged").c_str(), nullptr);
  const struct {
    WORD id;
    bool renumbered;
  } damages[] = {{148, false}, {149, false}, {150, false}, {148, true}};
  for (const auto& damage : damages) {
    SCOPED_TRACE(std::to_string(damage.id) + (damage.renumbered ? " renumbered" : " changed"));
    ASSERT_TRUE(damage.renumbered ? WriteRenumberedPackage(damage.id, 4000, package)
                                  : WriteDamagedPackage(damage.id, package));
    ASSERT_TRUE(CreateDirectoryW((programFiles_ + kMakerFolder).c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW((commonPrograms_ + kMakerFolder).c_str(), nullptr));

    EXPECT_EQ(1001u, Run(L"-u3", package).exitCode);
    EXPECT_TRUE(Report("library").empty());
    EXPECT_TRUE(Report("kpesetup").empty());
    EXPECT_FALSE(FolderExists(root_)) << "the kit stayed";
    EXPECT_FALSE(FolderExists(programFiles_ + kMakerFolder));
    EXPECT_FALSE(FolderExists(commonPrograms_ + kMakerFolder));
  }
}

TEST_F(RemovalE2eTest, MakerFoldersGoOnlyWhenEmpty) {
  const std::wstring programsMaker = programFiles_ + kMakerFolder;
  const std::wstring menuMaker = commonPrograms_ + kMakerFolder;

  // Empty: both removed.
  ASSERT_TRUE(CreateDirectoryW(programsMaker.c_str(), nullptr));
  ASSERT_TRUE(CreateDirectoryW(menuMaker.c_str(), nullptr));
  EXPECT_EQ(0u, Run(L"-u3").exitCode);
  EXPECT_FALSE(FolderExists(programsMaker));
  EXPECT_FALSE(FolderExists(menuMaker));

  // Holding a file, or an empty sub-folder: both stay, with what they hold.
  ASSERT_TRUE(CreateDirectoryW(programsMaker.c_str(), nullptr));
  WriteFileBytes(programsMaker + L"\\kept.txt", "kept");
  ASSERT_TRUE(CreateDirectoryW(menuMaker.c_str(), nullptr));
  ASSERT_TRUE(CreateDirectoryW((menuMaker + L"\\Sub").c_str(), nullptr));
  EXPECT_EQ(0u, Run(L"-u3").exitCode);
  EXPECT_TRUE(FileExists(programsMaker + L"\\kept.txt"));
  EXPECT_TRUE(FolderExists(menuMaker + L"\\Sub"));

  // Missing: nothing to do, nothing made.
  DeleteTree(programsMaker);
  DeleteTree(menuMaker);
  EXPECT_EQ(0u, Run(L"-u3").exitCode);
  EXPECT_FALSE(FolderExists(programsMaker));
  EXPECT_FALSE(FolderExists(menuMaker));
}

// The folders are those the system names, whatever the package's environment
// says: an unelevated user can set ProgramFiles and ProgramData for the
// elevated run (HKCU\Environment) and so point it at an empty folder of theirs.
// (A 32-bit program on 64-bit Windows takes ProgramFiles from ProgramFiles(x86).)
TEST_F(RemovalE2eTest, MakerFoldersAreTheSystemsNotTheEnvironments) {
  const std::wstring decoy = temp_ + L"decoy";
  const std::wstring decoyMenu = decoy + L"\\Microsoft\\Windows\\Start Menu\\Programs";
  for (const std::wstring& folder :
       {decoy, decoy + kMakerFolder, decoy + L"\\Microsoft", decoy + L"\\Microsoft\\Windows",
        decoy + L"\\Microsoft\\Windows\\Start Menu", decoyMenu, decoyMenu + kMakerFolder}) {
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr)) << Narrow(folder);
  }
  ASSERT_TRUE(CreateDirectoryW((programFiles_ + kMakerFolder).c_str(), nullptr));
  ASSERT_TRUE(CreateDirectoryW((commonPrograms_ + kMakerFolder).c_str(), nullptr));
  for (const wchar_t* name :
       {L"ProgramFiles", L"ProgramFiles(x86)", L"ProgramData", L"ALLUSERSPROFILE"}) {
    env_[name] = decoy;
  }

  EXPECT_EQ(0u, Run(L"-u3").exitCode);
  EXPECT_TRUE(FolderExists(decoy + kMakerFolder));
  EXPECT_TRUE(FolderExists(decoyMenu + kMakerFolder));
  EXPECT_FALSE(FolderExists(programFiles_ + kMakerFolder));
  EXPECT_FALSE(FolderExists(commonPrograms_ + kMakerFolder));
}

// Failures before anything is loaded or started: 1001, whatever was written is
// gone again, and the maker's empty folders are tidied all the same.
class RemovalCleansUpTest : public RemovalE2eTest {
 protected:
  void ExpectFailedCleanedAndTidied(const std::wstring& package = PackagePath()) {
    ASSERT_TRUE(CreateDirectoryW((programFiles_ + kMakerFolder).c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW((commonPrograms_ + kMakerFolder).c_str(), nullptr));
    EXPECT_EQ(1001u, Run(L"-u3", package).exitCode);
    EXPECT_TRUE(Report("library").empty());
    EXPECT_TRUE(Report("kpesetup").empty());
    EXPECT_FALSE(FolderExists(root_));
    EXPECT_FALSE(FolderExists(programFiles_ + kMakerFolder));
    EXPECT_FALSE(FolderExists(commonPrograms_ + kMakerFolder));
  }
};

TEST_F(RemovalCleansUpTest, KitFileThatCannotBeWrittenOnAFullDrive) {
  const std::wstring drive = FullDrive(L"QNVPD_DISKFULL_DRIVE");
  if (drive.empty()) GTEST_SKIP() << "no disk-full drive";
  temp_ = drive;
  root_ = drive + kProductCode + L"\\";
  ExpectFailedCleanedAndTidied();
  EXPECT_EQ(0u, CountEntries(drive));
}

TEST_F(RemovalCleansUpTest, RootTooLongForTheKitsPaths) {
  // Root and "QNCOMUSBCLN.dll" need 260 characters: one more than the buffer.
  const std::wstring temp = temp_ + std::wstring(245 - 40 - temp_.size(), L'x') + L"\\";
  ASSERT_TRUE(CreateDirectoryW(temp.c_str(), nullptr));
  temp_ = temp;
  root_ = temp_ + kProductCode + L"\\";
  ASSERT_EQ(245u, root_.size());
  ExpectFailedCleanedAndTidied();
}

// The setup chosen for the platform missing from the package fails the run
// before anything runs and keeps the kit; the other one missing changes nothing.
TEST_F(RemovalE2eTest, PackagesWithoutOneRemovalSetup) {
  const bool win32 = setupName_ == L"KPESetup32.exe";
  const std::wstring otherName = win32 ? L"KPESetup64.exe" : L"KPESetup32.exe";
  ASSERT_TRUE(CreateDirectoryW((programFiles_ + kMakerFolder).c_str(), nullptr));

  EXPECT_EQ(1001u, Run(L"-u3", VariantPackagePath(win32 ? L"nosetup32" : L"nosetup64")).exitCode);
  EXPECT_TRUE(Report("library").empty());
  EXPECT_TRUE(Report("kpesetup").empty());
  EXPECT_FALSE(FileExists(root_ + setupName_));
  EXPECT_TRUE(FileExists(root_ + otherName));
  EXPECT_TRUE(FileExists(root_ + kLibraryName));
  EXPECT_FALSE(FolderExists(programFiles_ + kMakerFolder));

  EXPECT_EQ(0u, Run(L"-u3", VariantPackagePath(win32 ? L"nosetup64" : L"nosetup32")).exitCode);
  ExpectSetupRanWithNine();
  EXPECT_EQ(std::vector<std::string>{Narrow(root_ + kLibraryName)}, Report("library"));
  EXPECT_FALSE(FolderExists(root_));
}

}  // namespace
}  // namespace qnvpd_test
