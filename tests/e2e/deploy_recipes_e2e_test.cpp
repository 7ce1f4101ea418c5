// The batch recipes of deploy/ as cmd runs them, against the real package and
// the stand-in product installer: the line each prints or records and the exit
// code a deployment tool sees, for each outcome the package can have.
#include <windows.h>

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "package_runner.h"

namespace qnvpd_test {
namespace {

std::wstring WindowsFolder() {
  wchar_t folder[MAX_PATH] = {};
  GetWindowsDirectoryW(folder, MAX_PATH);
  return folder;
}

// A port of the product (or not) under Enum\Root\PORTS while the scope lasts.
class PortFixture {
 public:
  explicit PortFixture(const std::wstring& hardwareIds) {
    HKEY key = nullptr;
    RegCreateKeyExW(HKEY_LOCAL_MACHINE, kKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key,
                    nullptr);
    // REG_MULTI_SZ: the IDs separated by one NUL, ended by two.
    std::wstring data = hardwareIds;
    for (wchar_t& c : data) c = c == L'|' ? L'\0' : c;
    data.append(2, L'\0');
    RegSetValueExW(key, L"HardwareID", 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(data.data()),
                   static_cast<DWORD>(data.size() * sizeof(wchar_t)));
    RegCloseKey(key);
  }
  ~PortFixture() { RegDeleteTreeW(HKEY_LOCAL_MACHINE, kKey); }
  PortFixture(const PortFixture&) = delete;
  PortFixture& operator=(const PortFixture&) = delete;

 private:
  static constexpr wchar_t kKey[] = L"SYSTEM\\CurrentControlSet\\Enum\\Root\\PORTS\\QNVPDTEST";
};

class DeployRecipesE2eTest : public testing::Test {
 protected:
  void SetUp() override {
    own_ = ScratchDir() + L"\\deploy";
    DeleteTree(own_);
    ASSERT_TRUE(CreateDirectoryW(own_.c_str(), nullptr));
    CreateDirectoryW((own_ + L"\\temp").c_str(), nullptr);
    ASSERT_TRUE(CopyFileW(PackagePath().c_str(), (own_ + L"\\QNVPDSetup.exe").c_str(), FALSE));
    report_ = own_ + L"\\report.txt";
    runLog_ = WindowsFolder() + L"\\Logs\\QNVPDSetup.log";
    record_ = WindowsFolder() + L"\\Logs\\QNVPDSetup-startup.txt";
    DeleteFileW(record_.c_str());
  }

  // The recipe, with each named setting line (set "<name>=...") given another
  // value, as an administrator adapts it, written beside the package copy.
  std::wstring Adapt(const wchar_t* recipe, const std::map<std::string, std::string>& settings) {
    std::string text = ReadFileBytes(EnvironmentValue(L"QNVPD_DEPLOY") + L"\\" + recipe);
    EXPECT_FALSE(text.empty()) << Narrow(recipe);
    for (const auto& setting : settings) {
      const size_t at = text.find("\nset \"" + setting.first + "=");
      if (at == std::string::npos) {
        ADD_FAILURE() << Narrow(recipe) << " has no setting " << setting.first;
        continue;
      }
      const size_t end = text.find_first_of("\r\n", at + 1);
      text.replace(at + 1, end - at - 1, "set \"" + setting.first + "=" + setting.second + "\"");
    }
    std::wstring name = recipe;
    const std::wstring path = own_ + L"\\" + name.substr(name.find_last_of(L'\\') + 1);
    WriteFileBytes(path, text);
    return path;
  }

  struct Outcome {
    DWORD exitCode;
    std::string output;   // what the script printed
    std::string runLog;   // the package's run log
  };

  // Runs the script in cmd with the stand-in's knobs (post, exit code).
  Outcome Run(const std::wstring& script, const wchar_t* post = L"", const wchar_t* exit = L"") {
    DeleteFileW(report_.c_str());
    // Under Wine a run leaves a log it did not make alone (the owner it reads
    // back is the user's), so each run gets a new one.
    DeleteFileW(runLog_.c_str());
    const std::wstring output = own_ + L"\\output.txt";
    RunOptions options;
    options.arguments = L"/c \"\"" + script + L"\" >\"" + output + L"\" 2>&1\"";
    options.tempFolder = own_ + L"\\temp";
    options.env = {{L"QNVPD_STANDIN_REPORT", report_},
                   {L"QNVPD_STANDIN_POST", post},
                   {L"QNVPD_STANDIN_EXIT", exit}};
    RunResult run = RunProgram(WindowsFolder() + L"\\system32\\cmd.exe", options);
    EXPECT_FALSE(run.timedOut);
    return {run.exitCode, ReadFileBytes(output), ReadFileBytes(runLog_)};
  }

  bool InstallerRan() const { return FileExists(report_); }

