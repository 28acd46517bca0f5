// The simulated converter's wire: the process's standard output, unbuffered
// and untranslated, so bytes appear the moment the write returns.
#ifndef LINE_TRANSMITTER_WIRE_OUTPUT_H
#define LINE_TRANSMITTER_WIRE_OUTPUT_H

#include <stdint.h>

// Whether standard output was closed when the program started.
bool wireClosedAtStart();

// Takes standard output as the wire, for the driver's writes from here on;
// and gives it back.
void openWire();
void closeWire();

// Writes count bytes, at most 1024, waiting for room as long as the reader
// makes it; the bytes written. Fewer when standard output refused them
// (*refused is then set) or when told to stop waiting while it had no room.
uint32_t writeToWire(const unsigned char* bytes, uint32_t count, bool* refused);

#endif
