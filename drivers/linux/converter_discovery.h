// Which /dev/ttyUSB<n> is converter i: the ports that the kernel's FTDI
// driver (ftdi_sio) has bound, in the order of their numbers.
#ifndef LINE_TRANSMITTER_CONVERTER_DISCOVERY_H
#define LINE_TRANSMITTER_CONVERTER_DISCOVERY_H

#include <string>

// The device path of converter `index`, or "" when there is no such
// converter. The roots are "/sys" and "/dev" on a real system.
std::string converterPath(const std::string& sysfsRoot, const std::string& devRoot, int index);

#endif
