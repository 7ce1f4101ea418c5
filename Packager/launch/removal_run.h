// The removal run (RunMode 3): the legacy USB driver removal kit.
#pragma once

#include "launch/run_context.h"

namespace qnvpd {

// Writes the kit, calls the removal library's entry, runs the removal setup
// matching the platform with "/9", removes the tree and then the maker's empty
// folders. Returns 0 or 1001.
int RunRemoval(const RunContext& context);

}  // namespace qnvpd
