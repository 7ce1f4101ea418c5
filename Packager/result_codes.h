// The run's outcome: 0, or the code of the first failure that decides it.
#pragma once

namespace qnvpd {

enum ResultCode : int {
  kResultOk = 0,
  kResultAlreadyRunning = 101,
  kResultUnsupportedOs = 102,
  kResultNotAdministrator = 104,
  kResultSamePort = 106,
  kResultVdWithoutQn = 107,
  kResultInstallFailed = 1001,
};

// The four run modes the command line selects.
enum RunMode : int {
  kRunInteractive = 0,
  kRunSilentWithPorts = 1,
  kRunSilent = 2,
  kRunRemoval = 3,
};

}  // namespace qnvpd
