// The install run end to end: the real package under Wine with the stand-in
// product installer, which records what it found (its command line, current
// folder, the files beside it) and reports a result the way the real one does.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "package_runner.h"
#include "standin_common.h"

namespace qnvpd_test {
namespace {

struct CarriedFile {
  const char* folder;  // below the extraction root, "/"-separated
  const char* name;
};

const CarriedFile kCarried[] = {
#define PAYLOAD_FILE(id, folderEnum, nameId, folder, name) {folder, name},
#define REMOVAL_FILE(id, nameId, name)
#include "payload/payload_manifest.def"
#undef PAYLOAD_FILE
#undef REMOVAL_FILE
};

std::wstring Backslashed(const std::string& path) {
  std::wstring w = Widen(path);
  std::replace(w.begin(), w.end(), L'/', L'\\');
  return w;
}

std::wstring RelativePath(const CarriedFile& file) {
  std::wstring folder = Backslashed(file.folder);
  return (folder.empty() ? L"" : folder + L"\\") + Widen(file.name);
}

class InstallE2eTest : public testing::Test {
 protected:
  void SetUp() override {
    static int serial = 0;
    own_ = ScratchDir() + L"\\install" + std::to_wstring(++serial);
    DeleteTree(own_);
    ASSERT_TRUE(CreateDirectoryW(own_.c_str(), nullptr));
    UseTempFolder(own_ + L"\\temp");
    report_ = own_ + L"\\report.txt";
    env_[L"QNVPD_STANDIN_REPORT"] = report_;
  }

  void UseTempFolder(const std::wstring& temp) {
    temp_ = temp;
    CreateDirectoryW(temp_.c_str(), nullptr);
    root_ = temp_ + L"\\" + kProductCode + L"\\";
  }

  RunResult Run(const std::wstring& arguments, const std::wstring& package = PackagePath()) {
    RunOptions options;
    options.arguments = arguments;
    options.tempFolder = temp_;
    options.env = env_;
    options.timeoutMs = 60000;
    return RunProgram(package, options);
  }

  std::multimap<std::string, std::string> Report() const { return ReadReport(report_); }

