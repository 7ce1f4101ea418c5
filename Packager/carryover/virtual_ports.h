// The "[QNVPD]" section of PORTS.dat: the name and settings of every virtual
// port of the product, i.e. every root-enumerated Ports device whose first
// hardware ID names the port emulator.
#pragma once

#include <cstdio>
#include <string>

#include "carryover/port_lines.h"

namespace qnvpd {

// Reads one instance under Enum\Root\PORTS. False, and nothing to write, when
// the instance key or its "Device Parameters" key cannot be opened (or their
// paths would not fit their buffer), when "PortName" is in neither of them, or
// when the first hardware ID does not name the port emulator.
bool ReadVirtualPort(const std::string& instanceName, VirtualPortRecord* record);

// Writes "[QNVPD]" and then one line per virtual port, in the order the
// registry lists them. Registry failures only leave lines out or put 0 (an
// empty "KavID") into fields. Returns the number of port lines written (the
// section line not counted).
int WriteVirtualPortSection(std::FILE* out);

}  // namespace qnvpd
