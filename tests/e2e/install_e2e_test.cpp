// The install run end to end: the real package under Wine with the stand-in
// product installer, which records what it found (its command line, current
// folder, the files beside it) and reports a result the way the real one does.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "carried_files.h"
#include "package_runner.h"
#include "standin_common.h"

namespace qnvpd_test {
namespace {

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

  // Starts the package, whose stand-in programs then wait until `release`
  // exists; the caller owns the process handle (see Finish).
  HANDLE StartHeld(const std::wstring& arguments, const std::wstring& release) {
    DeleteFileW(release.c_str());
    env_[L"QNVPD_STANDIN_HOLD"] = release;
    RunOptions options;
    options.arguments = arguments;
    options.tempFolder = temp_;
    options.env = env_;
    return StartProgram(PackagePath(), options);
  }
  // Lets the held stand-in go on and returns the package's exit code.
  static DWORD Finish(HANDLE package, const std::wstring& release) {
    WriteFileBytes(release, "");
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(package, 60000));
    DWORD exitCode = 0xFFFFFFFF;
    GetExitCodeProcess(package, &exitCode);
    CloseHandle(package);
    return exitCode;
  }

  // Every carried file and each of extra (below the root, backslashed) beside
  // the installer, byte for byte as in the stand-in payload, plus PORTS.dat,
  // and nothing else.
  void ExpectCarriedFilesBesideTheInstaller(const std::multimap<std::string, std::string>& report,
                                            std::vector<std::wstring> extra) {
    std::map<std::string, std::string> found;
    for (const std::string& line : ReportValues(report, "setup.file")) {
      found[line.substr(0, line.find('|'))] = line.substr(line.find('|') + 1);
    }
    for (const CarriedFile& file : kCarried) extra.push_back(RelativePath(file));
    for (const std::wstring& path : extra) {
      std::wstring source = StandinPayloadDir() + L"\\install\\" + path;
      unsigned long long size = 0;
      std::wstring digest = standin::FileDigest(source, &size);
      ASSERT_FALSE(digest.empty()) << Narrow(source);
      std::string key = Narrow(path);
      ASSERT_TRUE(found.count(key)) << key << " was not beside the installer";
      EXPECT_EQ(std::to_string(size) + "|" + Narrow(digest), found[key]) << key;
      found.erase(key);
    }
    ASSERT_EQ(1u, found.size());
    EXPECT_EQ("PORTS.dat", found.begin()->first);
  }

  // After one install and one removal run beside something at the working
  // folder's place: each ran from a sibling of its own, now gone, and only
  // what stood at the place is left in the temporary folder.
  void ExpectBothRunsWorkedBeside(const std::wstring& place) {
    auto report = Report();
    const std::string sibling = Narrow(place + L".");
    for (const char* started : {"setup", "kpesetup"}) {
      const std::vector<std::string> paths = ReportValues(report, started);
      ASSERT_EQ(1u, paths.size()) << started;
      EXPECT_EQ(0u, paths[0].find(sibling)) << paths[0];
    }
    EXPECT_EQ(std::vector<std::wstring>{kProductCode}, EntryNames(temp_));
  }

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

  ExpectCarriedFilesBesideTheInstaller(report, {});
  EXPECT_FALSE(FolderExists(root_)) << "the tree is removed after the installer ended";
}

// A package built from a payload table with one row more than this program's
// (tests/release/payload_table.sh, which leaves it with its stand-in payload and
// the new file's path below the root in QNVPD_ADDED_ROW): the installer finds the new file
// beside the others. Run by release_added_row_extracts only.
class AddedRowE2eTest : public InstallE2eTest {};

