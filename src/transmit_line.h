// The line sender: one line of standard input becomes one transmission.
#ifndef LINE_TRANSMITTER_TRANSMIT_LINE_H
#define LINE_TRANSMITTER_TRANSMIT_LINE_H

#include "ftd2xx.h"

// Reads one line of standard input and sends its bytes, up to its first NUL,
// followed by a line feed. Answers true to go on, false to stop: after a line
// that holds ESC, at the end of input, on a read error (ferror(stdin) tells),
// or when the converter refuses a write. *writeStatus is FT_OK unless a write
// failed; then it holds the failing status and the line did not go out whole.
bool transmitLine(FT_HANDLE ftHandle, FT_STATUS* writeStatus);

#endif
