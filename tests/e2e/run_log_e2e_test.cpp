// The run log end to end: switched on by the machine policy (in the 64-bit
// registry view, where Group Policy writes it), appended to by every run, and
// never able to change a run.
#include <windows.h>

#include <gtest/gtest.h>

#include <iterator>
#include <string>
#include <vector>

#include "carried_files.h"
#include "package_runner.h"

namespace qnvpd_test {
namespace {

constexpr wchar_t kPolicyKey[] = L"SOFTWARE\\Policies\\KAVRO\\QNVPDSetup";

void SetLogPolicy(const std::wstring* logFile) {
  HKEY key = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_LOCAL_MACHINE, kPolicyKey, 0, nullptr, 0,
                                           KEY_SET_VALUE | KEY_WOW64_64KEY, nullptr, &key,
                                           nullptr));
  if (logFile == nullptr) {
    RegDeleteValueW(key, L"LogFile");
  } else {
    RegSetValueExW(key, L"LogFile", 0, REG_EXPAND_SZ,
                   reinterpret_cast<const BYTE*>(logFile->c_str()),
                   static_cast<DWORD>((logFile->size() + 1) * sizeof(wchar_t)));
  }
  RegCloseKey(key);
}

std::vector<std::string> Lines(const std::wstring& path) {
  std::vector<std::string> lines;
  const std::string text = ReadFileBytes(path);
  size_t start = 0;
  for (size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2) {
    lines.push_back(text.substr(start, end - start));
  }
  EXPECT_EQ(start, text.size()) << "the log ends in a partial line";
  return lines;
}

// The first line holding every one of `parts`, or "" when there is none.
std::string LineWith(const std::vector<std::string>& lines, std::vector<std::string> parts) {
  for (const std::string& line : lines) {
    bool all = true;
    for (const std::string& part : parts) all = all && line.find(part) != std::string::npos;
    if (all) return line;
  }
  return std::string();
}

class RunLogE2eTest : public testing::Test {
 protected:
  void SetUp() override {
    static int serial = 0;
    own_ = ScratchDir() + L"\\runlog" + std::to_wstring(++serial);
    DeleteTree(own_);
    ASSERT_TRUE(CreateDirectoryW(own_.c_str(), nullptr));
    temp_ = own_ + L"\\temp";
    CreateDirectoryW(temp_.c_str(), nullptr);
    root_ = temp_ + L"\\" + kProductCode + L"\\";
    report_ = own_ + L"\\report.txt";
    log_ = own_ + L"\\logs\\setup.log";
    CreateDirectoryW((own_ + L"\\logs").c_str(), nullptr);
    SetLogPolicy(&log_);
    env_[L"QNVPD_STANDIN_REPORT"] = report_;
  }
  void TearDown() override { SetLogPolicy(nullptr); }

  RunResult Run(const std::wstring& arguments, const std::wstring& package = PackagePath()) {
    RunOptions options;
    options.arguments = arguments;
    options.tempFolder = temp_;
    options.env = env_;
    return RunProgram(package, options);
  }

  std::wstring own_, temp_, root_, report_, log_;
  std::map<std::wstring, std::wstring> env_;
};

// The second run finds a log owned by the user's own account: Wine reports
// every file as its one user's, and the token gives new objects another owner
// (as an elevated administrator's does: Administrators, so on Windows the
// package's own log is appended to, see RunLogFile). A file the user's
// unelevated programs could have made is left alone, and the run is the same.
TEST_F(RunLogE2eTest, SuccessfulRunIsRecordedAndALogOfTheUsersOwnIsLeftAlone) {
  env_[L"QNVPD_STANDIN_POST"] = L"42";
  ASSERT_EQ(42u, Run(L"-s1 -QN:COM3").exitCode);
  const std::string firstRun = ReadFileBytes(log_);
  ASSERT_EQ(42u, Run(L"-u1").exitCode);
  EXPECT_EQ(2u, ReportValues(ReadReport(report_), "setup").size()) << "both runs installed";
  EXPECT_EQ(firstRun, ReadFileBytes(log_));

  const std::vector<std::string> lines = Lines(log_);
  const std::string pid = ReportValues(ReadReport(report_), "setup.pid").at(0);
  EXPECT_NE("", LineWith(lines, {"start: package 7.2.10.0", "-s1 -QN:COM3", "run mode 1"}));
  EXPECT_NE("", LineWith(lines, {"check: port options QN 3, VD 0"}));
  EXPECT_NE("", LineWith(lines, {"working folder: ", Narrow(root_)}));
  EXPECT_NE("", LineWith(lines, {"payload written: " + std::to_string(std::size(kCarried)) +
                                 " files"}));
  EXPECT_NE("", LineWith(lines, {"PORTS.dat written: [PORTS] 0 lines, [QNVPD] 0 lines"}));
  EXPECT_NE("", LineWith(lines, {"started setup.exe: process " + pid,
                                 "setup.exe\" /clone_wait /hide_progress", "/W32:"}));
  EXPECT_NE("", LineWith(lines, {"setup.exe ended: exit code 0"}));
  EXPECT_NE("", LineWith(lines, {"installer reported result 42"}));
  EXPECT_NE("", LineWith(lines, {"working folder removed"}));
  ASSERT_FALSE(lines.empty());
  EXPECT_NE(std::string::npos, lines.back().find("exit code 42"));
}

