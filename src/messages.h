// The program's one message: one line on standard error that says what
// failed, the cause, where the user stands, and what to do.
#ifndef LINE_TRANSMITTER_MESSAGES_H
#define LINE_TRANSMITTER_MESSAGES_H

#include <stddef.h>

#include "ftd2xx.h"

// How every message begins, after "line-transmitter: ": the manual page's
// DIAGNOSTICS heads an entry with each (a test holds them to it).
const char kCannotOpen[] = "cannot open converter 0";
const char kCannotSetSpeed[] = "cannot set converter 0 to 19200 baud";
const char kCannotSetFraming[] = "cannot set converter 0 to 7 data bits, even parity, 1 stop bit";
const char kSendingFailed[] = "sending to converter 0 failed";
const char kSevenBitsCannotCarry[] = "line %lu holds a byte that 7 data bits cannot carry";
const char kInterrupted[] = "interrupted by %s";
const char kReadingFailed[] = "reading standard input failed";
const char kClosingFailed[] = "closing converter 0 failed";
const char kInputClosed[] = "standard input is closed";
const char kIgnoringArgument[] =
    "ignoring '%s': lines are read from standard input, as in line-transmitter < commands.txt";
const char kCannotWriteOutput[] = "cannot write the %s to standard output";
const char* const kEveryMessage[] = {kCannotOpen,       kCannotSetSpeed,       kCannotSetFraming,
                                     kSendingFailed,    kSevenBitsCannotCarry, kInterrupted,
                                     kReadingFailed,    kClosingFailed,        kInputClosed,
                                     kIgnoringArgument, kCannotWriteOutput};

const char kMessagePrefix[] = "line-transmitter: ";
const char kCheckTheConverter[] =
    "check that the converter is still plugged in and the cable is sound";

// "line-transmitter: WHAT (CAUSE); WHERE; ADVICE", the last two left out
// where they are "".
void report(const char* what, const char* cause, const char* where, const char* advice);

// "line-transmitter: TEXT", a line that reports no failure.
void notice(const char* text);

// The cause of a driver call's failure: the driver's own detail, else the
// status's name, else its number.
void describeCause(char* text, size_t size, FT_STATUS status, const ConverterFailure& failure);

// The driver's advice, or `otherwise` where it has none.
const char* adviceFor(const ConverterFailure& failure, const char* otherwise);

// A byte above 0x7F stopped the run before its piece of the line went out.
void reportSevenBitRefusal(unsigned long line, unsigned long column, unsigned char byte,
                           const char* where);

// Stop requests ended the run: the first's name, the second's (nullptr for
// none), and whether the close drained (closeCause nullptr) or why not.
// Never "drained" after a second.
void reportInterruption(const char* first, const char* second, const char* closeCause,
                        const char* where);

#endif
