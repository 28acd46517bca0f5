// A serial port through the kernel's tty layer: exclusive raw open, line
// settings, whole writes and a draining close, with driver statuses.
#ifndef LINE_TRANSMITTER_SERIAL_PORT_H
#define LINE_TRANSMITTER_SERIAL_PORT_H

#include <termios.h>

#include "ftd2xx.h"

// Opens path for this process alone, in raw mode, blocking. On success
// *descriptor holds the open port.
FT_STATUS openSerialPort(const char* path, int* descriptor);

// The termios speed for a baud rate; false when termios has none for it.
bool speedForBaudRate(uint32_t baudRate, speed_t* speed);

// Sets word length, stop bits and parity (the values of our driver header)
// in settings; false, and settings unchanged, when any of them is invalid.
bool setFraming(termios* settings, uint8_t wordLength, uint8_t stopBits, uint8_t parity);

FT_STATUS readSettings(int descriptor, termios* settings);
FT_STATUS applySettings(int descriptor, const termios& wanted);

// Blocks until all bytes are accepted; *written counts them even on failure.
FT_STATUS writeAll(int descriptor, const void* bytes, uint32_t count, uint32_t* written);

// Waits until the bytes have left the port, then unlocks and closes it.
FT_STATUS drainAndClose(int descriptor);

#endif