TEST_F(RunLogE2eTest, FailingRunsNameTheirCause) {
  EXPECT_EQ(1001u, Run(L"-u1", VariantPackagePath(L"nosetup")).exitCode);
  std::vector<std::string> lines = Lines(log_);
  EXPECT_NE("", LineWith(lines, {"setup.exe is missing from the package"}));
  EXPECT_NE(std::string::npos, lines.back().find("exit code 1001"));

  DeleteFileW(log_.c_str());
  env_[L"QNVPD_STANDIN_EXIT"] = L"2";
  EXPECT_EQ(1001u, Run(L"-u1").exitCode);
  lines = Lines(log_);
  EXPECT_NE("", LineWith(lines, {"setup.exe ended: exit code 2"}));
  EXPECT_NE("", LineWith(lines, {"the installation failed"}));
  EXPECT_NE(std::string::npos, lines.back().find("exit code 1001"));
}

TEST_F(RunLogE2eTest, RemovalRunIsRecorded) {
  ASSERT_EQ(0u, Run(L"-u3").exitCode);
  const std::vector<std::string> lines = Lines(log_);
  EXPECT_NE("", LineWith(lines, {"start: package", "-u3", "run mode 3"}));
  EXPECT_NE("", LineWith(lines, {"removal kit written: 3 files"}));
  EXPECT_NE("", LineWith(lines, {"calling the removal library's entry"}));
  EXPECT_NE("", LineWith(lines, {"started KPESetup", ".exe\" /9"}));
  EXPECT_NE("", LineWith(lines, {"maker's folder", "\\KAVRO"}));
  ASSERT_FALSE(lines.empty());
  EXPECT_NE(std::string::npos, lines.back().find("exit code 0"));
}

// A policy naming a missing folder, or a variable only the process has (an
// unelevated user can set it before the elevation: the policy is expanded
// from the system's own values), or no policy at all: no log, same run.
TEST_F(RunLogE2eTest, LogThatCannotBeWrittenOrIsNotAskedForChangesNothing) {
  env_[L"QNVPD_STANDIN_POST"] = L"7";
  const std::wstring missing = own_ + L"\\no such folder\\setup.log";
  SetLogPolicy(&missing);
  EXPECT_EQ(7u, Run(L"-u1").exitCode);
  EXPECT_EQ(1u, ReportValues(ReadReport(report_), "setup").size()) << "the installer ran once";
  EXPECT_FALSE(FolderExists(own_ + L"\\no such folder"));
  EXPECT_FALSE(FolderExists(root_));

  const std::wstring steered = L"%QNVPD_TEST_LOGS%\\setup.log";
  SetLogPolicy(&steered);
  env_[L"QNVPD_TEST_LOGS"] = own_ + L"\\logs";
  EXPECT_EQ(7u, Run(L"-u1").exitCode);
  SetLogPolicy(nullptr);
  EXPECT_EQ(7u, Run(L"-u1").exitCode);
  EXPECT_FALSE(FileExists(log_));
}

