// A stand-in for the vendor's D2XX library (libftd2xx.so, FTD2XX.dll), for
// testing the driver that loads it: the simulated hardware (its switches and
// its wire, simulated_hardware.h) behind the five calls the program makes and
// the further ones that driver makes (d2xx_further_calls.h), traced too.
//
// Like the vendor's library, it waits in its own code: a write that finds
// no room (the fault switch's stall: the far end holds CTS low) waits out
// the timeout set by FT_SetTimeouts, for good without one, and nothing ends
// that wait early. Its transmit queue drains at the line's rate; the last
// 256 bytes sit in the chip's FIFO, which the library's queue does not
// count, and which the modem status reports as the transmitter not empty.
#include <time.h>

#include <chrono>

#ifdef _WIN32
#include <windows.h>
#endif

#include "d2xx_further_calls.h"
#include "ftd2xx.h"
#include "line_rate.h"
#include "simulated_hardware.h"

namespace {

using Clock = std::chrono::steady_clock;

const double kChipFifoBytes = 256;

// The simulated line, and the library's queue and timeout beside it.
struct StandInConverter {
    SimulatedLine line;
    bool ctsLow;  // the far end stopped the line: nothing drains
    uint32_t bitsPerSecond;
    uint32_t bitsPerCharacter;
    uint32_t writeTimeout;  // milliseconds, 0 for none
    double queued;          // bytes taken that have not left, the chip's FIFO's too
    Clock::time_point drainedUntil;
};

StandInConverter converter = {};

// The further calls' own check of the handle.
bool isOurHandle(FT_HANDLE handle)
{
    return converter.line.open && handle == &converter.line;
}

// Lets what is queued leave at the line's rate, up to now.
void drainQueue()
{
    Clock::time_point now = Clock::now();
    if (!converter.ctsLow) {
        double seconds = std::chrono::duration<double>(now - converter.drainedUntil).count();
        converter.queued -= seconds * converter.bitsPerSecond / converter.bitsPerCharacter;
        if (converter.queued < 0) {
            converter.queued = 0;
        }
    }
    converter.drainedUntil = now;
}

// A pause that no signal and no procedure call ends.
void sleepFor(uint32_t milliseconds)
{
#ifdef _WIN32
    Sleep(milliseconds);
#else
    timespec left = {static_cast<time_t>(milliseconds / 1000),
                     static_cast<long>(milliseconds % 1000) * 1000000L};
    while (nanosleep(&left, &left) != 0) {}
#endif
}

}  // namespace

