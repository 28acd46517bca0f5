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
    uint32_t holdsAtMost;  // LINE_TRANSMITTER_SIM_HOLDS, 10 KiB unless set
};

// Reads the switches for a new open. False when one holds a value the
// hardware does not know, recorded as the failure (converter_failure.h).
bool readSwitches(FaultSwitch* switches);

// One simulated converter: open or not, its framing, its writes so far.
// Its handle is its own address.
struct SimulatedLine {
    bool open;
    bool gone;             // a write failed, as when the converter is unplugged
    int wordLength;        // 8 until configured
    unsigned long writes;  // FT_Write calls so far
    FaultSwitch switches;
};

// The parts of the calls that every simulated converter shares, each call
// traced: the answer, FT_OK where the caller goes on.
FT_STATUS openSimulatedLine(SimulatedLine* line, int deviceNumber, FT_HANDLE* handle);
FT_STATUS setSimulatedSpeed(SimulatedLine* line, FT_HANDLE handle, uint32_t baudRate);
FT_STATUS setSimulatedFraming(SimulatedLine* line, FT_HANDLE handle, uint8_t wordLength,
                              uint8_t stopBits, uint8_t parity);
FT_STATUS closeSimulatedLine(SimulatedLine* line, FT_HANDLE handle);

// A write begins: FT_OK, and what the fault switch does to it in *fault
// (kFailedWrite never comes back: the write then fails, and the converter
// is gone); FT_OK with kStalledWrites: the caller waits as its converter
// does, and takes nothing.
FT_STATUS beginSimulatedWrite(SimulatedLine* line, FT_HANDLE handle, uint32_t count,
                              WriteFault* fault);

// The write takes its bytes, half of them for a short one, and puts them
// on the wire, standard output, as a receiver with the line's word length
// gets them: the bits above it cleared. *taken counts them; FT_IO_ERROR
// when standard output refused them. A full standard output is waited for
// until the program tells the driver to stop waiting.
FT_STATUS takeSimulatedWrite(SimulatedLine* line, const void* bytes, uint32_t count,
                             WriteFault fault, uint32_t* taken);

#endif
