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
#include <string.h>
#include <time.h>

#include <chrono>

#ifdef _WIN32
#include <windows.h>
#endif

#include "d2xx_further_calls.h"
#include "ftd2xx.h"
#include "simulated_hardware.h"

namespace {

using Clock = std::chrono::steady_clock;

const double kChipFifoBytes = 256;

struct StandInConverter {
    bool open;
    bool gone;                  // a write failed, as when the converter is unplugged
    int wordLength;
    unsigned long writes;
    FaultSwitch switches;
    bool ctsLow;                // the far end stopped the line: nothing drains
    uint32_t bitsPerSecond;
    uint32_t bitsPerCharacter;
    uint32_t writeTimeout;      // milliseconds, 0 for none
    double queued;              // bytes taken that have not left, the chip's FIFO's too
    Clock::time_point drainedUntil;
};

StandInConverter converter = {};

bool isOurHandle(FT_HANDLE handle)
{
    return converter.open && handle == &converter;
}

bool failing(const char* call)
{
    return strcmp(converter.switches.failingCall, call) == 0;
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
    while (nanosleep(&left, &left) != 0) {
    }
#endif
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
    converter.ctsLow = false;
    converter.bitsPerSecond = 9600;
    converter.bitsPerCharacter = 10;
    converter.writeTimeout = 0;  // the library's writes wait for room without end
    converter.queued = 0;
    converter.drainedUntil = Clock::now();
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
    if (baudRate == 0) {
        return FT_INVALID_BAUD_RATE;
    }
    drainQueue();
    converter.bitsPerSecond = baudRate;
    return FT_OK;
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
    drainQueue();
    converter.wordLength = wordLength;
    converter.bitsPerCharacter = 1u + wordLength + (parity != FT_PARITY_NONE ? 1u : 0u) +
                                 (stopBits == FT_STOP_BITS_2 ? 2u : 1u);
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
        drainQueue();
        converter.ctsLow = true;
        do {
            sleepFor(converter.writeTimeout == 0 ? 1000 : converter.writeTimeout);
        } while (converter.writeTimeout == 0);
        return FT_OK;
    }
    if (fault == kFailedWrite || converter.gone) {
        converter.gone = true;
        return FT_IO_ERROR;
    }
    uint32_t accepted = fault == kShortWrite ? (bytesToWrite + 1) / 2 : bytesToWrite;
    bool refused = false;
    *bytesWritten = putOnWire(buffer, accepted, converter.wordLength, false, &refused);
    drainQueue();
    converter.queued += *bytesWritten;
    return refused ? FT_IO_ERROR : FT_OK;
}

FT_STATUS FT_API FT_Close(FT_HANDLE handle)
{
    traceCall("FT_Close");
    if (!isOurHandle(handle)) {
        return FT_INVALID_HANDLE;
    }
    converter.open = false;
    return failing("FT_Close") || converter.gone ? FT_IO_ERROR : FT_OK;
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
    if (converter.gone) {
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
    traceCall("FT_GetModemStatus");
    if (!isOurHandle(handle)) {
        return FT_INVALID_HANDLE;
    }
    if (converter.gone) {
        return FT_IO_ERROR;
    }
    drainQueue();
    const uint32_t clearToSend = 0x10, dataSetReady = 0x20, holdingRegisterEmpty = 0x20;
    uint32_t lineStatus =
        converter.queued > 0 ? 0 : FT_LINE_STATUS_TRANSMITTER_EMPTY | holdingRegisterEmpty;
    *modemStatus = (lineStatus << FT_LINE_STATUS_SHIFT) | dataSetReady |
                   (converter.ctsLow ? 0 : clearToSend);
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