// -LOG: names this run's log, in place of the policy's; its value, quoted or
// not, relative or not, takes no part in choosing the run, and the installer
// still gets the whole command line. One that cannot be opened changes nothing.
TEST_F(RunLogE2eTest, LogSwitchNamesTheLogAndNothingElse) {
  env_[L"QNVPD_STANDIN_POST"] = L"42";
  const std::wstring quoted = own_ + L"\\Deploy Logs\\qn-u3.log";
  ASSERT_TRUE(CreateDirectoryW((own_ + L"\\Deploy Logs").c_str(), nullptr));
  const std::wstring switchText = L"-LOG:\"" + quoted + L"\"";
  EXPECT_EQ(42u, Run(L"-s1 -QN:COM3 " + switchText).exitCode);
  std::vector<std::string> lines = Lines(quoted);
  ASSERT_FALSE(lines.empty());
  EXPECT_NE(std::string::npos, lines[0].find("run log: " + Narrow(quoted) + ", named by -LOG:"));
  EXPECT_NE("", LineWith(lines, {"start: package", "run mode 1"}));
  EXPECT_NE("", LineWith(lines, {"check: port options QN 3, VD 0"}));
  EXPECT_NE(std::string::npos,
            ReportValues(ReadReport(report_), "setup.commandline").at(0).find(Narrow(switchText)));

  RunOptions options;
  options.arguments = L"-s1 -LOG:logs\\qn-u3.log";  // from the current folder
  options.tempFolder = temp_;
  options.env = env_;
  options.currentFolder = own_;
  EXPECT_EQ(42u, RunProgram(PackagePath(), options).exitCode);
  lines = Lines(own_ + L"\\logs\\qn-u3.log");
  ASSERT_FALSE(lines.empty());
  EXPECT_NE(std::string::npos, lines[0].find("run log: " + Narrow(own_) + "\\logs\\qn-u3.log"));
  EXPECT_NE("", LineWith(lines, {"start: package", "run mode 1"}));

  EXPECT_EQ(42u, Run(L"-u1 -LOG:" + own_ + L"\\missing\\qn.log").exitCode);
  EXPECT_FALSE(FolderExists(own_ + L"\\missing"));

  // Variables in the value are the caller's, expanded by the package where no
  // shell did it (a deployment tool's argument field); the installer gets the
  // command line as it was given.
  env_[L"QNVPD_TEST_LOGS"] = own_ + L"\\logs";
  EXPECT_EQ(42u, Run(L"-s1 -LOG:%QNVPD_TEST_LOGS%\\qn-env.log").exitCode);
  lines = Lines(own_ + L"\\logs\\qn-env.log");
  ASSERT_FALSE(lines.empty());
  EXPECT_NE(std::string::npos, lines[0].find("run log: " + Narrow(own_) + "\\logs\\qn-env.log"));
  const std::string received = ReportValues(ReadReport(report_), "setup.commandline").back();
  const std::string tail = ":1024 -s1 -LOG:%QNVPD_TEST_LOGS%\\qn-env.log\"";
  EXPECT_EQ(received.size() - tail.size(), received.rfind(tail)) << received;

  const auto report = ReadReport(report_);
  EXPECT_EQ(4u, ReportValues(report, "setup").size()) << "four install runs";
  EXPECT_TRUE(ReportValues(report, "kpesetup").empty()) << "no removal run";
  EXPECT_FALSE(FileExists(log_)) << "the policy's log is not written while -LOG: is given";
}

// Neither a folder link on the log's path nor a pipe's name is written
// through, and the run is the same as without a log. (A second name of a file
// is refused the same way, see RunLogFile.)
TEST_F(RunLogE2eTest, LogThroughAFolderLinkOrToAPipeStaysOff) {
  env_[L"QNVPD_STANDIN_POST"] = L"7";
  const std::wstring target = own_ + L"\\target";
  ASSERT_TRUE(CreateDirectoryW(target.c_str(), nullptr));
  {
    LinuxFolderLink link(target, own_ + L"\\link");
    ASSERT_TRUE(link.Made());
    ASSERT_NE(0u, GetFileAttributesW((own_ + L"\\link").c_str()) & FILE_ATTRIBUTE_REPARSE_POINT);
    const std::wstring throughLink = own_ + L"\\link\\setup.log";
    SetLogPolicy(&throughLink);
    EXPECT_EQ(7u, Run(L"-u1").exitCode);
  }
  EXPECT_EQ(0u, CountEntries(target)) << "nothing behind the link";

  // Opening a pipe's name would connect to its server, and the server could
  // then act in the package's name.
  const std::wstring pipeName =
      L"\\\\.\\pipe\\qnvpd-log-" + std::to_wstring(GetCurrentProcessId());
  HANDLE pipe = CreateNamedPipeW(pipeName.c_str(), PIPE_ACCESS_INBOUND | FILE_FLAG_OVERLAPPED, 0,
                                 1, 0, 4096, 0, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, pipe);
  OVERLAPPED waiting = {};
  waiting.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  EXPECT_FALSE(ConnectNamedPipe(pipe, &waiting));
  EXPECT_EQ(static_cast<DWORD>(ERROR_IO_PENDING), GetLastError());
  SetLogPolicy(&pipeName);
  EXPECT_EQ(7u, Run(L"-u1").exitCode);
  EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), WaitForSingleObject(waiting.hEvent, 0))
      << "the package connected to the pipe";
  CancelIo(pipe);
  DWORD transferred = 0;
  GetOverlappedResult(pipe, &waiting, &transferred, TRUE);
  CloseHandle(waiting.hEvent);
  CloseHandle(pipe);
  EXPECT_EQ(2u, ReportValues(ReadReport(report_), "setup").size()) << "both runs installed";
  EXPECT_FALSE(FileExists(log_));
}

// A full drive as the temporary folder: the log says which file could not be
// written and why (mounted by the full-drive fixtures; skips without them).
TEST_F(RunLogE2eTest, FullDriveIsNamedWithTheSystemsError) {
  const std::wstring drive = FullDrive(L"QNVPD_DISKFULL_DRIVE");
  if (drive.empty()) GTEST_SKIP() << "no disk-full drive";
  DeleteTree(drive + kProductCode);
  temp_ = drive;
  EXPECT_EQ(1001u, Run(L"-u1").exitCode);
  const std::vector<std::string> lines = Lines(log_);
  EXPECT_NE("", LineWith(lines, {"failed", "error 112"}));
  EXPECT_NE(std::string::npos, lines.back().find("exit code 1001"));
}

}  // namespace
}  // namespace qnvpd_test
