#include "launch/install_run.h"

#include <string>

#include "carryover/ports_file.h"
#include "launch/child_command_line.h"
#include "launch/launch_and_wait.h"
#include "payload/cleanup.h"
#include "payload/extraction_root.h"
#include "payload/payload_writer.h"
#include "result_codes.h"

namespace qnvpd {

int RunInstall(const RunContext& context) {
  std::wstring root = PrepareExtractionRoot(context.language);
  if (root.empty()) return kResultInstallFailed;  // no folder of our own to write into
  std::wstring setupPath;
  switch (ExtractInstallPayload(root, context.language, &setupPath)) {
    case InstallExtraction::Ready:
      break;
    case InstallExtraction::SetupMissing:
      // Left in place: what was written shows what the package carried.
      return kResultInstallFailed;
    case InstallExtraction::PathTooLong:
    case InstallExtraction::WriteFailed:
      // Most likely a full disk: give the space back.
      RemoveTree(root);
      return kResultInstallFailed;
  }
  // Without the file the installer would silently drop the user's port settings.
  if (!WritePortsFile(root)) {
    RemoveTree(root);
    return kResultInstallFailed;
  }
  std::wstring arguments =
      ComposeInstallArguments(context.installerOptions, context.notifyToken, context.commandLine);
  int launched = LaunchAndWait(setupPath, arguments, context.notifyWindow);
  RemoveTree(root);
  return launched == kLaunchFailed ? kResultInstallFailed : kResultOk;
}

}  // namespace qnvpd