  std::wstring own_, temp_, root_, report_;
  std::map<std::wstring, std::wstring> env_;
};

TEST_F(InstallE2eTest, SilentRunHandsTheInstallerItsCommandLineAndFiles) {
  RunResult run = Run(L"-s1 -QN:COM3 extra");
  EXPECT_EQ(0u, run.exitCode);
  EXPECT_TRUE(run.boxTexts.empty());
  auto report = Report();

  // The path quoted, the options, and the token with the package's own options.
  std::string window = ReportValues(report, "setup.notifywindow").at(0);
  EXPECT_EQ("\"" + Narrow(root_) + "setup.exe\" /clone_wait /hide_progress -l0x0409 \"/W32:" +
                window + ":1024 -s1 -QN:COM3 extra\"",
            ReportValues(report, "setup.commandline").at(0));
  EXPECT_NE("0", window);
  wchar_t cwd[MAX_PATH];
  GetCurrentDirectoryW(MAX_PATH, cwd);
  EXPECT_EQ(Narrow(cwd), ReportValues(report, "setup.cwd").at(0)) << "the package's own folder";

  // Every carried file, byte for byte, plus PORTS.dat, and nothing else.
  std::map<std::string, std::string> found;
  for (const std::string& line : ReportValues(report, "setup.file")) {
    found[line.substr(0, line.find('|'))] = line.substr(line.find('|') + 1);
  }
  for (const CarriedFile& file : kCarried) {
    std::wstring source = StandinPayloadDir() + L"\\install\\" + RelativePath(file);
    unsigned long long size = 0;
    std::wstring digest = standin::FileDigest(source, &size);
    ASSERT_FALSE(digest.empty()) << Narrow(source);
    std::string key = Narrow(RelativePath(file));
    ASSERT_TRUE(found.count(key)) << key << " was not beside the installer";
    EXPECT_EQ(std::to_string(size) + "|" + Narrow(digest), found[key]) << key;
    found.erase(key);
  }
  ASSERT_EQ(1u, found.size());
  EXPECT_EQ("PORTS.dat", found.begin()->first);

  EXPECT_FALSE(FolderExists(root_)) << "the tree is removed after the installer ended";
}

// Installers broadcast WM_SETTINGCHANGE with SendMessage, which waits for every
// top-level window, the package's hidden one included: while the dialog is
// polled for, and while the installer is waited for.
TEST_F(InstallE2eTest, InstallerBroadcastingASentMessageDoesNotHangTheRun) {
  env_[L"QNVPD_STANDIN_POST"] = L"3,42";
  for (const wchar_t* when : {L"start", L"end"}) {
    env_[L"QNVPD_STANDIN_BROADCAST"] = when;
    env_[L"QNVPD_STANDIN_DIALOG"] = std::wstring(when) == L"end" ? L"TSetDialog" : L"";
    DeleteFileW(report_.c_str());
    RunOptions options;
    options.arguments = L"-u1";
    options.tempFolder = temp_;
    options.env = env_;
    options.timeoutMs = 30000;
    RunResult run = RunPackage(options);
    EXPECT_FALSE(run.timedOut) << Narrow(when);
    EXPECT_EQ(42u, run.exitCode) << Narrow(when);
    EXPECT_EQ(std::vector<std::string>{Narrow(when)}, ReportValues(Report(), "setup.broadcast"));
    EXPECT_FALSE(FolderExists(root_));
  }
}

TEST_F(InstallE2eTest, OptionsPerRunMode) {
  Run(L"");
  Run(L"-u1");
  auto lines = ReportValues(Report(), "setup.commandline");
  ASSERT_EQ(2u, lines.size());
  std::string head = "\"" + Narrow(root_) + "setup.exe\" ";
  EXPECT_EQ(0u, lines[0].find(head + "/clone_wait \"/W32:"));
  EXPECT_EQ(lines[0].size() - 1, lines[0].find(":1024\"")+5) << "no options: the token alone";
  EXPECT_EQ(0u, lines[1].find(head + "/clone_wait /hide_progress -l0x0409 \"/W32:"));
  EXPECT_NE(std::string::npos, lines[1].find(":1024 -u1\""));
}

TEST_F(InstallE2eTest, ExitCodeIsTheLow16BitsOfTheLastPostedResult) {
  struct {
    const wchar_t* posts;
    DWORD exitCode;
  } cases[] = {{L"", 0}, {L"0x00012345", 9029}, {L"3,5", 5}, {L"0xFFFFFFFF", 65535}};
  for (const auto& c : cases) {
    env_[L"QNVPD_STANDIN_POST"] = c.posts;
    RunResult run = Run(L"-u1");
    EXPECT_EQ(c.exitCode, run.exitCode) << Narrow(c.posts);
    EXPECT_FALSE(FolderExists(root_));
  }
}

TEST_F(InstallE2eTest, InstallerExitCodeTwoIsAFailure) {
  env_[L"QNVPD_STANDIN_EXIT"] = L"2";
  env_[L"QNVPD_STANDIN_POST"] = L"7";
  RunResult silent = Run(L"-s1");
  EXPECT_EQ(1001u, silent.exitCode);
  EXPECT_TRUE(silent.boxTexts.empty());
  EXPECT_FALSE(FolderExists(root_));

  RunResult interactive = Run(L"");
  EXPECT_EQ(1001u, interactive.exitCode);
  ASSERT_EQ(1u, interactive.boxTexts.size());
  EXPECT_EQ(L"Installation failed.", interactive.boxTexts[0]);
  EXPECT_FALSE(FolderExists(root_));

  env_[L"QNVPD_STANDIN_EXIT"] = L"3";
  EXPECT_EQ(7u, Run(L"-s1").exitCode) << "any other exit code is accepted";
}

TEST_F(InstallE2eTest, PackageWithoutSetupFailsAndLeavesTheTree) {
  RunResult run = Run(L"", VariantPackagePath(L"nosetup"));
  EXPECT_EQ(1001u, run.exitCode);
  ASSERT_EQ(1u, run.boxTexts.size());
  EXPECT_EQ(L"Installation failed.", run.boxTexts[0]);
  EXPECT_TRUE(FileExists(root_ + L"data1.cab"));
  EXPECT_TRUE(FileExists(root_ + L"manual\\TC\\ReadMeE.txt"));
  EXPECT_FALSE(FileExists(root_ + L"setup.exe"));
  EXPECT_FALSE(FileExists(root_ + L"PORTS.dat"));
  EXPECT_TRUE(ReportValues(Report(), "setup").empty()) << "nothing was started";
}

// A package damaged after the build (one byte of a carried file flipped) starts
// nothing and leaves nothing, whichever file it hits: setup.exe, written first,
// or data2.cab, written after three good files.
TEST_F(InstallE2eTest, DamagedPackageStartsNothingAndLeavesNothing) {
  const struct { WORD id; const wchar_t* file; } damaged[] = {{104, L"setup.exe"},
                                                              {112, L"data2.cab"}};
  for (const auto& d : damaged) {
    SCOPED_TRACE(Narrow(d.file));
    // The patch lands on the carried file itself.
    size_t offset = 0, size = 0;
    const std::string image = ReadFileBytes(PackagePath());
    ASSERT_TRUE(FindRcdataInFile(image, d.id, &offset, &size));
    ASSERT_EQ(ReadFileBytes(StandinPayloadDir() + L"\\install\\" + d.file),
              image.substr(offset, size));
    const std::wstring package = own_ + L"\\" + std::to_wstring(d.id) + L"\\QNVPDSetup.exe";
    CreateDirectoryW((own_ + L"\\" + std::to_wstring(d.id)).c_str(), nullptr);
    ASSERT_TRUE(WriteDamagedPackage(d.id, package));

    for (const wchar_t* arguments : {L"", L"-s1", L"-u1"}) {
      RunResult run = Run(arguments, package);
      EXPECT_EQ(1001u, run.exitCode) << Narrow(arguments);
      EXPECT_EQ(std::vector<std::wstring>(*arguments ? 0 : 1, L"Installation failed."),
                run.boxTexts) << Narrow(arguments);
      EXPECT_TRUE(ReportValues(Report(), "setup").empty()) << "the installer was started";
      EXPECT_FALSE(FolderExists(root_)) << "the tree stayed";
    }
  }
}

TEST_F(InstallE2eTest, StaleRootIsClearedBeforeTheInstallerSeesIt) {
  CreateDirectoryW(root_.c_str(), nullptr);
  CreateDirectoryW((root_ + L"qnusb").c_str(), nullptr);
  WriteFileBytes(root_ + L"planted.dll", "MZ not ours");
  WriteFileBytes(root_ + L"qnusb\\old.txt", "left over");
  SetFileAttributesW((root_ + L"planted.dll").c_str(), FILE_ATTRIBUTE_READONLY);
  ASSERT_EQ(0u, Run(L"-u1").exitCode);
  for (const std::string& line : ReportValues(Report(), "setup.file")) {
    EXPECT_EQ(std::string::npos, line.find("planted.dll"));
    EXPECT_EQ(std::string::npos, line.find("old.txt"));
  }
  EXPECT_FALSE(FolderExists(root_));
}

TEST_F(InstallE2eTest, TemporaryFolderWithBlanksStartsExactlyTheInstaller) {
  // Unquoted, this command line would start "<own>\Jo.exe" first.
  UseTempFolder(own_ + L"\\Jo Smith");
  std::wstring plant = own_ + L"\\Jo.exe";
  ASSERT_TRUE(CopyFileW((StandinPayloadDir() + L"\\removal\\KPESetup32.exe").c_str(),
                        plant.c_str(), FALSE));
  EXPECT_EQ(0u, Run(L"-s1").exitCode);
  auto report = Report();
  EXPECT_TRUE(ReportValues(report, "kpesetup").empty()) << "the planted program ran";
  ASSERT_EQ(1u, ReportValues(report, "setup").size());
  EXPECT_EQ(0u, ReportValues(report, "setup.commandline")[0].find("\"" + Narrow(root_) +
                                                                   "setup.exe\" /clone_wait"));
}

// The installer gets the package's whole command line; one that cannot fit the
// installer's command line fails the run instead of being cut short.
TEST_F(InstallE2eTest, CommandLineTooLongForTheInstallerFailsTheRun) {
  std::wstring longest(32000 - PackagePath().size(), L'x');
  for (const std::wstring& tail : {std::wstring(1100, L'x'), longest}) {
    RunResult run = Run(L"-u1 " + tail);
    EXPECT_EQ(1001u, run.exitCode) << tail.size();
    EXPECT_TRUE(run.boxTexts.empty());
    EXPECT_FALSE(FolderExists(root_)) << "the tree is removed";
  }
  EXPECT_TRUE(ReportValues(Report(), "setup").empty()) << "nothing was started";
}

TEST_F(InstallE2eTest, SetupPathThatWouldNotFitEndsTheRunBeforeWriting) {
  // 212 characters of base: root and "setup.exe" need 260 with the zero.
  std::wstring temp = own_ + L"\\";
  temp += std::wstring(211 - temp.size(), L'x');
  UseTempFolder(temp);
  ASSERT_EQ(212u, (temp_ + L"\\").size());
  EXPECT_EQ(1001u, Run(L"-s1").exitCode);
  EXPECT_FALSE(FolderExists(root_));
  EXPECT_TRUE(ReportValues(Report(), "setup").empty());

  // One character less fits.
  temp.pop_back();
  UseTempFolder(temp);
  EXPECT_EQ(0u, Run(L"-s1").exitCode);
  EXPECT_EQ(1u, ReportValues(Report(), "setup").size());
}

// Real runs with a full drive as the temporary folder (the drives are mounted by
// the full-drive fixtures; without them these tests skip). Each failure must
// start nothing and leave the drive as empty as it was.
class InstallFullDriveTest : public InstallE2eTest {
 protected:
  bool UseDrive(const wchar_t* variable) {
    const std::wstring drive = FullDrive(variable);
    if (drive.empty()) return false;
    DeleteTree(drive + kProductCode);
    temp_ = drive;
    root_ = drive + kProductCode + L"\\";
    return true;
  }

