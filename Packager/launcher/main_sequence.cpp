#include "launcher/main_sequence.h"

#include <commctrl.h>

#include <string>

#include "carryover/ports_file.h"
#include "checks/administrator.h"
#include "checks/os_version.h"
#include "checks/single_instance.h"
#include "launch/child_command_line.h"
#include "launch/launch_and_wait.h"
#include "launch/removal_run.h"
#include "launcher/command_line.h"
#include "launcher/messages.h"
#include "launcher/notify_window.h"
#include "launcher/process_state.h"
#include "launcher/result_codes.h"
#include "launcher/string_table.h"
#include "payload/extraction_root.h"
#include "payload/install_extraction.h"

namespace qnvpd {

namespace {

constexpr UINT kWindowTitleId = 60;
constexpr UINT kInstanceNameId = 111;

LANGID SystemUserLanguage() { return GetUserDefaultLangID(); }

int SystemIsOsSupported(int kmFlag) { return IsOsSupported(kmFlag); }

void SystemShowMessage(const wchar_t* text) {
  MessageBoxW(nullptr, text, kMessageCaption, MB_ICONERROR);
}

}  // namespace

SequenceHooks SystemHooks() {
  SequenceHooks hooks;
  hooks.userLanguage = SystemUserLanguage;
  hooks.isOsSupported = SystemIsOsSupported;
  hooks.isAnotherInstanceRunning = IsAnotherInstanceRunning;
  hooks.isAdministrator = IsAdministrator;
  hooks.createNotifyWindow = CreateNotifyWindow;
  hooks.showMessage = SystemShowMessage;
  hooks.runInstall = RunInstall;
  hooks.runRemoval = RunRemoval;
  return hooks;
}

int RunInstall(const wchar_t* commandLine) {
  PreparedRoot prepared;
  if (!prepared.Prepare()) return kResultInstallFailed;  // no folder of our own to write into
  const std::wstring& root = prepared.Path();
  std::wstring setupPath;
  switch (ExtractInstallPayload(root, &setupPath)) {
    case InstallExtraction::Ready:
      break;
    case InstallExtraction::SetupMissing:
      // Left in place: what was written shows what the package carried.
      return kResultInstallFailed;
    case InstallExtraction::PathTooLong:
    case InstallExtraction::WriteFailed:
      // Most likely a full disk: give the space back.
      prepared.Remove();
      return kResultInstallFailed;
  }
  // Without the file the installer would silently drop the user's port settings.
  if (!WritePortsFile(root)) {
    prepared.Remove();
    return kResultInstallFailed;
  }
  std::wstring arguments =
      ComposeInstallArguments(g_state.installerOptions, g_state.notifyToken, commandLine);
  int launched = LaunchAndWait(setupPath, arguments, g_state.notifyWindow);
  prepared.Remove();
  return launched == 2 ? kResultInstallFailed : kResultOk;
}

int RunMainSequence(HINSTANCE instance, const wchar_t* commandLine,
                    const SequenceHooks& hooks) {
  if (commandLine == nullptr) commandLine = L"";

  INITCOMMONCONTROLSEX icc = {};
  icc.dwSize = sizeof icc;
  icc.dwICC = 0xFF;
  InitCommonControlsEx(&icc);

  int result = kResultOk;
  g_state.postedExitCode = 0;
  g_state.kmFlag = 0;

  LANGID language = hooks.userLanguage();
  InitMessageTexts(language);
  const int runMode = ParseRunMode(commandLine, language, &g_state.installerOptions);
  const bool showBoxes = runMode == kRunInteractive;
  g_state.kmFlag = HasKmSwitch(commandLine);

  if (!hooks.isOsSupported(g_state.kmFlag)) {
    if (showBoxes) hooks.showMessage(GetMessageText(kResultUnsupportedOs).c_str());
    return kResultUnsupportedOs;
  }

  LoadStringW(instance, kWindowTitleId, g_state.windowTitle, 100);
  LoadStringW(instance, kInstanceNameId, g_state.className, 100);
  RegisterNotifyWindowClass(instance);
  if (!hooks.createNotifyWindow(instance)) {
    // Nothing was installed: that is a failure, not a success.
    if (showBoxes) hooks.showMessage(GetMessageText(kResultInstallFailed).c_str());
    return kResultInstallFailed;
  }
  g_state.notifyToken = FormatNotifyToken(g_state.notifyWindow);

  std::wstring instanceName = LoadStringInUserLanguage(kInstanceNameId);
  if (hooks.isAnotherInstanceRunning(instanceName.c_str())) result = kResultAlreadyRunning;
  if (result == kResultOk && !hooks.isAdministrator()) result = kResultNotAdministrator;

  int qnPort = 0;
  int vdPort = 0;
  ParsePortOptions(commandLine, runMode, &qnPort, &vdPort);
  int conflict = CheckPortConflict(qnPort, vdPort);
  if (conflict != kResultOk) result = conflict;

  if (result != kResultOk) {
    if (showBoxes) hooks.showMessage(GetMessageText(result).c_str());
    return result;
  }

  result = runMode == kRunRemoval ? hooks.runRemoval(g_state.notifyWindow)
                                  : hooks.runInstall(commandLine);

  if (result != kResultOk) {
    // A launch that failed late has already announced the child's end; left in
    // the queue, that request (or the quit message standing in for it) would
    // close the box before anyone could read it.
    MSG pending;
    while (PeekMessageW(&pending, g_state.notifyWindow, kQuitRequest, kQuitRequest, PM_REMOVE)) {
    }
    while (PeekMessageW(&pending, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) {
    }
    if (showBoxes) hooks.showMessage(GetMessageText(result).c_str());
    DestroyWindow(g_state.notifyWindow);
    return result;
  }
  return RunMessageLoop();
}

}  // namespace qnvpd
