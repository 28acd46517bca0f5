// line-transmitter: sends each line of standard input, followed by a line
// feed, through converter 0 at 19200 baud, 7 data bits, even parity, 1 stop
// bit. A line that holds ESC is the last one sent. Silent unless something
// fails; then one message per failure on standard error and exit status 1.
#include <errno.h>
#include <stdio.h>
#include <string.h>

#include "ftd2xx.h"
#include "transmit_line.h"

namespace {
const char kNotFoundAdvice[] =
    "is the converter plugged in, and its driver installed?";
const char kNotOpenedAdvice[] =
    "is another program using the converter, or may this user not open it "
    "(on Linux: is the user in the group that owns /dev/ttyUSB*, usually dialout)?";
const char kGoneAdvice[] = "check that the converter is still plugged in and the cable is sound";

// One line on standard error: what failed, the driver's status by name, and
// what the user can do about it.
void report(const char* what, FT_STATUS status, const char* advice)
{
    static const char* const names[] = {
        "FT_OK", "FT_INVALID_HANDLE", "FT_DEVICE_NOT_FOUND", "FT_DEVICE_NOT_OPENED",
        "FT_IO_ERROR", "FT_INSUFFICIENT_RESOURCES", "FT_INVALID_PARAMETER",
        "FT_INVALID_BAUD_RATE"};
    if (status < sizeof names / sizeof names[0]) {
        fprintf(stderr, "line-transmitter: %s (%s): %s\n", what, names[status], advice);
    } else {
        fprintf(stderr, "line-transmitter: %s (driver status %lu): %s\n", what,
                static_cast<unsigned long>(status), advice);
    }
}
}  // namespace

int main(int, char**)
{
    FT_HANDLE ftHandle = nullptr;
    FT_STATUS status = FT_Open(0, &ftHandle);
    if (status != FT_OK) {
        report("cannot open converter 0", status,
               status == FT_DEVICE_NOT_OPENED ? kNotOpenedAdvice : kNotFoundAdvice);
        return 1;
    }

    // A line at the wrong framing reaches the receiver as garbage, so
    // nothing is sent unless both settings took.
    status = FT_SetBaudRate(ftHandle, 19200);
    if (status != FT_OK) {
        report("cannot set converter 0 to 19200 baud; nothing was sent", status, kGoneAdvice);
        FT_Close(ftHandle);
        return 1;
    }
    status = FT_SetDataCharacteristics(ftHandle, FT_BITS_7, FT_STOP_BITS_1, FT_PARITY_EVEN);
    if (status != FT_OK) {
        report("cannot set converter 0 to 7 data bits, even parity, 1 stop bit; nothing was sent",
               status, kGoneAdvice);
        FT_Close(ftHandle);
        return 1;
    }

    unsigned long linesSent = 0;
    FT_STATUS writeStatus = FT_OK;
    while (transmitLine(ftHandle, &writeStatus)) {
        ++linesSent;
    }
    int readError = ferror(stdin) ? errno : 0;

    int exitStatus = 0;
    char what[200];
    if (writeStatus != FT_OK) {
        snprintf(what, sizeof what,
                 "sending to converter 0 failed after %lu %s went out whole; "
                 "nothing from line %lu on is sure to have arrived", linesSent,
                 linesSent == 1 ? "line" : "lines", linesSent + 1);
        report(what, writeStatus, kGoneAdvice);
        exitStatus = 1;
    } else if (readError != 0) {
        fprintf(stderr,
                "line-transmitter: reading standard input failed (%s) after %lu %s went "
                "out whole: check what feeds the program and send from line %lu again\n",
                strerror(readError), linesSent, linesSent == 1 ? "line" : "lines",
                linesSent + 1);
        exitStatus = 1;
    }

    status = FT_Close(ftHandle);
    if (status != FT_OK) {
        report("closing converter 0 failed; the last lines may not have left it", status,
               kGoneAdvice);
        exitStatus = 1;
    }
    return exitStatus;
}
