// A simulated converter: one converter at index 0 whose wire is standard
// output (simulated_hardware.h has its switches). It takes every byte at
// once, so it holds nothing between a write's return and the wire; it says
// it holds what its switch says, so that the resend point reads as on a
// real converter.
#include "converter_failure.h"
#include "ftd2xx.h"
#include "simulated_hardware.h"
#include "stop_waiting.h"
#include "wire_output.h"

namespace {
SimulatedLine line = {};
}  // namespace

extern "C" {

FT_STATUS FT_API FT_Open(int deviceNumber, FT_HANDLE* handle)
{
    // The null device that took a closed standard output's place is no wire.
    if (wireClosedAtStart()) {
        failed(FT_DEVICE_NOT_FOUND, "the simulated converter's wire, standard output, is closed");
        advise("give it a standard output, as in line-transmitter-sim < lines.txt > wire.bin");
        return FT_DEVICE_NOT_FOUND;
    }
    FT_STATUS status = openSimulatedLine(&line, deviceNumber, handle);
    if (status == FT_OK) {
        openWire();
    }
    return status;
}

FT_STATUS FT_API FT_SetBaudRate(FT_HANDLE handle, uint32_t baudRate)
{
    return setSimulatedSpeed(&line, handle, baudRate);
}

FT_STATUS FT_API FT_SetDataCharacteristics(FT_HANDLE handle, uint8_t wordLength, uint8_t stopBits,
                                           uint8_t parity)
{
    return setSimulatedFraming(&line, handle, wordLength, stopBits, parity);
}

FT_STATUS FT_API FT_Write(FT_HANDLE handle, void* buffer, uint32_t bytesToWrite,
                          uint32_t* bytesWritten)
{
    *bytesWritten = 0;
    WriteFault fault = kNoFault;
    FT_STATUS status = beginSimulatedWrite(&line, handle, bytesToWrite, &fault);
    if (status != FT_OK) {
        return status;
    }
    if (fault == kStalledWrites) {
        pauseUnlessTold(kStallMilliseconds);  // no room comes: the deadline passes
        return FT_OK;
    }
    return takeSimulatedWrite(&line, buffer, bytesToWrite, fault, bytesWritten);
}

FT_STATUS FT_API FT_Close(FT_HANDLE handle)
{
    // Its wire holds nothing back, so there is nothing to drain.
    FT_STATUS status = closeSimulatedLine(&line, handle);
    if (status != FT_INVALID_HANDLE) {
        closeWire();
    }
    return status;
}

}  // extern "C"

uint32_t converterHoldsAtMost(FT_HANDLE)
{
    return line.switches.holdsAtMost;
}
