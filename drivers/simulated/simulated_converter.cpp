// A simulated converter: one converter at index 0 whose wire is standard
// output. Each byte goes out as a receiver on a matching line would get it,
// with the bits above the configured word length cleared.
//
// Switches of the simulated hardware, for tests and demonstrations:
//   LINE_TRANSMITTER_SIM_TRACE=FILE  appends one line per driver call to FILE
//   LINE_TRANSMITTER_SIM_FAIL=CALL   makes that call fail: FT_Open,
//       FT_SetBaudRate, FT_SetDataCharacteristics, FT_Close, FT_Write:N (the
//       N-th write sends nothing, and the converter is gone: what follows
//       fails, the close too), FT_Write:N:short (it takes half, rounded up),
//       FT_Write:N:stall (from the N-th write on the far end holds CTS low:
//       the converter takes nothing, and each write waits out its timeout)
//
// Its transmit queue drains at the line's rate; the further calls of the
// vendor's library (d2xx_further_calls.h) read and discard it. The last 256
// bytes sit in the chip's FIFO, which the driver's queue does not count.
//
// Any other fail-switch value makes FT_Open refuse, naming it: a mistyped
// switch must not pass for a run without faults.
#include <errno.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <chrono>

#include "d2xx_further_calls.h"
#include "ftd2xx.h"
#include "interruptible_pause.h"
#include "wire_output.h"

namespace {

using Clock = std::chrono::steady_clock;

enum WriteFault { kNoFault, kFailedWrite, kShortWrite, kStalledWrites };

// As the vendor's library, writes wait for room without end until told
// otherwise; as our driver, they keep ftd2xx.h's 10 s.
#ifdef SIMULATED_CONVERTER_AS_VENDOR_LIBRARY
const uint32_t kWriteTimeoutAtOpen = 0;
#else
const uint32_t kWriteTimeoutAtOpen = 10000;
#endif
const double kChipFifoBytes = 256;

struct SimulatedConverter {
    bool open;
    bool gone;                   // a write failed, as when the converter is unplugged
    int wordLength;              // 8 until configured
    unsigned long writes;        // FT_Write calls so far
    unsigned long faultyWrite;   // the write that the fail switch names, or 0
    WriteFault fault;            // what happens to it
    bool ctsLow;                 // the far end stopped the line: nothing drains
    uint32_t bitsPerSecond;
    uint32_t bitsPerCharacter;
    uint32_t writeTimeout;       // milliseconds, 0 for none
    double queued;               // bytes taken that have not left, the chip's FIFO's too
    Clock::time_point drainedUntil;
};

SimulatedConverter converter = {};

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

void trace(const char* format, ...)
{
    const char* path = getenv("LINE_TRANSMITTER_SIM_TRACE");
    if (path == nullptr || *path == '\0') {
        return;
    }
    FILE* file = fopen(path, "ab");  // the same bytes on every platform
    if (file == nullptr) {
        return;
    }
    va_list arguments;
    va_start(arguments, format);
    vfprintf(file, format, arguments);
    va_end(arguments);
    fputc('\n', file);
    fclose(file);
}

const char* failSwitch()
{
    const char* value = getenv("LINE_TRANSMITTER_SIM_FAIL");
    return value != nullptr ? value : "";
}

bool failing(const char* call)
{
    return strcmp(failSwitch(), call) == 0;
}

// What FT_Open tells of a fail switch it refuses.
char refusal[256];
const char* refusalAdvice = "";

// Reads the write fault, if any, from the fail switch; false when the
// switch names nothing that this converter knows.
bool readFailSwitch()
{
    converter.faultyWrite = 0;
    converter.fault = kNoFault;
    const char* value = failSwitch();
    const char* const wholeCalls[] = {"", "FT_Open", "FT_SetBaudRate",
                                      "FT_SetDataCharacteristics", "FT_Close"};
    for (const char* call : wholeCalls) {
        if (strcmp(value, call) == 0) {
            return true;
        }
    }
    const char prefix[] = "FT_Write:";
    const char* number = value + sizeof prefix - 1;
    if (strncmp(value, prefix, sizeof prefix - 1) != 0 || *number < '1' || *number > '9') {
        return false;
    }
    char* rest = nullptr;
    errno = 0;
    unsigned long write = strtoul(number, &rest, 10);
    if (errno == ERANGE) {
        return false;
    }
    const struct {
        const char* suffix;
        WriteFault fault;
    } faults[] = {{"", kFailedWrite}, {":short", kShortWrite}, {":stall", kStalledWrites}};
    for (const auto& known : faults) {
        if (strcmp(rest, known.suffix) == 0) {
            converter.faultyWrite = write;
            converter.fault = known.fault;
            return true;
        }
    }
    return false;
}

bool isOurHandle(FT_HANDLE handle)
{
    return converter.open && handle == &converter;
}

}  // namespace

