// The driver calls on Linux through the kernel's serial driver for FTDI
// converters (ftdi_sio, /dev/ttyUSB<n>). Beside ftd2xx.h's calls, what the
// tests of its promises need.
#ifndef LINE_TRANSMITTER_KERNEL_SERIAL_DRIVER_H
#define LINE_TRANSMITTER_KERNEL_SERIAL_DRIVER_H

#include <stdint.h>

#include "ftd2xx.h"

// FT_Open's step once it knows converter 0's port: opens that one.
FT_STATUS openConverterAt(const char* path, FT_HANDLE* handle);

// What the kernel and the chip may hold between a write's return and the
// wire, on a system with this page size (sysconf(_SC_PAGESIZE)); the
// largest page Linux has when it is unknown.
uint32_t kernelHoldsAtMost(long pageSize);

// How often a wait looks at the port again although nothing woke it: a
// pseudo-terminal frees room without waking its writer, and a wait that
// trusted the wakeup alone would see that room only at its deadline, then
// wait a second deadline for the next stall.
const int kRecheckMilliseconds = 100;

#endif