  std::wstring own_, report_, runLog_, record_;
};

TEST_F(DeployRecipesE2eTest, InstallScriptSaysWhatEachOutcomeMeansAndPassesTheCodeOn) {
  const std::string marker = Narrow(own_) + "\\restarted.txt";
  const std::wstring script = Adapt(L"install-qnvpd.cmd",
      {{"restart_after_3010", "cmd /c echo restart>\"" + marker + "\""}});
  const struct {
    const wchar_t* post;
    const wchar_t* exit;
    DWORD code;
    const char* line;
    bool restart;
  } outcomes[] = {
      {L"", L"", 0, "QN Virtual Port Driver: installed.", false},
      {L"3010", L"", 3010, "QN Virtual Port Driver: installed; a restart completes", true},
      {L"1641", L"", 1641, "QN Virtual Port Driver: installed; the installer has started", false},
      {L"1603", L"", 1603, "QN Virtual Port Driver: failed: the installer reported 1603.", false},
      {L"", L"0xC0000005", 1001, "QN Virtual Port Driver: the installation failed;", false},
  };
  for (const auto& o : outcomes) {
    SCOPED_TRACE(Narrow(std::wstring(o.post) + L"/" + o.exit));
    DeleteFileW(Widen(marker).c_str());
    Outcome run = Run(script, o.post, o.exit);
    EXPECT_EQ(o.code, run.exitCode);
    EXPECT_EQ(0u, run.output.find(o.line)) << run.output;
    EXPECT_EQ(o.restart, FileExists(Widen(marker))) << "the restart belongs to 3010 only";
    EXPECT_NE(std::string::npos, run.runLog.find("] exit code " + std::to_string(o.code)))
        << "the -LOG: value reached the package: " << run.runLog;
  }
  // The installer's argument holds the whole command line, -LOG: included.
  const auto lines = ReportValues(ReadReport(report_), "setup.commandline");
  ASSERT_EQ(1u, lines.size());
  const std::string tail = " -s1 -QN:COM3 -VD:COM4 -LOG:" + Narrow(WindowsFolder()) +
                           "\\Logs\\QNVPDSetup.log\"";
  EXPECT_EQ(lines[0].size() - tail.size(), lines[0].rfind(tail)) << lines[0];
}

TEST_F(DeployRecipesE2eTest, InstallScriptReportsASecondCopyAsRetryLater) {
  // The name the package's copies share: while it exists, every run ends with 101.
  HANDLE other = CreateMutexW(nullptr, FALSE, L"QN Virtual Port Driver Installer");
  ASSERT_NE(nullptr, other);
  Outcome run = Run(Adapt(L"install-qnvpd.cmd", {}));
  CloseHandle(other);
  EXPECT_EQ(101u, run.exitCode);
  EXPECT_EQ(0u, run.output.find("QN Virtual Port Driver: another installation is running"))
      << run.output;
  EXPECT_FALSE(InstallerRan());
}

TEST_F(DeployRecipesE2eTest, StartupScriptInstallsOnceFromALocalCopy) {
  const std::wstring share = own_ + L"\\share";
  CreateDirectoryW(share.c_str(), nullptr);
  ASSERT_TRUE(CopyFileW(PackagePath().c_str(), (share + L"\\QNVPDSetup.exe").c_str(), FALSE));
  const std::wstring script = Adapt(L"group-policy\\qnvpd-startup.cmd", {{"share", Narrow(share)}});
  const std::wstring stage = WindowsFolder() + L"\\QNVPDSetup-stage";

  // The product's port by its first hardware ID, in any case: nothing to do.
  for (const wchar_t* ids : {L"UMDF\\KavroPortEmulator|second", L"umdf\\kavroportemulator"}) {
    PortFixture port(ids);
    Outcome run = Run(script);
    EXPECT_EQ(0u, run.exitCode) << Narrow(ids);
    EXPECT_FALSE(InstallerRan()) << Narrow(ids);
  }
  EXPECT_FALSE(FileExists(record_)) << "a start that does nothing records nothing";

  // Only a later ID matches, as with no port at all: installs, from the copy.
  PortFixture other(L"other|UMDF\\KavroPortEmulator");
  Outcome run = Run(script, L"3010");
  EXPECT_EQ(3010u, run.exitCode);
  EXPECT_TRUE(InstallerRan());
  EXPECT_NE(std::string::npos,
            run.runLog.find("command line: \"" + Narrow(stage) + "\\QNVPDSetup.exe\" -s1"))
      << run.runLog;
  EXPECT_FALSE(FolderExists(stage)) << "the copy is deleted";
  const std::string record = ReadFileBytes(record_);
  EXPECT_NE(std::string::npos, record.find(" exit code 3010\r\n")) << record;
}

TEST_F(DeployRecipesE2eTest, StartupScriptRunsNothingItCouldNotCopyOrCheck) {
  const std::wstring share = own_ + L"\\share";
  CreateDirectoryW(share.c_str(), nullptr);
  const std::wstring stage = WindowsFolder() + L"\\QNVPDSetup-stage";
  const struct {
    bool packageOnShare;
    const char* sha256;
    const char* recorded;
  } refusals[] = {
      {false, "", "QNVPDSetup.exe failed; not run"},
      // Any hash but the package's (Wine's certutil prints none, Windows' another).
      {true, "00112233445566778899aabbccddeeff00112233445566778899aabbccddeeff",
       "does not have the expected SHA-256; not run"},
  };
  for (const auto& r : refusals) {
    SCOPED_TRACE(r.recorded);
    if (r.packageOnShare) {
      ASSERT_TRUE(CopyFileW(PackagePath().c_str(), (share + L"\\QNVPDSetup.exe").c_str(), FALSE));
    }
    DeleteFileW(record_.c_str());
    Outcome run = Run(Adapt(L"group-policy\\qnvpd-startup.cmd",
                            {{"share", Narrow(share)}, {"sha256", r.sha256}}));
    EXPECT_EQ(1u, run.exitCode);
    EXPECT_FALSE(InstallerRan());
    EXPECT_FALSE(FolderExists(stage));
    EXPECT_NE(std::string::npos, ReadFileBytes(record_).find(r.recorded)) << ReadFileBytes(record_);
  }
}

}  // namespace
}  // namespace qnvpd_test
