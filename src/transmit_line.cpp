#include "transmit_line.h"

#include <errno.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#ifdef _WIN32
#define getc_unlocked _getc_nolock
#else
#include <poll.h>
#include <unistd.h>
#endif

volatile sig_atomic_t interruptingSignals = 0;

namespace {
const int32_t kTxBufferSize = 1000;  // 999 characters and the line feed
const char kEscape = 0x1B;           // the stop mark
const char kLineFeed = 0x0A;         // the line terminator on the wire
const int kAbandoned = -2;           // no byte: a signal ended the reading

enum Piece { kMoreFollows, kLineEnds, kNoLine };

// Waits until a non-blocking standard input has something to read. Its
// flags belong to whoever shares it, so they are left as they are.
void waitForInput()
{
#ifndef _WIN32
    pollfd input = {STDIN_FILENO, POLLIN, 0};
    poll(&input, 1, -1);  // a signal ends the wait too; the caller looks
#endif
}

// The next byte of standard input, EOF at its end or on a read error, or
// kAbandoned when a signal came while it waited for input. A line that has
// begun going out is finished after the first signal, so the receiver never
// gets a fragment; the second abandons it too. Bytes already buffered are
// taken without a look at the signals: the run looks at each line's start
// and before each write.
int nextInputByte(bool finishingLine)
{
    int byte = getc_unlocked(stdin);  // one thread: the stream needs no lock
    while (byte == EOF && ferror(stdin)) {
        int reason = errno;
        if (reason != EINTR && reason != EAGAIN && reason != EWOULDBLOCK) {
            return EOF;
        }
        clearerr(stdin);
        if (reason != EINTR) {
            waitForInput();
        }
        if (interruptingSignals >= 2 || (interruptingSignals == 1 && !finishingLine)) {
            return kAbandoned;
        }
        byte = getc_unlocked(stdin);
    }
    return byte;
}

// Reads the next piece of the current line into txBuffer: up to 999 bytes,
// without the line feed that ends it, and *count of them. kNoLine: nothing
// more of a line can be had (end of input before it, a read error, a signal).
Piece readPiece(char* txBuffer, int32_t* count, bool finishingLine,
                TransmitProgress* progress)
{
    int32_t stored = 0;
    int byte = 0;
    while (stored < kTxBufferSize - 1) {
        byte = nextInputByte(finishingLine);
        if (byte == EOF || byte == kAbandoned || byte == '\n') {
            break;
        }
        txBuffer[stored++] = static_cast<char>(byte);
    }
    if (stored == kTxBufferSize - 1) {
        // The buffer is full. If the line ends right here, this piece goes
        // out with the line feed, in one write like a short line.
        byte = nextInputByte(finishingLine);
        if (byte != EOF && byte != kAbandoned && byte != '\n') {
            ungetc(byte, stdin);
            *count = stored;
            return kMoreFollows;
        }
    }
    *count = stored;
    if (byte == kAbandoned || (byte == EOF && ferror(stdin))) {
        // A partly read line is not passed off as a whole one.
        progress->readError = byte == EOF ? errno : 0;
        return kNoLine;
    }
    // A last line without an end-of-line mark still ends here.
    return byte == '\n' || stored > 0 || finishingLine ? kLineEnds : kNoLine;
}

// The length up to the piece's first NUL; sets *stop at an ESC before it.
int32_t scanToFirstNul(const char* txBuffer, bool* stop)
{
    int32_t length = 0;
    while (txBuffer[length] != '\0') {
        if (txBuffer[length] == kEscape) {
            *stop = true;
        }
        ++length;
    }
    return length;
}

// Hands count bytes to the converter, continuing short writes with the rest.
// False when a write fails, when one takes nothing with no signal to explain
// it (the driver waited out its deadline), or at a second signal.
bool writeWhole(FT_HANDLE ftHandle, char* txBuffer, uint32_t count,
                TransmitProgress* progress)
{
    uint32_t sent = 0;
    while (sent < count) {
        if (interruptingSignals >= 2) {
            return false;
        }
        sig_atomic_t signalsBefore = interruptingSignals;
        uint32_t bajty = 0;
        FT_STATUS status = FT_Write(ftHandle, txBuffer + sent, count - sent, &bajty);
        uint32_t taken = bajty < count - sent ? bajty : count - sent;
        sent += taken;
        progress->bytesHandedOver += taken;
        if (status != FT_OK) {
            progress->writeStatus = status;
            return false;
        }
        if (taken == 0 && interruptingSignals == signalsBefore) {
            progress->stalled = true;
            return false;
        }
    }
    return true;
}

}  // namespace

bool transmitLine(FT_HANDLE ftHandle, TransmitProgress* progress)
{
    char txBuffer[kTxBufferSize];
    bool stop = false;
    bool afterNul = false;       // nothing after a line's first NUL goes out
    bool finishingLine = false;  // a piece of this line has gone out

    if (interruptingSignals > 0) {
        return false;  // no line is begun after a signal
    }
    // A line longer than 999 characters is read, and sent, a piece at a time.
    for (;;) {
        memset(txBuffer, 0, sizeof txBuffer);
        int32_t stored = 0;
        Piece piece = readPiece(txBuffer, &stored, finishingLine, progress);
        if (piece == kNoLine) {
            memset(txBuffer, 0, sizeof txBuffer);
            return false;
        }
        int32_t length = 0;
        if (!afterNul) {
            length = scanToFirstNul(txBuffer, &stop);
            afterNul = length < stored;
        }
        if (piece == kLineEnds) {
            txBuffer[length] = kLineFeed;  // over the NUL behind the line
            ++length;
        }
        bool handedOver = writeWhole(ftHandle, txBuffer, static_cast<uint32_t>(length), progress);
        memset(txBuffer, 0, sizeof txBuffer);
        if (!handedOver) {
            return false;
        }
        if (piece == kLineEnds) {
            ++progress->linesHandedOver;
            return !stop;
        }
        finishingLine = finishingLine || length > 0;
    }
}
