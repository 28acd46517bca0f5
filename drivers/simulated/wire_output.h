// The simulated converter's wire: the process's standard output, unbuffered
// and untranslated, so bytes appear the moment the write returns.
#ifndef LINE_TRANSMITTER_WIRE_OUTPUT_H
#define LINE_TRANSMITTER_WIRE_OUTPUT_H

#include <stdint.h>

// Writes all count bytes; false if standard output refused them.
bool writeToWire(const unsigned char* bytes, uint32_t count);

#endif