  void ExpectFailedAndNothingLeft() {
    RunResult run = Run(L"-u1");
    EXPECT_EQ(1001u, run.exitCode);
    EXPECT_TRUE(ReportValues(Report(), "setup").empty()) << "the installer was started";
    EXPECT_EQ(0u, CountEntries(temp_)) << "something was left on the drive";
  }
};

TEST_F(InstallFullDriveTest, PayloadFileThatCannotBeWritten) {
  if (!UseDrive(L"QNVPD_DISKFULL_DRIVE")) GTEST_SKIP() << "no disk-full drive";
  ExpectFailedAndNothingLeft();
}

// The drive holds the payload and not one page more: PORTS.dat is created but
// its lines cannot be written.
TEST_F(InstallFullDriveTest, PortsFileThatCannotBeWritten) {
  if (!UseDrive(L"QNVPD_PAYLOAD_PAGES_DRIVE")) GTEST_SKIP() << "no payload-sized drive";
  ULONGLONG pages = 0;
  for (const CarriedFile& file : kCarried) {
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    ASSERT_TRUE(GetFileAttributesExW((StandinPayloadDir() + L"\\install\\" + RelativePath(file)).c_str(),
                                     GetFileExInfoStandard, &data));
    pages += (data.nFileSizeLow + 4095) / 4096;
  }
  ULARGE_INTEGER free = {};
  ASSERT_TRUE(GetDiskFreeSpaceExW(temp_.c_str(), &free, nullptr, nullptr));
  ASSERT_EQ(pages * 4096, free.QuadPart) << "the drive must hold exactly the payload";
  ExpectFailedAndNothingLeft();
}

// The drive has room but takes only as many entries as the payload tree.
TEST_F(InstallFullDriveTest, PortsFileThatCannotBeCreated) {
  if (!UseDrive(L"QNVPD_PAYLOAD_ENTRIES_DRIVE")) GTEST_SKIP() << "no payload-entries drive";
  ExpectFailedAndNothingLeft();
}

}  // namespace
}  // namespace qnvpd_test
