// The install run (run modes 0 to 2): the product installer.
#pragma once

#include "launch/run_context.h"

namespace qnvpd {

// Prepares the working folder, writes the install payload and PORTS.dat, runs
// the product installer and removes the folder again. 0, or 1001 when it failed.
int RunInstall(const RunContext& context);

}  // namespace qnvpd
