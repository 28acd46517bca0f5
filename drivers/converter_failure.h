// The failure record that every driver keeps for the program's message
// (lastConverterFailure in ftd2xx.h), filled through these calls only.
#ifndef LINE_TRANSMITTER_CONVERTER_FAILURE_H
#define LINE_TRANSMITTER_CONVERTER_FAILURE_H

#include "ftd2xx.h"

// A cause of ours, where the system gives no reason.
extern const char kDrainCutShort[];

// Nothing failed yet: a new open.
void clearFailure();

// Records what failed, printf-style: the port and the system's reason
// ("/dev/ttyUSB0: Permission denied"), or a cause of ours; no advice yet.
// Passes status on.
FT_STATUS failed(FT_STATUS status, const char* format, ...);

// Records what the user can do about the failure just recorded.
void advise(const char* format, ...);

#endif
