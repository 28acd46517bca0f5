// The line sender: one line of standard input becomes one transmission.
#ifndef LINE_TRANSMITTER_TRANSMIT_LINE_H
#define LINE_TRANSMITTER_TRANSMIT_LINE_H

#include <stdint.h>

#include "ftd2xx.h"

// How far the run has got, kept by the sender across its calls: what the
// run needs to say, at a failure, which lines to send again.
struct TransmitProgress {
    uint64_t bytesHandedOver;       // accepted by the driver, a failing write's share too
    unsigned long linesHandedOver;  // lines whose line feed was accepted
    FT_STATUS writeStatus;          // FT_OK, or the status of the write that failed
    bool stalled;                   // the converter took nothing within the driver's deadline
    int readError;                  // errno of a failed read of standard input, or 0
    unsigned char refusedByte;      // a byte above 0x7F that stopped the run, or 0
    unsigned long refusedColumn;    // its place in its line, from 1
};

// Reads one line of standard input and sends its bytes, up to its first NUL,
// followed by a line feed. Answers true to go on, false to stop: after a line
// that holds ESC, at the end of input, on a read error, at a stop request
// (stop_requests.h), when the converter refuses a write or takes nothing, or
// before a piece that holds a byte above 0x7F, which a 7-bit line would turn
// into another character. progress says which.
bool transmitLine(FT_HANDLE ftHandle, TransmitProgress* progress);

#endif
