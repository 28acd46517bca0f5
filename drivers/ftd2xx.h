// Our own declaration of the five D2XX driver calls that line-transmitter
// makes, of the status and line-setting values they use, and of one call of
// ours that tells why a call failed. Every driver in this folder implements
// exactly these; the program never knows which one it is linked with.
//
// Every call blocks until it is done; none is safe to call from a signal
// handler. A handle is valid from a successful FT_Open to its FT_Close.
// A wait of the driver's own (for room, for the drain) lets every stop
// request through, so that it ends the wait early. On POSIX a request is a
// signal: one that the caller holds blocked gets through too, one that it
// ignores does not. On Windows the wait is alertable (SleepEx(..., TRUE)): an
// asynchronous procedure call queued to the waiting thread, as the console
// handler queues one at a second request, ends it. The simulated converter
// has no waits of its own: its wire is standard output. The vendor's library
// waits in its own code too (a write, up to the timeout that its driver
// sets), which no request ends.
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
// caller goes on with the rest. FT_OK with none taken means that the
// converter took nothing for 10 s, or that a signal was handled meanwhile:
// in the kernel driver, one pending as its wait for room begins, held or
// not, ends that wait at once.
// The 10 s count from the call: one stall costs one deadline. *bytesWritten
// counts the bytes taken, on failure too.
FT_STATUS FT_API FT_Write(FT_HANDLE handle, void* buffer, uint32_t bytesToWrite,
                          uint32_t* bytesWritten);

// Waits until every byte taken has left the converter, then releases it.
// The wait lasts at most the wire time of what is still queued plus 10 s,
// none after a write that took nothing for 10 s; the kernel driver's also
// ends once no byte has left for 10 s. It ends early at a stop request, and
// one pending when the close begins, held or not, ends it at once. FT_OK
// only when every byte left; after a wait cut short, what the driver and
// the chip still hold may be dropped, or may still go out, in part, after
// the close (which each driver says). The handle is invalid afterwards in
// any case.
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
// has surely left; any later one may have been lost.
uint32_t converterHoldsAtMost(FT_HANDLE handle);

#endif
