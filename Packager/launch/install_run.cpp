#include "launch/install_run.h"

#include <string>

#include "carryover/ports_file.h"
#include "launch/child_command_line.h"
#include "launch/child_outcome.h"
#include "launch/launch_and_wait.h"
#include "payload/extraction_root.h"
#include "payload/payload_writer.h"
#include "phase_times.h"
#include "result_codes.h"

namespace qnvpd {

int RunInstall(const RunContext& context) {
  const RunLog& log = context.Log();
  PreparedRoot prepared(log);
  if (!prepared.Prepare(context.language)) {
    return kResultInstallFailed;  // no folder of our own to write into
  }
  MarkPhase("root");
  const std::wstring& root = prepared.Path();
  std::wstring setupPath;
  switch (ExtractInstallPayload(root, context.language, &setupPath, log)) {
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
  MarkPhase("payload");
  // Without the file the installer would silently drop the user's port settings.
  if (!WritePortsFile(root, log)) {
    prepared.Remove();
    return kResultInstallFailed;
  }
  MarkPhase("ports-file");
  std::wstring arguments =
      ComposeInstallArguments(context.installerOptions, context.notifyToken, context.commandLine);
  const ChildOutcome outcome = LaunchAndWait(setupPath, arguments, context.notifyWindow, log);
  prepared.Remove();
  MarkPhase("cleanup");
  if (ChildRunFailed(outcome)) {
    log.Write(L"the installation failed: the installer " + ChildFailureReason(outcome));
    return kResultInstallFailed;
  }
  return kResultOk;
}

}  // namespace qnvpd
