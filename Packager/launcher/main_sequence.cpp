#include "launcher/main_sequence.h"

#include <commctrl.h>

#include <cstring>
#include <string>

#include "checks/administrator.h"
#include "checks/os_version.h"
#include "checks/single_instance.h"
#include "checks/wow64.h"
#include "launch/install_run.h"
#include "launch/removal_run.h"
#include "launcher/child_channel.h"
#include "launcher/command_line.h"
#include "launcher/messages.h"
#include "phase_times.h"
#include "result_codes.h"
#include "run_log.h"
#include "string_table.h"

namespace qnvpd {

namespace {

constexpr UINT kWindowTitleId = 60;
constexpr UINT kInstanceNameId = 111;
constexpr int kStringCapacity = 100;  // the window title's and class name's buffers

LANGID SystemUserLanguage() { return GetUserDefaultLangID(); }

int SystemIsOsSupported(int kmFlag) { return IsOsSupported(kmFlag); }

InstanceCheck SystemCheckSingleInstance(const wchar_t* name) { return CheckSingleInstance(name); }

void SystemShowMessage(const wchar_t* text) {
  MessageBoxW(nullptr, text, kMessageCaption, MB_ICONERROR);
}

}  // namespace

SequenceHooks SystemHooks() {
  SequenceHooks hooks;
  hooks.userLanguage = SystemUserLanguage;
  hooks.isOsSupported = SystemIsOsSupported;
  hooks.checkSingleInstance = SystemCheckSingleInstance;
  hooks.isAdministrator = IsAdministrator;
  hooks.createNotifyWindow = CreateNotifyWindow;
  hooks.showMessage = SystemShowMessage;
  hooks.runInstall = RunInstall;
  hooks.runRemoval = RunRemoval;
  return hooks;
}

namespace {

// The file version of the running package from its version resource, "a.b.c.d";
// empty when it cannot be read.
std::wstring PackageFileVersion() {
  HRSRC found = FindResourceW(nullptr, MAKEINTRESOURCEW(VS_VERSION_INFO), RT_VERSION);
  HGLOBAL loaded = found != nullptr ? LoadResource(nullptr, found) : nullptr;
  const BYTE* block = loaded != nullptr ? static_cast<const BYTE*>(LockResource(loaded)) : nullptr;
  if (block == nullptr) return std::wstring();
  const DWORD size = SizeofResource(nullptr, found);
  // The fixed part sits on a 4-byte boundary after the block's key; its
  // signature finds it without walking the block's variable-length header.
  for (DWORD offset = 0; offset + sizeof(VS_FIXEDFILEINFO) <= size; offset += 4) {
    VS_FIXEDFILEINFO info;
    std::memcpy(&info, block + offset, sizeof info);
    if (info.dwSignature != VS_FFI_SIGNATURE) continue;
    return std::to_wstring(HIWORD(info.dwFileVersionMS)) + L"." +
           std::to_wstring(LOWORD(info.dwFileVersionMS)) + L"." +
           std::to_wstring(HIWORD(info.dwFileVersionLS)) + L"." +
           std::to_wstring(LOWORD(info.dwFileVersionLS));
  }
  return std::wstring();
}

// The -LOG: value with its %variables% expanded from this process's
// environment, as a shell would have: deployment tools hand the value over
// without a shell, and the caller sets both the command line and the
// environment. Empty when the expansion fails or is longer than a path can be.
std::wstring ExpandSwitchValue(const std::wstring& value) {
  constexpr DWORD kCapacity = 32768;
  std::wstring expanded(kCapacity, L'\0');
  const DWORD needed = ExpandEnvironmentStringsW(value.c_str(), &expanded[0], kCapacity);
  if (needed == 0 || needed > kCapacity) return std::wstring();
  expanded.resize(needed - 1);
  return expanded;
}

// The log of this run: the -LOG: switch's file, else the one the machine
// policy names (read in the registry view Group Policy writes on this system).
// Stays off when there is neither or it cannot be opened; the switch's file is
// used even then, so that a caller's own log never goes elsewhere.
void OpenRunLog(const std::wstring& switchPath, RunLog* log) {
  const bool fromSwitch = !switchPath.empty();
  const std::wstring path = fromSwitch ? ExpandSwitchValue(switchPath)
                                       : ReadLogPolicy(IsWow64() ? KEY_WOW64_64KEY : 0);
  if (path.empty() || !log->Open(path)) return;
  log->Write(L"run log: " + log->Path() +
             (fromSwitch ? L", named by -LOG:" : L", named by the machine policy"));
}

void ShowFailure(const SequenceHooks& hooks, bool showBoxes, int result, LANGID language,
                 const RunLog& log) {
  if (!showBoxes) return;
  const std::wstring text = MessageText(result, language);
  log.Write(L"message box: " + text);
  hooks.showMessage(text.c_str());
}

// Everything from the checks to the end of the run; returns the exit code.
// The switches are looked for in `switchText`, the command line without the
// -LOG: value; the installer is given the whole `commandLine`.
int RunChecksAndWork(HINSTANCE instance, const wchar_t* commandLine, const wchar_t* switchText,
                     const SequenceHooks& hooks, const RunLog& log) {
  int result = kResultOk;
  RunContext context;
  context.commandLine = commandLine;
  context.runLog = &log;
  context.language = hooks.userLanguage();
  const LANGID language = context.language;
  context.runMode = ParseRunMode(switchText, language, &context.installerOptions);
  const bool showBoxes = context.runMode == kRunInteractive;
  if (log.IsOn()) {
    log.Write(L"start: package " + PackageFileVersion() + L", command line: " + GetCommandLineW() +
              L", user language " + std::to_wstring(language) + L", run mode " +
              std::to_wstring(context.runMode));
  }

  const int kmFlag = HasKmSwitch(switchText);
  if (!hooks.isOsSupported(kmFlag)) {
    log.Write(std::wstring(L"check: Windows version not supported") +
              (kmFlag ? L" (with -KM)" : L""));
    ShowFailure(hooks, showBoxes, kResultUnsupportedOs, language, log);
    return kResultUnsupportedOs;
  }
  MarkPhase("startup");
  log.Write(L"check: Windows version supported");

  wchar_t windowTitle[kStringCapacity] = {};
  wchar_t className[kStringCapacity] = {};
  LoadStringW(instance, kWindowTitleId, windowTitle, kStringCapacity);
  LoadStringW(instance, kInstanceNameId, className, kStringCapacity);
  ChildChannel channel;
  if (!channel.Open(instance, className, windowTitle, hooks.createNotifyWindow)) {
    log.Failure(L"creating the notification window", GetLastError());
    // Nothing was installed: that is a failure, not a success.
    ShowFailure(hooks, showBoxes, kResultInstallFailed, language, log);
    return kResultInstallFailed;
  }
  context.childLink = &channel;
  MarkPhase("window");

  std::wstring instanceName = LoadProgramString(kInstanceNameId, language);
  switch (hooks.checkSingleInstance(instanceName.c_str())) {
    case InstanceCheck::kAlone:
      log.Write(L"check: no other copy of the package is running");
      break;
    case InstanceCheck::kAloneNameTaken:
      log.Write(L"check: no other copy of the package is running; the name \"" + instanceName +
                L"\" is taken by an object no copy of the package made, and a mutex in the "
                L"package's private namespace guards this run instead");
      break;
    case InstanceCheck::kAnotherCopy:
      log.Write(L"check: another copy of the package is running");
      result = kResultAlreadyRunning;
      break;
    case InstanceCheck::kNoGuard:
      log.Write(L"check: the single-instance mutex \"" + instanceName +
                L"\" could not be created; the run stops as if another copy were running");
      result = kResultAlreadyRunning;
      break;
  }
  if (result == kResultOk) {
    if (hooks.isAdministrator()) {
      log.Write(L"check: a member of the Administrators group");
    } else {
      log.Write(L"check: not a member of the Administrators group");
      result = kResultNotAdministrator;
    }
  }

  int qnPort = 0;
  int vdPort = 0;
  ParsePortOptions(switchText, context.runMode, &qnPort, &vdPort);
  int conflict = CheckPortConflict(qnPort, vdPort);
  if (context.runMode == kRunSilentWithPorts && log.IsOn()) {
    log.Write(L"check: port options QN " + std::to_wstring(qnPort) + L", VD " +
              std::to_wstring(vdPort) +
              (conflict == kResultSamePort      ? L": the same port for both"
               : conflict == kResultVdWithoutQn ? L": a VD port without a QN port"
                                                : L""));
  }
  if (conflict != kResultOk) result = conflict;

  if (result != kResultOk) {
    ShowFailure(hooks, showBoxes, result, language, log);
    return result;
  }
  MarkPhase("checks");

  result = context.runMode == kRunRemoval ? hooks.runRemoval(context) : hooks.runInstall(context);

  if (result != kResultOk) {
    channel.DrainBeforeFailureBox();
    ShowFailure(hooks, showBoxes, result, language, log);
    channel.Close();
    return result;
  }
  return channel.RunMessageLoop(log);
}

}  // namespace

int RunMainSequence(HINSTANCE instance, const wchar_t* commandLine,
                    const SequenceHooks& hooks) {
  if (commandLine == nullptr) commandLine = L"";

  INITCOMMONCONTROLSEX icc = {};
  icc.dwSize = sizeof icc;
  icc.dwICC = 0xFF;
  InitCommonControlsEx(&icc);

  const LogSwitch logSwitch = ParseLogSwitch(commandLine);
  RunLog log;
  OpenRunLog(logSwitch.path, &log);
  const int exitCode =
      RunChecksAndWork(instance, commandLine, logSwitch.switchText.c_str(), hooks, log);
  log.Write(L"exit code " + std::to_wstring(exitCode));
  return exitCode;
}

}  // namespace qnvpd
