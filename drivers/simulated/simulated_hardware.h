// The simulated hardware: what the simulated converter is made of, and what
// the tests' stand-in for the vendor's library is built on too. Three
// environment variables are its switches:
//   LINE_TRANSMITTER_SIM_TRACE=FILE  appends one line per call made to it
//   LINE_TRANSMITTER_SIM_FAIL=CALL   makes that call fail: FT_Open,
//       FT_SetBaudRate, FT_SetDataCharacteristics, FT_Close, FT_Write:N (the
//       N-th write sends nothing, and the converter is gone: what follows
//       fails, the close too), FT_Write:N:short (it takes half, rounded up),
//       FT_Write:N:stall (from the N-th write on, the converter takes
//       nothing, as when the far end holds CTS low)
//   LINE_TRANSMITTER_SIM_HOLDS=BYTES what it says it may hold between a
//       write's return and the wire
// A switch value it does not know is refused at the open, naming it, so
// that a mistyped switch cannot pass for a run without faults.
#ifndef LINE_TRANSMITTER_SIMULATED_HARDWARE_H
#define LINE_TRANSMITTER_SIMULATED_HARDWARE_H

#include <stdint.h>

#include "ftd2xx.h"

// One line in the trace file, printf-style, when the switch names one.
void traceCall(const char* format, ...);

enum WriteFault { kNoFault, kFailedWrite, kShortWrite, kStalledWrites };

struct FaultSwitch {
    char failingCall[32];       // a whole call that fails, or ""
    unsigned long faultyWrite;  // the N of FT_Write:N..., or 0
    WriteFault writeFault;
    uint32_t holdsAtMost;       // LINE_TRANSMITTER_SIM_HOLDS, 10 KiB unless set
};

// Reads the switches for a new open. False when one holds a value the
// hardware does not know; refusedSwitch() then says which, and what to do.
bool readSwitches(FaultSwitch* switches);
ConverterFailure refusedSwitch();

// What the fault switch does to the write-th write: from the faulty write
// on, a stall stalls every write; a failed or short write is that one.
WriteFault faultOfWrite(const FaultSwitch& switches, unsigned long write);

// Word length, stop bits and parity that a converter can set.
bool isValidFraming(uint8_t wordLength, uint8_t stopBits, uint8_t parity);

// Puts bytes on the wire, standard output, as a receiver with wordLength
// data bits gets them: the bits above it cleared. The bytes written, fewer
// than count when standard output refused them (*refused is then set) or,
// where heedStopWaiting is set, when told to stop waiting while standard
// output had no room.
uint32_t putOnWire(const void* bytes, uint32_t count, int wordLength, bool heedStopWaiting,
                   bool* refused);

#endif
