// Our own declaration of the five D2XX driver calls that line-transmitter
// makes, of the status and line-setting values they use, and of three calls
// of ours: why a call failed, how much the converter may hold, and that the
// driver must stop waiting. Every driver in this folder implements exactly
// these; the program never knows which one it is linked with.
//
// Every call blocks until it is done; none but converterStopWaiting is safe
// to call from a signal handler. A handle is valid from a successful
// FT_Open to its FT_Close. A driver's own waits (for room, for the drain)
// end early only when the program tells it to stop waiting; a signal that
// does not tell it changes nothing. The vendor's library also waits in its
// own code (a write, up to the timeout that its driver sets), which nothing
// ends early.
#ifndef LINE_TRANSMITTER_FTD2XX_H
#define LINE_TRANSMITTER_FTD2XX_H

#include <stdint.h>

#ifdef _WIN32
#define FT_API __stdcall  // WINAPI, the vendor library's calling convention
#else
#define FT_API
#endif

typedef void* FT_HANDLE;     // one open converter; opaque to the program
typedef uint32_t FT_STATUS;  // every call's result; FT_OK means success

enum {
    FT_OK = 0,
    FT_INVALID_HANDLE = 1,
    FT_DEVICE_NOT_FOUND = 2,
    FT_DEVICE_NOT_OPENED = 3,
    FT_IO_ERROR = 4,
    FT_INSUFFICIENT_RESOURCES = 5,
    FT_INVALID_PARAMETER = 6,
    FT_INVALID_BAUD_RATE = 7
};

enum { FT_BITS_7 = 7, FT_BITS_8 = 8 };
enum { FT_STOP_BITS_1 = 0, FT_STOP_BITS_2 = 2 };
enum { FT_PARITY_NONE = 0, FT_PARITY_ODD = 1, FT_PARITY_EVEN = 2 };

// How long a converter may take no byte, while a write waits for room or
// the close waits for the drain, before it counts as stopped.
const uint32_t kStallMilliseconds = 10000;

#ifdef __cplusplus
extern "C" {
#endif

// Opens converter deviceNumber (0: the first that the driver lists) for this
// process alone. The line then runs at 9600 baud, 8 data bits, no parity,
// 1 stop bit, with no flow control of any kind and nothing translated,
// whatever another program left on it. On failure *handle is not touched.
FT_STATUS FT_API FT_Open(int deviceNumber, FT_HANDLE* handle);

// Sets the line's speed; FT_INVALID_BAUD_RATE for one the converter lacks.
FT_STATUS FT_API FT_SetBaudRate(FT_HANDLE handle, uint32_t baudRate);

// Sets word length, stop bits and parity (the values below), all three
// together; FT_INVALID_PARAMETER, with the line unchanged, for others.
FT_STATUS FT_API FT_SetDataCharacteristics(FT_HANDLE handle, uint8_t wordLength,
                                           uint8_t stopBits, uint8_t parity);

// Hands bytes to the converter, in order. It returns once the driver has
// taken them, not once they have left: the driver and the chip together may
// still hold many KiB. It may take fewer than asked and answer FT_OK; the
// caller goes on with the rest. A converter that has no room is waited for,
// at most kStallMilliseconds from the call (one stall costs one deadline),
// except by the simulated converter, whose wire, standard output, waits for
// its reader as long as that takes. FT_OK with none taken: nothing was
// taken by then, or the driver has been told to stop waiting.
// *bytesWritten counts the bytes taken, on failure too.
FT_STATUS FT_API FT_Write(FT_HANDLE handle, void* buffer, uint32_t bytesToWrite,
                          uint32_t* bytesWritten);

// Waits until every byte taken has left the converter, then releases it.
// The wait lasts at most the wire time of what is still queued plus
// kStallMilliseconds, none after a write that took nothing for that long;
// the kernel driver's also ends once no byte has left for that long. Told
// to stop waiting, before or during the close, it gives the wait up. FT_OK
// only when every byte left; after a wait given up, what the driver and the
// chip still hold may be dropped, or may still go out, in part, after the
// close (which each driver says). The handle is invalid afterwards in any
// case.
FT_STATUS FT_API FT_Close(FT_HANDLE handle);

#ifdef __cplusplus
}
#endif

// Ours, not the vendor's: what the driver knows of the last call that
// failed, for the program's message. detail names the port and the
// system's reason ("/dev/ttyUSB0: Permission denied"); advice says what the
// user can do about it. Each is "" (never null) when the driver has nothing
// to add; the texts stay valid until the next driver call.
struct ConverterFailure {
    const char* detail;
    const char* advice;
};
ConverterFailure lastConverterFailure();

// Ours, not the vendor's: the most bytes that the driver and the converter
// together may still hold, for an open handle, between a write's return and
// the wire. A byte handed over at least this many bytes before a failure
// has surely left; any later one may have been lost. A real converter's
// bound is at most a memory page of the largest size that Linux has, plus
// 8 KiB.
uint32_t converterHoldsAtMost(FT_HANDLE handle);
const uint32_t kLargestPageSize = 262144;

// Ours, not the vendor's: the program has been asked to stop at once. From
// this call to the end of the next FT_Close, no wait of the driver's own
// begins, and one under way ends at once when this is called from the
// handler of a signal that interrupted it (POSIX), or with an asynchronous
// procedure call queued to the waiting thread after it (Windows): FT_Write
// answers with what it took, FT_Close gives up the drain. Safe to call from
// a signal handler and from another thread. (The simulated converter's
// write to a full standard output on Windows, a WriteFile, is the one wait
// that nothing ends.)
void converterStopWaiting();

#endif
