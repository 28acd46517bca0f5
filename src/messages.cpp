#include "messages.h"

#include <stdio.h>

#include "ftd2xx_status_names.h"

void report(const char* what, const char* cause, const char* where, const char* advice)
{
    fprintf(stderr, "line-transmitter: %s (%s)%s%s%s%s\n", what, cause, where[0] ? "; " : "",
            where, advice[0] ? "; " : "", advice);
}

void describeCause(char* text, size_t size, FT_STATUS status, const ConverterFailure& failure)
{
    const char* name = ftStatusName(status);
    if (failure.detail[0] != '\0') {
        snprintf(text, size, "%s", failure.detail);
    } else if (name != nullptr) {
        snprintf(text, size, "%s", name);
    } else {
        snprintf(text, size, "driver status %lu", static_cast<unsigned long>(status));
    }
}

const char* adviceFor(const ConverterFailure& failure, const char* otherwise)
{
    return failure.advice[0] != '\0' ? failure.advice : otherwise;
}

void describeSevenBitArrival(char* text, size_t size, unsigned char byte)
{
    // The control characters by the names a user of a serial line knows.
    static const char* const controls[32] = {
        "NUL", "SOH", "STX", "ETX", "EOT", "ENQ", "ACK", "BEL", "BS", "a tab", "a line feed",
        "VT", "FF", "a carriage return", "SO", "SI", "DLE", "XON", "DC2", "XOFF", "DC4", "NAK",
        "SYN", "ETB", "CAN", "EM", "SUB", "ESC", "FS", "GS", "RS", "US"};
    unsigned char arrives = byte & 0x7F;
    if (arrives < 32) {
        snprintf(text, size, "%s", controls[arrives]);
    } else if (arrives == 0x7F) {
        snprintf(text, size, "DEL");
    } else if (arrives == ' ') {
        snprintf(text, size, "a space");
    } else {
        snprintf(text, size, "'%c'", arrives);
    }
}