TEST_F(AddedRowE2eTest, NewFileIsExtractedWithTheOthers) {
  const std::wstring folder = EnvironmentValue(L"QNVPD_ADDED_ROW");
  ASSERT_FALSE(folder.empty()) << "QNVPD_ADDED_ROW is not set";
  const std::string added = ReadFileBytes(folder + L"\\added-file.txt");
  ASSERT_NE(std::string::npos, added.find('\n'));

  EXPECT_EQ(0u, Run(L"-s1").exitCode);
  ExpectCarriedFilesBesideTheInstaller(Report(), {Widen(added.substr(0, added.find('\n')))});
  EXPECT_FALSE(FolderExists(root_));
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

// Exit code 2, and an NTSTATUS error (a crash, or a program the system could
// not load) fail the run whatever was posted; any other code is accepted and
// the posted result, or 0, is the run's.
TEST_F(InstallE2eTest, InstallerThatFailsOrCrashesFailsTheRun) {
  const struct {
    const wchar_t* exit;
    const wchar_t* post;
  } failing[] = {{L"2", L"7"}, {L"0xC0000005", L""}};
  for (const auto& f : failing) {
    SCOPED_TRACE(Narrow(f.exit));
    env_[L"QNVPD_STANDIN_EXIT"] = f.exit;
    env_[L"QNVPD_STANDIN_POST"] = f.post;
    RunResult silent = Run(L"-s1");
    EXPECT_EQ(1001u, silent.exitCode);
    EXPECT_TRUE(silent.boxTexts.empty());
    EXPECT_FALSE(FolderExists(root_));

    RunResult interactive = Run(L"");
    EXPECT_EQ(1001u, interactive.exitCode);
    EXPECT_EQ(std::vector<std::wstring>{L"Installation failed."}, interactive.boxTexts);
    EXPECT_FALSE(FolderExists(root_));
  }

  env_[L"QNVPD_STANDIN_EXIT"] = L"3";
  env_[L"QNVPD_STANDIN_POST"] = L"7";
  EXPECT_EQ(7u, Run(L"-s1").exitCode) << "any other exit code is accepted";
  env_[L"QNVPD_STANDIN_EXIT"] = L"-1";
  env_[L"QNVPD_STANDIN_POST"] = L"";
  EXPECT_EQ(0u, Run(L"-s1").exitCode) << "-1 is no NTSTATUS error";
  // The installer ran to its end each time, with the code it was told to end with.
  EXPECT_EQ((std::vector<std::string>{"2", "2", "-1073741819", "-1073741819", "3", "-1"}),
            ReportValues(Report(), "setup.exit"));
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

// A package that no longer carries a file its CRC-32 table lists (its resource
// renumbered after the build) is damaged like one whose bytes changed: seven
// files are written before the gap, and none of them stays.
TEST_F(InstallE2eTest, PackageMissingAListedFileStartsNothingAndLeavesNothing) {
  const std::wstring package = own_ + L"\\renumbered\\QNVPDSetup.exe";
  CreateDirectoryW((own_ + L"\\renumbered").c_str(), nullptr);
  ASSERT_TRUE(WriteRenumberedPackage(107, 4000, package)) << "setup.inx";
  EXPECT_EQ(1001u, Run(L"-s1", package).exitCode);
  EXPECT_TRUE(ReportValues(Report(), "setup").empty()) << "the installer was started";
  EXPECT_TRUE(EntryNames(temp_).empty()) << "something was left behind";
}

// Anyone may leave things in the root's place, dot-named ones included: the
// installer sees exactly the payload, and what was there is set aside untouched.
TEST_F(InstallE2eTest, StaleRootNeverReachesTheInstaller) {
  CreateDirectoryW(root_.c_str(), nullptr);
  CreateDirectoryW((root_ + L"qnusb").c_str(), nullptr);
  CreateDirectoryW((root_ + L".cache").c_str(), nullptr);
  WriteFileBytes(root_ + L".keep", "");
  WriteFileBytes(root_ + L"version.dll", "MZ not ours");
  WriteFileBytes(root_ + L".cache\\old.txt", "left over");
  WriteFileBytes(root_ + L"qnusb\\old.txt", "left over");
  SetFileAttributesW((root_ + L"version.dll").c_str(), FILE_ATTRIBUTE_READONLY);
  ASSERT_EQ(0u, Run(L"-u1").exitCode);

  std::vector<std::string> seen;
  for (const std::string& line : ReportValues(Report(), "setup.file")) {
    seen.push_back(line.substr(0, line.find('|')));
  }
  std::vector<std::string> expected = {"PORTS.dat"};
  for (const CarriedFile& file : kCarried) expected.push_back(Narrow(RelativePath(file)));
  std::sort(seen.begin(), seen.end());
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(expected, seen);
  EXPECT_FALSE(FolderExists(root_));

  // Without a stored descriptor nothing shows it was only ever ours: set aside.
  const std::vector<std::wstring> temp = EntryNames(temp_);
  ASSERT_EQ(1u, temp.size());
  EXPECT_EQ(0u, temp[0].find(std::wstring(kProductCode) + L"."));
  EXPECT_EQ((std::vector<std::wstring>{L".cache", L".keep", L"qnusb", L"version.dll"}),
            EntryNames(temp_ + L"\\" + temp[0]));
}

// Wine reports a Linux link as a reparse point, as Windows does a junction, but
// cannot open it as itself: a rename would move its target. The link stays
// where it is, nothing behind it is entered, deleted or moved, and both runs
// work in a sibling folder of their own.
TEST_F(InstallE2eTest, LinkAtTheRootIsNeverFollowed) {
  const std::wstring target = own_ + L"\\target";
  CreateDirectoryW(target.c_str(), nullptr);
  CreateDirectoryW((target + L"\\sub").c_str(), nullptr);
  CreateDirectoryW((target + L"\\empty").c_str(), nullptr);
  WriteFileBytes(target + L"\\readonly.txt", "keep me");
  WriteFileBytes(target + L"\\sub\\inner.txt", "keep me too");
  SetFileAttributesW((target + L"\\readonly.txt").c_str(), FILE_ATTRIBUTE_READONLY);
  const std::wstring link = root_.substr(0, root_.size() - 1);
  // Removed as a link from the Linux side whatever happens, so no later clean-up
  // (Wine's deletes follow links) ever reaches through it.
  struct Unlink {
    std::string path;
    ~Unlink() { RunLinuxShell("rm -f \"$1\"", {path}); }
  } unlink{UnixPath(link)};
  ASSERT_TRUE(RunLinuxShell("ln -s \"$1\" \"$2\"", {UnixPath(target), unlink.path}));
  ASSERT_NE(0u, GetFileAttributesW(link.c_str()) & FILE_ATTRIBUTE_REPARSE_POINT);

  for (const wchar_t* arguments : {L"-s1", L"-u3"}) {
    EXPECT_EQ(0u, Run(arguments).exitCode) << Narrow(arguments);
  }
  ExpectBothRunsWorkedBeside(link);
  EXPECT_EQ((std::vector<std::wstring>{L"empty", L"readonly.txt", L"sub"}), EntryNames(target));
  EXPECT_EQ("keep me", ReadFileBytes(target + L"\\readonly.txt"));
  EXPECT_EQ(static_cast<DWORD>(FILE_ATTRIBUTE_READONLY),
            GetFileAttributesW((target + L"\\readonly.txt").c_str()) & FILE_ATTRIBUTE_READONLY);
  EXPECT_EQ("keep me too", ReadFileBytes(target + L"\\sub\\inner.txt"));
}

// Whoever may write the temporary folder (in C:\Windows\Temp, every user) can
// hold a file open at the working folder's place. It cannot be set aside, but
// it blocks no run: both work beside it, and it is left as it was.
TEST_F(InstallE2eTest, FileHeldAtTheRootsPlaceBlocksNoRun) {
  const std::wstring place = root_.substr(0, root_.size() - 1);
  WriteFileBytes(place, "squatter");
  HANDLE held = CreateFileW(place.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, held);
  for (const wchar_t* arguments : {L"-s1", L"-u3"}) {
    EXPECT_EQ(0u, Run(arguments).exitCode) << Narrow(arguments);
  }
  CloseHandle(held);
  ExpectBothRunsWorkedBeside(place);
  EXPECT_EQ("squatter", ReadFileBytes(place));
}

// Points the Linux link `link` at `target` in one step, as a junction is
// re-pointed: a new link renamed over the old one.
bool RepointLink(const std::wstring& link, const std::wstring& target) {
  return RunLinuxShell("ln -sfn \"$1\" \"$2.new\" && mv -T \"$2.new\" \"$2\"",
                       {UnixPath(target), UnixPath(link)});
}

bool StartsWithIgnoringCase(const std::string& text, const std::string& start) {
  return text.size() >= start.size() && _strnicmp(text.c_str(), start.c_str(), start.size()) == 0;
}

// A temporary folder that cannot hold a private working folder: on a share
// (a redirected %TEMP%), too long for the query's buffer, or below a file.
// Nothing is written there (nor in the current folder), and both runs work in
// the machine's temporary folder instead, which is empty again afterwards.
TEST_F(InstallE2eTest, TemporaryFolderThatCannotHoldTheWorkingFolderMovesTheRun) {
  const std::string unc = UnixPath(L"C:\\") + "/../dosdevices/unc/qnvpdtest";
  ASSERT_TRUE(RunLinuxShell("mkdir -p \"$1/share/tmp\"", {unc}));
  const std::wstring current = own_ + L"\\current";
  CreateDirectoryW(current.c_str(), nullptr);
  std::wstring tooLong = own_ + L"\\";
  tooLong += std::wstring(260 - tooLong.size(), L'x');
  CreateDirectoryW(tooLong.c_str(), nullptr);
  WriteFileBytes(own_ + L"\\file", "not a folder");
  wchar_t windows[MAX_PATH] = {};
  ASSERT_NE(0u, GetSystemWindowsDirectoryW(windows, MAX_PATH));
  const std::string machine = Narrow(std::wstring(windows) + L"\\temp\\" + kProductCode + L"\\");

  const struct {
    std::wstring temp;
    const wchar_t* arguments;
    const char* started;
  } cases[] = {{L"\\\\qnvpdtest\\share\\tmp", L"-s1", "setup"},
               {L"\\\\qnvpdtest\\share\\tmp", L"-u3", "kpesetup"},
               {tooLong, L"-s1", "setup"},
               {own_ + L"\\file\\temp", L"-s1", "setup"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(Narrow(c.temp + L" " + c.arguments));
    RunOptions options;
    options.arguments = c.arguments;
    options.tempFolder = c.temp;
    options.currentFolder = current;
    options.env = env_;
    EXPECT_EQ(0u, RunPackage(options).exitCode);
    const std::vector<std::string> started = ReportValues(Report(), c.started);
    ASSERT_FALSE(started.empty()) << "nothing was started";
    EXPECT_TRUE(StartsWithIgnoringCase(started.back(), machine)) << started.back();
    EXPECT_FALSE(FolderExists(Widen(machine)));
  }
  EXPECT_TRUE(EntryNames(L"\\\\qnvpdtest\\share\\tmp").empty());
  EXPECT_TRUE(EntryNames(tooLong).empty());
  EXPECT_TRUE(EntryNames(current).empty());
  RunLinuxShell("rm -rf \"$1\"", {unc});
  RemoveDirectoryW(tooLong.c_str());
}

// A link in the temporary folder's path: any of the user's own programs can
// make a junction in the user's profile and point TMP at it. It is followed
// once, at the start. Re-pointed the moment the working folder appears, and
// again while the installer runs, it leads nowhere: nothing is written to,
// started from or deleted in its new target, and both runs are as without it.
TEST_F(InstallE2eTest, LinkInTheTemporaryFolderIsFollowedOnceAndNeverAgain) {
  const std::wstring real = own_ + L"\\real";
  const std::wstring decoy = own_ + L"\\decoy";
  const std::wstring link = own_ + L"\\link";
  const std::wstring planted = decoy + L"\\" + kProductCode;
  for (const std::wstring& folder : {real, decoy, planted}) {
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
  }
  // What someone steering the run would wait with there: programs of their own
  // under the names the package starts, and files to lose.
  const std::wstring theirs = StandinPayloadDir() + L"\\removal\\KPESetup32.exe";
  for (const wchar_t* name : {L"setup.exe", L"KPESetup32.exe", L"KPESetup64.exe"}) {
    ASSERT_TRUE(CopyFileW(theirs.c_str(), (planted + L"\\" + name).c_str(), FALSE));
  }
  WriteFileBytes(planted + L"\\keep.txt", "keep me");
  const std::vector<std::wstring> plantedNames = EntryNames(planted);
  auto expectDecoyUntouched = [&] {
    EXPECT_EQ(plantedNames, EntryNames(planted));
    EXPECT_EQ("keep me", ReadFileBytes(planted + L"\\keep.txt"));
    EXPECT_TRUE(ReadFileBytes(theirs) == ReadFileBytes(planted + L"\\setup.exe"))
        << "the planted setup.exe was overwritten";
  };
  struct Unlink {
    std::string path;
    ~Unlink() { RunLinuxShell("rm -f \"$1\" \"$1.new\"", {path}); }
  } unlink{UnixPath(link)};
  ASSERT_TRUE(RunLinuxShell("ln -s \"$1\" \"$2\"", {UnixPath(real), unlink.path}));
  temp_ = link;
  const std::string realRoot = Narrow(real + L"\\" + kProductCode + L"\\");

  // Re-pointed from the Linux side the moment the working folder appears.
  const std::wstring ready = own_ + L"\\watching";
  ASSERT_TRUE(RunLinuxShell(
      "/usr/bin/python3 \"$1\" \"$2\" \"$3\" \"$4\" \"$5\" \"$6\" 30 >/dev/null 2>&1 & true",
      {UnixPath(HelpersDir() + L"\\repoint_link.py"), UnixPath(real), Narrow(kProductCode),
       unlink.path, UnixPath(decoy), UnixPath(ready)}));
  for (int i = 0; i < 500 && !FileExists(ready); ++i) Sleep(10);
  ASSERT_TRUE(FileExists(ready)) << "the watcher did not start";
  EXPECT_EQ(0u, Run(L"-s1").exitCode);
  // The working folder in the first target is gone: only the decoy's shows.
  ASSERT_TRUE(FolderExists(link + L"\\" + kProductCode)) << "the link was not re-pointed";
  std::vector<std::string> setups = ReportValues(Report(), "setup");
  ASSERT_EQ(1u, setups.size());
  EXPECT_TRUE(StartsWithIgnoringCase(setups[0], realRoot)) << setups[0];
  EXPECT_FALSE(FolderExists(Widen(realRoot)));
  expectDecoyUntouched();

  // Re-pointed while the removal kit runs.
  ASSERT_TRUE(RepointLink(link, real));
  const std::wstring release = own_ + L"\\release";
  HANDLE package = StartHeld(L"-u3", release);
  ASSERT_NE(nullptr, package);
  for (int i = 0; i < 3000 && ReportValues(Report(), "kpesetup").empty(); ++i) Sleep(10);
  EXPECT_TRUE(RepointLink(link, decoy));
  EXPECT_EQ(0u, Finish(package, release));
  const std::vector<std::string> kits = ReportValues(Report(), "kpesetup");
  ASSERT_EQ(1u, kits.size()) << "a planted program ran";
  EXPECT_TRUE(StartsWithIgnoringCase(kits[0], realRoot)) << kits[0];
  EXPECT_FALSE(FolderExists(Widen(realRoot)));
  expectDecoyUntouched();
}

// Scanners and indexers hold files for a moment: a file of the tree held for
// about a second after the installer ends is outlasted, and the tree goes. One
// held longer leaves the run's result as the installer's, and what stays is
// logged and registered for deletion at the next restart.
TEST_F(InstallE2eTest, FileHeldAfterTheInstallerEndsIsOutlastedOrLeftForTheRestart) {
  const std::wstring release = own_ + L"\\release";
  const std::wstring held = root_ + L"data1.cab";
  const wchar_t* kPending = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager";
  auto pendingRestart = [&] {
    HKEY key = nullptr;
    std::wstring names;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kPending, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) {
      return names;
    }
    std::vector<wchar_t> value(65536);
    DWORD bytes = static_cast<DWORD>(value.size() * sizeof(wchar_t));
    if (RegQueryValueExW(key, L"PendingFileRenameOperations", nullptr, nullptr,
                         reinterpret_cast<BYTE*>(value.data()), &bytes) == ERROR_SUCCESS) {
      names.assign(value.data(), bytes / sizeof(wchar_t));
    }
    RegCloseKey(key);
    return names;
  };
  const std::wstring pendingBefore = pendingRestart();
  env_[L"QNVPD_STANDIN_POST"] = L"3010";

  // Held for a second, or until the run has ended (released then).
  const std::wstring letGo = own_ + L"\\let-go";
  for (DWORD holdMs : {1000u, 30000u}) {
    SCOPED_TRACE(holdMs);
    DeleteFileW(letGo.c_str());
    HANDLE package =
        StartHeld(L"-s1 -LOG:" + own_ + L"\\held" + std::to_wstring(holdMs) + L".log", release);
    ASSERT_NE(nullptr, package);
    for (int i = 0; i < 3000 && !FileExists(root_ + L"setup.exe"); ++i) Sleep(10);
    const std::wstring ready = own_ + L"\\held" + std::to_wstring(holdMs);
    RunOptions holding;
    holding.arguments = L"\"" + held + L"\" \"" + ready + L"\" \"" + letGo + L"\" " +
                        std::to_wstring(holdMs);
    HANDLE holder = StartProgram(HelpersDir() + L"\\payload_holder.exe", holding);
    ASSERT_NE(nullptr, holder);
    for (int i = 0; i < 500 && !FileExists(ready); ++i) Sleep(10);
    ASSERT_TRUE(FileExists(ready)) << "the holder did not open the file";
    EXPECT_EQ(3010u, Finish(package, release)) << "the installer's result";
    WriteFileBytes(letGo, "");
    WaitForSingleObject(holder, 10000);
    CloseHandle(holder);
  }
  EXPECT_NE(std::string::npos,
            ReadFileBytes(own_ + L"\\held1000.log").find("working folder removed after "));
  const std::string text = ReadFileBytes(own_ + L"\\held30000.log");
  EXPECT_NE(std::string::npos, text.find("left after ")) << text;
  EXPECT_NE(std::string::npos,
            text.find(Narrow(held) + " (error 32: ")) << text;
  EXPECT_NE(std::string::npos, text.find("it will be deleted when Windows next starts"));
  const std::wstring pending = pendingRestart();
  EXPECT_NE(std::wstring::npos, pending.find(held)) << "data1.cab is not registered";
  EXPECT_NE(std::wstring::npos, pending.find(root_.substr(0, root_.size() - 1) + L'\0'));
  // Put back as it was: the test's prefix is not restarted, but keep it tidy.
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kPending, 0, KEY_SET_VALUE, &key) == ERROR_SUCCESS) {
    if (pendingBefore.empty()) {
      RegDeleteValueW(key, L"PendingFileRenameOperations");
    } else {
      RegSetValueExW(key, L"PendingFileRenameOperations", 0, REG_MULTI_SZ,
                     reinterpret_cast<const BYTE*>(pendingBefore.data()),
                     static_cast<DWORD>(pendingBefore.size() * sizeof(wchar_t)));
    }
    RegCloseKey(key);
  }
  DeleteTree(root_);
}

