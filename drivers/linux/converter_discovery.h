// Which /dev/ttyUSB<n> is converter i: the ports that the kernel's FTDI
// driver (ftdi_sio) has bound, in the order of their numbers. The roots are
// "/sys" and "/dev" on a real system.
#ifndef LINE_TRANSMITTER_CONVERTER_DISCOVERY_H
#define LINE_TRANSMITTER_CONVERTER_DISCOVERY_H

#include <string>

// The device path of converter `index`, or "" when there is no such
// converter.
std::string converterPath(const std::string& sysfsRoot, const std::string& devRoot, int index);

bool ftdiDriverLoaded(const std::string& sysfsRoot);

// The lowest-numbered ttyUSB port of another usb-serial driver, and that
// driver's name, or "" when there is none.
std::string otherSerialPort(const std::string& sysfsRoot, std::string* driver);

#endif
