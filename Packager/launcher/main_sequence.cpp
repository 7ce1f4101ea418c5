#include "launcher/main_sequence.h"

#include <commctrl.h>

#include <string>

#include "checks/administrator.h"
#include "checks/os_version.h"
#include "checks/single_instance.h"
#include "launch/child_protocol.h"
#include "launch/install_run.h"
#include "launch/removal_run.h"
#include "launcher/command_line.h"
#include "launcher/messages.h"
#include "launcher/notify_window.h"
#include "phase_times.h"
#include "result_codes.h"
#include "string_table.h"

namespace qnvpd {

namespace {

constexpr UINT kWindowTitleId = 60;
constexpr UINT kInstanceNameId = 111;
constexpr int kStringCapacity = 100;  // the window title's and class name's buffers

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

int RunMainSequence(HINSTANCE instance, const wchar_t* commandLine,
                    const SequenceHooks& hooks) {
  if (commandLine == nullptr) commandLine = L"";

  INITCOMMONCONTROLSEX icc = {};
  icc.dwSize = sizeof icc;
  icc.dwICC = 0xFF;
  InitCommonControlsEx(&icc);

  int result = kResultOk;
  RunContext context;
  context.commandLine = commandLine;
  context.language = hooks.userLanguage();
  const LANGID language = context.language;
  context.runMode = ParseRunMode(commandLine, language, &context.installerOptions);
  const bool showBoxes = context.runMode == kRunInteractive;

  if (!hooks.isOsSupported(HasKmSwitch(commandLine))) {
    if (showBoxes) hooks.showMessage(MessageText(kResultUnsupportedOs, language).c_str());
    return kResultUnsupportedOs;
  }
  MarkPhase("startup");

  wchar_t windowTitle[kStringCapacity] = {};
  wchar_t className[kStringCapacity] = {};
  LoadStringW(instance, kWindowTitleId, windowTitle, kStringCapacity);
  LoadStringW(instance, kInstanceNameId, className, kStringCapacity);
  RegisterNotifyWindowClass(instance, className);
  context.notifyWindow = hooks.createNotifyWindow(instance, className, windowTitle);
  if (context.notifyWindow == nullptr) {
    // Nothing was installed: that is a failure, not a success.
    if (showBoxes) hooks.showMessage(MessageText(kResultInstallFailed, language).c_str());
    return kResultInstallFailed;
  }
  context.notifyToken = FormatNotifyToken(context.notifyWindow);
  MarkPhase("window");

  std::wstring instanceName = LoadProgramString(kInstanceNameId, language);
  if (hooks.isAnotherInstanceRunning(instanceName.c_str())) result = kResultAlreadyRunning;
  if (result == kResultOk && !hooks.isAdministrator()) result = kResultNotAdministrator;

  int qnPort = 0;
  int vdPort = 0;
  ParsePortOptions(commandLine, context.runMode, &qnPort, &vdPort);
  int conflict = CheckPortConflict(qnPort, vdPort);
  if (conflict != kResultOk) result = conflict;

  if (result != kResultOk) {
    if (showBoxes) hooks.showMessage(MessageText(result, language).c_str());
    return result;
  }
  MarkPhase("checks");

  result = context.runMode == kRunRemoval ? hooks.runRemoval(context) : hooks.runInstall(context);

  if (result != kResultOk) {
    // A launch that failed late has already announced the child's end; left in
    // the queue, that request (or the quit message standing in for it) would
    // close the box before anyone could read it.
    MSG pending;
    while (PeekMessageW(&pending, context.notifyWindow, kQuitRequest, kQuitRequest, PM_REMOVE)) {
    }
    while (PeekMessageW(&pending, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) {
    }
    if (showBoxes) hooks.showMessage(MessageText(result, language).c_str());
    DestroyWindow(context.notifyWindow);
    return result;
  }
  return RunMessageLoop(context.notifyWindow);
}

}  // namespace qnvpd