// The root is held open without FILE_SHARE_DELETE while the installer runs, so
// nobody can move it away and put another setup.exe in its place.
TEST_F(InstallE2eTest, RootCannotBeRenamedWhileTheInstallerRuns) {
  const std::wstring release = own_ + L"\\release";
  HANDLE package = StartHeld(L"-s1", release);
  ASSERT_NE(nullptr, package);
  for (int waited = 0; waited < 30000 && ReportValues(Report(), "setup").empty(); waited += 50) {
    Sleep(50);
  }
  EXPECT_EQ(1u, ReportValues(Report(), "setup").size()) << "the installer did not start";

  const std::wstring place = root_.substr(0, root_.size() - 1);
  EXPECT_FALSE(MoveFileW(place.c_str(), (own_ + L"\\moved").c_str()));
  EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), GetLastError());

  EXPECT_EQ(0u, Finish(package, release));
  EXPECT_FALSE(FolderExists(root_));
  EXPECT_FALSE(FolderExists(own_ + L"\\moved"));
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

  // The whole path is checked before the start, not only up to an ".exe ".
  UseTempFolder(own_ + L"\\a.exe b");
  EXPECT_EQ(0u, Run(L"-s1").exitCode);
  EXPECT_EQ(2u, ReportValues(Report(), "setup").size());
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
