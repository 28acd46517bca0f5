// The converter's open and set-up: converter 0, at 19200 baud, 7 data bits,
// even parity, 1 stop bit, or nothing at all.
#ifndef LINE_TRANSMITTER_CONVERTER_SETUP_H
#define LINE_TRANSMITTER_CONVERTER_SETUP_H

#include "ftd2xx.h"

// Opens converter 0 and sets its line; kAllSent when nothing failed, else
// the exit status of the failure, whose message has then been given (a
// converter opened is closed again).
int openAndSetUp(FT_HANDLE* ftHandle);

#endif
