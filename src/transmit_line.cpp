#include "transmit_line.h"

#include <stdint.h>
#include <stdio.h>
#include <string.h>

namespace {
const int32_t kTxBufferSize = 1000;  // 999 characters and the line feed
const char kEscape = 0x1B;           // the stop mark
const char kLineFeed = 0x0A;         // the line terminator on the wire
}  // namespace

bool transmitLine(FT_HANDLE ftHandle, FT_STATUS* writeStatus)
{
    char txBuffer[kTxBufferSize];
    bool stop = false;
    bool afterNul = false;  // nothing after a line's first NUL goes out
    bool lineEnded = false;
    *writeStatus = FT_OK;

    // A line longer than 999 characters is read, and sent, a buffer at a time.
    while (!lineEnded) {
        int32_t length = 0;
        memset(txBuffer, 0, sizeof txBuffer);
        bool gotPiece = fgets(txBuffer, kTxBufferSize, stdin) != nullptr;
        if (!gotPiece || ferror(stdin)) {
            // Input ended before this line began, or could not be read: a
            // partly read line is not passed off as a whole one.
            memset(txBuffer, 0, sizeof txBuffer);
            return false;
        }

        // The buffer was zero-filled, so a line feed in it can only be the
        // one that ended the read, even behind a NUL from the input.
        char* endOfLine = static_cast<char*>(memchr(txBuffer, '\n', kTxBufferSize - 1));
        if (endOfLine != nullptr) {
            *endOfLine = '\0';
            lineEnded = true;
        } else if (feof(stdin)) {
            lineEnded = true;  // a last line without an end-of-line mark
        } else {
            // The buffer is full. If the line ends right here, its last piece
            // goes out with the line feed, in one write like a short line.
            int next = getc(stdin);
            if (next == '\n' || next == EOF) {
                lineEnded = true;
            } else {
                ungetc(next, stdin);
            }
            if (ferror(stdin)) {
                memset(txBuffer, 0, sizeof txBuffer);
                return false;
            }
        }

        if (!afterNul) {
            while (txBuffer[length] != '\0') {
                if (txBuffer[length] == kEscape) {
                    stop = true;
                }
                ++length;
            }
            afterNul = length < kTxBufferSize - 1;
        }
        if (lineEnded) {
            txBuffer[length] = kLineFeed;  // over the NUL behind the line
            ++length;
        }

        // A converter may accept fewer bytes than asked; the rest follows.
        uint32_t toSend = static_cast<uint32_t>(length);
        uint32_t sent = 0;
        while (sent < toSend) {
            uint32_t bajty = 0;
            FT_STATUS status = FT_Write(ftHandle, txBuffer + sent, toSend - sent, &bajty);
            if (status != FT_OK || bajty == 0) {
                // A write that takes nothing would stall the run for ever.
                *writeStatus = status != FT_OK ? status : FT_STATUS{FT_IO_ERROR};
                memset(txBuffer, 0, sizeof txBuffer);
                return false;
            }
            sent += bajty < toSend - sent ? bajty : toSend - sent;
        }
        memset(txBuffer, 0, sizeof txBuffer);
    }
    return !stop;
}