extern "C" {

FT_STATUS FT_API FT_Open(int deviceNumber, FT_HANDLE* handle)
{
    FT_STATUS status = openSimulatedLine(&converter.line, deviceNumber, handle);
    if (status == FT_OK) {
        converter.ctsLow = false;
        converter.bitsPerSecond = 9600;
        converter.bitsPerCharacter = 10;
        converter.writeTimeout = 0;  // the library's writes wait for room without end
        converter.queued = 0;
        converter.drainedUntil = Clock::now();
    }
    return status;
}

FT_STATUS FT_API FT_SetBaudRate(FT_HANDLE handle, uint32_t baudRate)
{
    FT_STATUS status = setSimulatedSpeed(&converter.line, handle, baudRate);
    if (status == FT_OK) {
        drainQueue();
        converter.bitsPerSecond = baudRate;
    }
    return status;
}

FT_STATUS FT_API FT_SetDataCharacteristics(FT_HANDLE handle, uint8_t wordLength, uint8_t stopBits,
                                           uint8_t parity)
{
    FT_STATUS status = setSimulatedFraming(&converter.line, handle, wordLength, stopBits, parity);
    if (status == FT_OK) {
        drainQueue();
        converter.bitsPerCharacter = bitsPerCharacter(wordLength, stopBits, parity);
    }
    return status;
}

FT_STATUS FT_API FT_Write(FT_HANDLE handle, void* buffer, uint32_t bytesToWrite,
                          uint32_t* bytesWritten)
{
    *bytesWritten = 0;
    WriteFault fault = kNoFault;
    FT_STATUS status = beginSimulatedWrite(&converter.line, handle, bytesToWrite, &fault);
    if (status != FT_OK) {
        return status;
    }
    if (fault == kStalledWrites) {
        drainQueue();
        converter.ctsLow = true;
        do {
            sleepFor(converter.writeTimeout == 0 ? 1000 : converter.writeTimeout);
        } while (converter.writeTimeout == 0);
        return FT_OK;
    }
    status = takeSimulatedWrite(&converter.line, buffer, bytesToWrite, fault, bytesWritten);
    drainQueue();
    converter.queued += *bytesWritten;
    return status;
}

FT_STATUS FT_API FT_Close(FT_HANDLE handle)
{
    return closeSimulatedLine(&converter.line, handle);
}

FT_STATUS FT_API FT_SetFlowControl(FT_HANDLE handle, uint16_t flowControl, uint8_t xon,
                                   uint8_t xoff)
{
    traceCall("FT_SetFlowControl %u %u %u", flowControl, xon, xoff);
    if (!isOurHandle(handle)) {
        return FT_INVALID_HANDLE;
    }
    bool known = flowControl == FT_FLOW_NONE || flowControl == FT_FLOW_RTS_CTS ||
                 flowControl == FT_FLOW_DTR_DSR || flowControl == FT_FLOW_XON_XOFF;
    return known ? FT_OK : FT_INVALID_PARAMETER;
}

FT_STATUS FT_API FT_SetTimeouts(FT_HANDLE handle, uint32_t readTimeout, uint32_t writeTimeout)
{
    traceCall("FT_SetTimeouts %lu %lu", static_cast<unsigned long>(readTimeout),
              static_cast<unsigned long>(writeTimeout));
    if (!isOurHandle(handle)) {
        return FT_INVALID_HANDLE;
    }
    converter.writeTimeout = writeTimeout;
    return FT_OK;
}

FT_STATUS FT_API FT_GetStatus(FT_HANDLE handle, uint32_t* amountInRxQueue,
                              uint32_t* amountInTxQueue, uint32_t* eventStatus)
{
    traceCall("FT_GetStatus");
    if (!isOurHandle(handle)) {
        return FT_INVALID_HANDLE;
    }
    if (converter.line.gone) {
        return FT_IO_ERROR;
    }
    drainQueue();
    double inDriver = converter.queued - kChipFifoBytes;
    *amountInRxQueue = 0;
    *amountInTxQueue = inDriver > 0 ? static_cast<uint32_t>(inDriver + 0.999) : 0;
    *eventStatus = 0;
    return FT_OK;
}

FT_STATUS FT_API FT_GetModemStatus(FT_HANDLE handle, uint32_t* modemStatus)
{
    if (!isOurHandle(handle)) {
        traceCall("FT_GetModemStatus");
        return FT_INVALID_HANDLE;
    }
    if (converter.line.gone) {
        traceCall("FT_GetModemStatus");
        return FT_IO_ERROR;
    }
    drainQueue();
    // The answer traced too: a close must have seen the transmitter empty.
    traceCall("FT_GetModemStatus %s", converter.queued > 0 ? "sending" : "transmitter empty");
    const uint32_t clearToSend = 0x10, dataSetReady = 0x20, holdingRegisterEmpty = 0x20;
    uint32_t lineStatus =
        converter.queued > 0 ? 0 : FT_LINE_STATUS_TRANSMITTER_EMPTY | holdingRegisterEmpty;
    *modemStatus =
        (lineStatus << FT_LINE_STATUS_SHIFT) | dataSetReady | (converter.ctsLow ? 0 : clearToSend);
    return FT_OK;
}

FT_STATUS FT_API FT_Purge(FT_HANDLE handle, uint32_t mask)
{
    traceCall("FT_Purge %lu", static_cast<unsigned long>(mask));
    if (!isOurHandle(handle)) {
        return FT_INVALID_HANDLE;
    }
    if ((mask & FT_PURGE_TX) != 0) {
        converter.queued = 0;
    }
    return FT_OK;
}

}  // extern "C"

// The vendor's library cannot be told to stop waiting: the simulated
// hardware's waits in it run to their end.
bool toldToStopWaiting()
{
    return false;
}
