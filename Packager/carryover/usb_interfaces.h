// The "[PORTS]" section of PORTS.dat: which numbered ports the maker's USB
// printer interfaces (hardware key Vid_1f2e&Pid_0b0c) were assigned, for every
// device instance recorded in the registry, present or not.
#pragma once

#include <cstdio>
#include <string>

#include "carryover/port_lines.h"

namespace qnvpd {

// Reads the "Device Parameters" of one device instance. False, and nothing to
// write, when that key cannot be opened (or its path would not fit its buffer)
// or "KavCuIndex" cannot be read.
bool ReadUsbInterface(const std::string& instanceName, UsbInterfaceRecord* record);

// Writes "[PORTS]" and then the lines of every device instance, in the order
// the registry lists them. Registry failures only leave lines out. Returns the
// number of port lines written (the section line not counted).
int WriteUsbInterfaceSection(std::FILE* out);

}  // namespace qnvpd
