// A serial port through the kernel's tty layer, as the driver uses it:
// exclusive raw open, line settings of our own making (port_settings.cpp),
// writes with a deadline and a bounded draining close (port_io.cpp). On a
// failure errno holds the system's reason.
#ifndef LINE_TRANSMITTER_SERIAL_PORT_H
#define LINE_TRANSMITTER_SERIAL_PORT_H

#include <stdint.h>
#include <termios.h>

#include "ftd2xx.h"

// Opens path for this process alone, non-blocking, and sets it from
// nothing: raw, 9600 baud, 8 data bits, no parity, 1 stop bit, receiver on,
// modem lines ignored, no flow control of any kind. Of the port's own
// settings only HUPCL is kept: whether the modem lines drop at close is the
// port owner's choice (a device may reset on DTR), and touches no byte on
// the line. *settings holds what was set, *descriptor the port.
// FT_DEVICE_NOT_FOUND when there is no such port, else FT_DEVICE_NOT_OPENED.
FT_STATUS openSerialPort(const char* path, int* descriptor, termios* settings);

// The termios speed for a baud rate; false when termios has none for it.
bool speedForBaudRate(uint32_t baudRate, speed_t* speed);

// Sets word length, stop bits and parity (ftd2xx.h's values) in settings;
// false, and settings unchanged, when any of them is invalid.
bool setFraming(termios* settings, uint8_t wordLength, uint8_t stopBits, uint8_t parity);

FT_STATUS applySettings(int descriptor, const termios& wanted);

// Writes as much as the port takes without waiting; when it takes nothing,
// waits for room, up to kStallMilliseconds. FT_OK with *written < count
// when it took less, took nothing within the deadline (*stalled is then
// set), or the driver was told to stop waiting.
FT_STATUS writeSome(int descriptor, const void* bytes, uint32_t count, uint32_t* written,
                    bool* stalled);

// How a drain ended: every byte left; it stalled (no byte left for
// kStallMilliseconds, or the wire-time deadline passed); it was cut short
// (told to stop waiting); or it failed, errno saying why.
enum DrainEnd { kDrained, kStalled, kCutShort, kDrainFailed };

// Waits until the bytes have left the port, at most their wire time at
// charactersPerSecond plus kStallMilliseconds, and no longer than
// kStallMilliseconds without a byte leaving; none at all for a
// charactersPerSecond of 0, a port that stalled already. Then gives the
// port up and closes it. A close after a wait given up is cut short too:
// the kernel drops what it held rather than wait up to closing_wait; the
// chip still sends what it has.
DrainEnd drainAndClose(int descriptor, uint32_t charactersPerSecond);

#endif
