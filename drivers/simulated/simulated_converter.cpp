// A simulated converter: one converter at index 0 whose wire is standard
// output (simulated_hardware.h has its switches). It takes every byte at
// once, so it holds nothing between a write's return and the wire; it says
// it holds what its switch says, so that the resend point reads as on a
// real converter.
#include <string.h>

#include "ftd2xx.h"
#include "simulated_hardware.h"
#include "stop_waiting.h"
#include "wire_output.h"

namespace {

struct SimulatedConverter {
    bool open;
    bool gone;                 // a write failed, as when the converter is unplugged
    int wordLength;            // 8 until configured
    unsigned long writes;      // FT_Write calls so far
    FaultSwitch switches;
};

SimulatedConverter converter = {};

bool isOurHandle(FT_HANDLE handle)
{
    return converter.open && handle == &converter;
}

bool failing(const char* call)
{
    return strcmp(converter.switches.failingCall, call) == 0;
}

}  // namespace

extern "C" {

FT_STATUS FT_API FT_Open(int deviceNumber, FT_HANDLE* handle)
{
    traceCall("FT_Open %d", deviceNumber);
    if (!readSwitches(&converter.switches)) {
        return FT_INVALID_PARAMETER;
    }
    if (deviceNumber != 0 || failing("FT_Open")) {
        return FT_DEVICE_NOT_FOUND;
    }
    if (converter.open) {
        return FT_DEVICE_NOT_OPENED;
    }
    converter.open = true;
    converter.gone = false;
    converter.wordLength = 8;
    converter.writes = 0;
    openWire();
    *handle = &converter;
    return FT_OK;
}

FT_STATUS FT_API FT_SetBaudRate(FT_HANDLE handle, uint32_t baudRate)
{
    traceCall("FT_SetBaudRate %lu", static_cast<unsigned long>(baudRate));
    if (!isOurHandle(handle)) {
        return FT_INVALID_HANDLE;
    }
    if (failing("FT_SetBaudRate")) {
        return FT_IO_ERROR;
    }
    return baudRate == 0 ? FT_INVALID_BAUD_RATE : FT_OK;
}

FT_STATUS FT_API FT_SetDataCharacteristics(FT_HANDLE handle, uint8_t wordLength,
                                           uint8_t stopBits, uint8_t parity)
{
    traceCall("FT_SetDataCharacteristics %u %u %u", wordLength, stopBits, parity);
    if (!isOurHandle(handle)) {
        return FT_INVALID_HANDLE;
    }
    if (failing("FT_SetDataCharacteristics")) {
        return FT_IO_ERROR;
    }
    if (!isValidFraming(wordLength, stopBits, parity)) {
        return FT_INVALID_PARAMETER;
    }
    converter.wordLength = wordLength;
    return FT_OK;
}

FT_STATUS FT_API FT_Write(FT_HANDLE handle, void* buffer, uint32_t bytesToWrite,
                          uint32_t* bytesWritten)
{
    traceCall("FT_Write %lu", static_cast<unsigned long>(bytesToWrite));
    *bytesWritten = 0;
    if (!isOurHandle(handle)) {
        return FT_INVALID_HANDLE;
    }
    ++converter.writes;
    WriteFault fault = faultOfWrite(converter.switches, converter.writes);
    if (fault == kStalledWrites) {
        // No room comes: the write waits out its deadline.
        pauseUnlessTold(kStallMilliseconds);
        return FT_OK;
    }
    if (fault == kFailedWrite || converter.gone) {
        converter.gone = true;
        return FT_IO_ERROR;
    }
    uint32_t accepted = fault == kShortWrite ? (bytesToWrite + 1) / 2 : bytesToWrite;
    bool refused = false;
    *bytesWritten = putOnWire(buffer, accepted, converter.wordLength, true, &refused);
    return refused ? FT_IO_ERROR : FT_OK;
}

FT_STATUS FT_API FT_Close(FT_HANDLE handle)
{
    traceCall("FT_Close");
    if (!isOurHandle(handle)) {
        return FT_INVALID_HANDLE;
    }
    converter.open = false;
    closeWire();
    forgetStopWaiting();
    // Its wire holds nothing back, so there is nothing to drain.
    return failing("FT_Close") || converter.gone ? FT_IO_ERROR : FT_OK;
}

}  // extern "C"

// The simulated hardware has no more to say than its statuses, but for a
// switch that FT_Open refused.
ConverterFailure lastConverterFailure()
{
    return refusedSwitch();
}

uint32_t converterHoldsAtMost(FT_HANDLE)
{
    return converter.switches.holdsAtMost;
}