extern "C" {

FT_STATUS FT_API FT_Open(int deviceNumber, FT_HANDLE* handle)
{
    trace("FT_Open %d", deviceNumber);
    refusal[0] = '\0';
    if (!readFailSwitch()) {
        snprintf(refusal, sizeof refusal,
                 "LINE_TRANSMITTER_SIM_FAIL=%.100s is no fault of the simulated converter",
                 failSwitch());
        refusalAdvice = "set it to FT_Open, FT_SetBaudRate, FT_SetDataCharacteristics, FT_Close, "
                        "FT_Write:N, FT_Write:N:short or FT_Write:N:stall, or unset it";
        return FT_INVALID_PARAMETER;
    }
    const char* holds = getenv("LINE_TRANSMITTER_SIM_HOLDS");
    if (holds != nullptr && strspn(holds, "0123456789") != strlen(holds)) {
        snprintf(refusal, sizeof refusal,
                 "LINE_TRANSMITTER_SIM_HOLDS=%.100s is no count of bytes", holds);
        refusalAdvice = "set it to a number of bytes, or unset it";
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
    converter.writeTimeout = kWriteTimeoutAtOpen;
    converter.queued = 0;
    converter.drainedUntil = Clock::now();
    *handle = &converter;
    return FT_OK;
}

FT_STATUS FT_API FT_SetBaudRate(FT_HANDLE handle, uint32_t baudRate)
{
    trace("FT_SetBaudRate %lu", static_cast<unsigned long>(baudRate));
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
    trace("FT_SetDataCharacteristics %u %u %u", wordLength, stopBits, parity);
    if (!isOurHandle(handle)) {
        return FT_INVALID_HANDLE;
    }
    if (failing("FT_SetDataCharacteristics")) {
        return FT_IO_ERROR;
    }
    bool valid = (wordLength == FT_BITS_7 || wordLength == FT_BITS_8) &&
                 (stopBits == FT_STOP_BITS_1 || stopBits == FT_STOP_BITS_2) &&
                 parity <= FT_PARITY_EVEN;
    if (!valid) {
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
    trace("FT_Write %lu", static_cast<unsigned long>(bytesToWrite));
    *bytesWritten = 0;
    if (!isOurHandle(handle)) {
        return FT_INVALID_HANDLE;
    }
    ++converter.writes;
    WriteFault fault = converter.writes == converter.faultyWrite ? converter.fault : kNoFault;
    if (converter.fault == kStalledWrites && converter.faultyWrite != 0 &&
        converter.writes >= converter.faultyWrite) {
        drainQueue();
        converter.ctsLow = true;
        // No room comes: the write waits out its timeout, or for good
        // without one, unless a stop request ends the wait.
        uint32_t waited = 0;
        while ((converter.writeTimeout == 0 || waited < converter.writeTimeout) &&
               pauseInterruptibly(converter.writeTimeout == 0 ? 1000 : converter.writeTimeout)) {
            waited += converter.writeTimeout == 0 ? 1000 : converter.writeTimeout;
        }
        return FT_OK;
    }
    if (fault == kFailedWrite || converter.gone) {
        converter.gone = true;
        return FT_IO_ERROR;
    }
    uint32_t accepted = fault == kShortWrite ? (bytesToWrite + 1) / 2 : bytesToWrite;

    // What the receiver gets of each byte: only the configured data bits.
    unsigned char mask = static_cast<unsigned char>((1u << converter.wordLength) - 1u);
    const unsigned char* bytes = static_cast<const unsigned char*>(buffer);
    unsigned char chunk[512];
    uint32_t done = 0;
    while (done < accepted) {
        uint32_t count = accepted - done < sizeof chunk ? accepted - done : sizeof chunk;
        for (uint32_t i = 0; i < count; ++i) {
            chunk[i] = bytes[done + i] & mask;
        }
        if (!writeToWire(chunk, count)) {
            *bytesWritten = done;
            return FT_IO_ERROR;
        }
        done += count;
    }
    drainQueue();
    converter.queued += accepted;
    *bytesWritten = accepted;
    return FT_OK;
}

FT_STATUS FT_API FT_Close(FT_HANDLE handle)
{
    trace("FT_Close");
    if (!isOurHandle(handle)) {
        return FT_INVALID_HANDLE;
    }
    converter.open = false;
    return failing("FT_Close") || converter.gone ? FT_IO_ERROR : FT_OK;
}

FT_STATUS FT_API FT_SetFlowControl(FT_HANDLE handle, uint16_t flowControl, uint8_t xon,
                                   uint8_t xoff)
{
    trace("FT_SetFlowControl %u %u %u", flowControl, xon, xoff);
    if (!isOurHandle(handle)) {
        return FT_INVALID_HANDLE;
    }
    bool known = flowControl == FT_FLOW_NONE || flowControl == FT_FLOW_RTS_CTS ||
                 flowControl == FT_FLOW_DTR_DSR || flowControl == FT_FLOW_XON_XOFF;
    return known ? FT_OK : FT_INVALID_PARAMETER;
}

FT_STATUS FT_API FT_SetTimeouts(FT_HANDLE handle, uint32_t readTimeout, uint32_t writeTimeout)
{
    trace("FT_SetTimeouts %lu %lu", static_cast<unsigned long>(readTimeout),
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
    trace("FT_GetStatus");
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
    trace("FT_GetModemStatus");
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
    trace("FT_Purge %lu", static_cast<unsigned long>(mask));
    if (!isOurHandle(handle)) {
        return FT_INVALID_HANDLE;
    }
    if ((mask & FT_PURGE_TX) != 0) {
        converter.queued = 0;
    }
    return FT_OK;
}

}  // extern "C"

// The simulated hardware has no more to say than its statuses, but for a
// fail switch that FT_Open refused.
ConverterFailure lastConverterFailure()
{
    if (refusal[0] != '\0') {
        return ConverterFailure{refusal, refusalAdvice};
    }
    return ConverterFailure{"", ""};
}

// As much as a real converter may hold, so that the program's resend point
// can be seen: LINE_TRANSMITTER_SIM_HOLDS bytes, 10 KiB unless it says.
uint32_t converterHoldsAtMost(FT_HANDLE)
{
    const char* value = getenv("LINE_TRANSMITTER_SIM_HOLDS");
    return value != nullptr && *value != '\0'
               ? static_cast<uint32_t>(strtoul(value, nullptr, 10))
               : 10240;
}
