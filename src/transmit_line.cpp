#include "transmit_line.h"

#include <errno.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include "stop_requests.h"

namespace {
const int32_t kTxBufferSize = 1000;            // 999 characters and the line feed
const int32_t kPieceSize = kTxBufferSize - 1;  // of a line longer than that, at a time
const char kEscape = 0x1B;                     // the stop mark
const char kLineFeed = 0x0A;                   // the line terminator on the wire

enum Piece { kMoreFollows, kLineEnds, kNoLine };

// How many bytes fgets stored at `from`, a region of `room` bytes that was
// filled with line feeds before it. fgets stores a line feed only as the
// last byte it reads, then a NUL: so the region's first line feed is either
// that one, with the NUL right behind it, or the fill's first, behind the
// NUL, or right behind the bytes where a failed read stored no NUL (the C
// library keeps what it read before a signal cut the read short). The
// count is exact even where the input holds NULs, so that a read cut short
// goes on where it stopped. *lineEnded: the read ended at the line feed
// that ends the line.
int32_t storedByRead(const char* from, int32_t room, bool succeeded, bool* lineEnded)
{
    const void* found = memchr(from, kLineFeed, static_cast<size_t>(room));
    *lineEnded = false;
    if (found == nullptr) {
        return room - 1;  // full; the NUL takes the last place
    }
    int32_t at = static_cast<int32_t>(static_cast<const char*>(found) - from);
    if (!succeeded) {
        return at;
    }
    if (at + 1 < room && from[at + 1] == '\0') {
        *lineEnded = true;
        return at + 1;
    }
    return at - 1;
}

// The one rule of stop requests: a request stops what has not begun, the
// reading and a line no write of which was made; a second, the line too.
bool stopRequested(bool lineUnderWay)
{
    return stopRequests() > (lineUnderWay ? 1 : 0);
}

// After a read that ended short of a line feed, neither at a full buffer
// nor at the end of input: true when it is to be tried again (a signal cut
// it short), false when the line is given up, at a read error (its reason
// then in progress->readError) or a stop request.
bool readAgainAfterShortRead(bool lineUnderWay, TransmitProgress* progress)
{
    if (ferror(stdin) && errno != EINTR) {
        progress->readError = errno;
        return false;
    }
    clearerr(stdin);
    return !stopRequested(lineUnderWay);
}

// Reads the next piece of the current line into txBuffer: up to 999 bytes,
// without the line feed that ends the line, and *count of them. kNoLine:
// nothing more of a line can be had (end of input before it, a read error,
// a stop request).
Piece readPiece(char* txBuffer, int32_t* count, bool lineUnderWay, TransmitProgress* progress)
{
    // Line feeds, not zeros: see storedByRead.
    memset(txBuffer, kLineFeed, kTxBufferSize);
    int32_t stored = 0;
    while (stored < kPieceSize) {
        int32_t room = kTxBufferSize - stored;
        txBuffer[stored] = kLineFeed;  // over the NUL that a short read left
        bool succeeded = fgets(txBuffer + stored, room, stdin) != nullptr;
        bool lineEnded = false;
        stored += storedByRead(txBuffer + stored, room, succeeded, &lineEnded);
        if (lineEnded) {
            *count = stored - 1;
            return kLineEnds;
        }
        if (stored == kPieceSize) {
            break;
        }
        if (!ferror(stdin) && inputEnded()) {
            // A last line without an end-of-line mark still ends here.
            *count = stored;
            return stored > 0 || lineUnderWay ? kLineEnds : kNoLine;
        }
        if (!readAgainAfterShortRead(lineUnderWay, progress)) {
            return kNoLine;  // a partly read line is not passed off as a whole one
        }
    }
    // The buffer is full. If the line ends right here, this piece goes out
    // with the line feed, in one write like a short line.
    *count = stored;
    for (;;) {
        int next = getc(stdin);
        if (next == '\n' || (next == EOF && !ferror(stdin) && inputEnded())) {
            return kLineEnds;
        }
        if (next != EOF) {
            ungetc(next, stdin);
            return kMoreFollows;
        }
        if (!readAgainAfterShortRead(lineUnderWay, progress)) {
            return kNoLine;
        }
    }
}

// The length of the piece up to its first NUL or its first byte above 0x7F,
// which a 7-bit line cannot carry; *stop is set at an ESC before that.
int32_t scanPiece(const char* txBuffer, bool* stop)
{
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(txBuffer);
    int32_t length = 0;
    for (;; ++length) {
        unsigned char byte = bytes[length];
        if (static_cast<unsigned char>(byte - 0x20) < 0x5F) {
            continue;  // printable: the common case, one test
        }
        if (byte == '\0' || byte > 0x7F) {
            return length;
        }
        if (byte == kEscape) {
            *stop = true;
        }
    }
}

// Hands count bytes to the converter, continuing short writes with the
// rest; the first write puts the line under way. False at a stop request
// that stops the line, when a write fails, or when one takes nothing (the
// driver waited out its deadline, or was told to stop waiting).
bool writeWhole(FT_HANDLE ftHandle, char* txBuffer, uint32_t count, bool* lineUnderWay,
                TransmitProgress* progress)
{
    uint32_t sent = 0;
    while (sent < count) {
        if (stopRequested(*lineUnderWay)) {
            return false;
        }
        *lineUnderWay = true;
        uint32_t bajty = 0;
        FT_STATUS status = FT_Write(ftHandle, txBuffer + sent, count - sent, &bajty);
        uint32_t taken = bajty < count - sent ? bajty : count - sent;
        sent += taken;
        progress->bytesHandedOver += taken;
        if (status != FT_OK) {
            progress->writeStatus = status;
            return false;
        }
        if (taken == 0) {
            progress->stalled = !toldToStopWaiting();
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
    bool afterNul = false;            // nothing after a line's first NUL goes out
    bool lineUnderWay = false;        // a write of this line was made
    unsigned long lineBytesRead = 0;  // of this line, in the pieces before

    // A line longer than 999 characters is read, and sent, a piece at a time.
    for (;;) {
        if (stopRequested(lineUnderWay)) {
            return false;
        }
        int32_t stored = 0;
        Piece piece = readPiece(txBuffer, &stored, lineUnderWay, progress);
        if (piece == kNoLine) {
            memset(txBuffer, 0, sizeof txBuffer);
            return false;
        }
        txBuffer[stored] = '\0';  // behind the piece
        int32_t length = 0;
        if (!afterNul) {
            length = scanPiece(txBuffer, &stop);
            unsigned char refused = static_cast<unsigned char>(txBuffer[length]);
            if (refused > 0x7F) {
                // Sent, it would arrive as another character: nothing of the
                // piece goes out.
                progress->refusedByte = refused;
                progress->refusedColumn = lineBytesRead + static_cast<unsigned long>(length) + 1;
                memset(txBuffer, 0, sizeof txBuffer);
                return false;
            }
            afterNul = length < stored;
        }
        if (piece == kLineEnds) {
            txBuffer[length] = kLineFeed;  // over the NUL behind the line
            ++length;
        }
        bool handedOver =
            writeWhole(ftHandle, txBuffer, static_cast<uint32_t>(length), &lineUnderWay, progress);
        memset(txBuffer, 0, sizeof txBuffer);
        if (!handedOver) {
            return false;
        }
        if (piece == kLineEnds) {
            ++progress->linesHandedOver;
            return !stop;
        }
        lineBytesRead += static_cast<unsigned long>(stored);
    }
}
