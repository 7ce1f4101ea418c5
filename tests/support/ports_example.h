// The PORTS.dat a machine with the documented example registry contents must
// get, byte for byte; shared by the unit and the end-to-end tests.
#pragma once

namespace qnvpd_test {

constexpr char kExpectedPortsFile[] =
    "[PORTS]\r\n"
    "3=0,A1B2C3D4E5\r\n"
    "5=0,F6G7H8\r\n"
    "34=1,F6G7H8\r\n"
    "[QNVPD]\r\n"
    "COM10=0000,0002,1,1,1,0,1,0,0,1,PRN01,-1,0,0,0,5000,0,0,0\r\n"
    "COM11=0002,9999,0,0,0,0,0,0,0,0,,0,0,0,0,0,0,0,0\r\n";

static_assert(sizeof kExpectedPortsFile - 1 == 168, "seven lines, 168 bytes");

}  // namespace qnvpd_test
