// The driver calls on Linux through the kernel's FTDI serial driver. Beside
// the five calls, the step that FT_Open takes once it knows the port's path.
#ifndef LINE_TRANSMITTER_KERNEL_SERIAL_DRIVER_H
#define LINE_TRANSMITTER_KERNEL_SERIAL_DRIVER_H

#include "ftd2xx.h"

FT_STATUS openConverterAt(const char* path, FT_HANDLE* handle);

#endif
