#include "launch/install_run.h"

#include <string>

#include "bounded_text.h"
#include "carryover/ports_file.h"
#include "launch/child_command_line.h"
#include "launch/child_outcome.h"
#include "launch/launch_and_wait.h"
#include "payload/working_folder.h"
#include "payload/payload_writer.h"
#include "phase_times.h"
#include "result_codes.h"

namespace qnvpd {

int RunInstall(const RunContext& context) {
  const RunLog& log = context.Log();
  WorkingFolder working;
  StepReport created;
  const bool haveFolder = working.Create(context.language, &created);
  log.Write(created);
  if (!haveFolder) return kResultInstallFailed;  // no folder of our own to write into
  MarkPhase("root");
  std::wstring setupPath;
  StepReport written;
  const InstallExtraction extraction =
      ExtractInstallPayload(working, context.language, &setupPath, &written);
  log.Write(written);
  switch (extraction) {
    case InstallExtraction::Ready:
      break;
    case InstallExtraction::SetupMissing:
      // Left in place: what was written shows what the package carried.
      return kResultInstallFailed;
    case InstallExtraction::PathTooLong:
    case InstallExtraction::WriteFailed:
      // Most likely a full disk: give the space back.
      log.Write(working.Remove());
      return kResultInstallFailed;
  }
  MarkPhase("payload");
  // Without the file the installer would silently drop the user's port settings.
  // Its name is as long as setup.exe's, whose path fitted.
  BoundedText<kPathCapacity> portsPath;
  if (!working.Join(kPortsFileName, &portsPath)) {
    log.Write(working.Remove());
    return kResultInstallFailed;
  }
  const PortsFileOutcome ports = WritePortsFile(portsPath.str());
  if (!ports.written) {
    log.Failure(ports.failedStep, ports.error);
    log.Write(working.Remove());
    return kResultInstallFailed;
  }
  log.Write(L"PORTS.dat written: [PORTS] " + std::to_wstring(ports.usbLines) + L" lines, [QNVPD] " +
            std::to_wstring(ports.portLines) + L" lines");
  MarkPhase("ports-file");
  const ChildLink& link = *context.childLink;
  std::wstring arguments =
      ComposeInstallArguments(context.installerOptions, link.Token(), context.commandLine);
  const ChildOutcome outcome = LaunchAndWait(setupPath, arguments, link, log);
  log.Write(working.Remove());
  MarkPhase("cleanup");
  if (ChildRunFailed(outcome)) {
    log.Write(L"the installation failed: the installer " + ChildFailureReason(outcome));
    return kResultInstallFailed;
  }
  return kResultOk;
}

}  // namespace qnvpd
