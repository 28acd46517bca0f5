#include "messages.h"

#include <stdio.h>

#include "ftd2xx_status_names.h"

namespace {

const char kConvertToSevenBits[] =
    "convert the text to 7-bit ASCII first, as in iconv -f UTF-8 -t ASCII//TRANSLIT";

// What a receiver on a 7-bit line gets of a byte above 0x7F: "a line feed",
// "ESC", "'i'", ...
void describeSevenBitArrival(char* text, size_t size, unsigned char byte)
{
    // The control characters by the names a user of a serial line knows.
    // clang-format off
    static const char* const controls[32] = {
        "NUL", "SOH", "STX", "ETX", "EOT", "ENQ", "ACK", "BEL", "BS", "a tab", "a line feed",
        "VT", "FF", "a carriage return", "SO", "SI", "DLE", "XON", "DC2", "XOFF", "DC4", "NAK",
        "SYN", "ETB", "CAN", "EM", "SUB", "ESC", "FS", "GS", "RS", "US"};
    // clang-format on
    unsigned char arrives = byte & 0x7F;
    if (arrives < 32 || arrives == 0x7F) {
        snprintf(text, size, "%s", arrives == 0x7F ? "DEL" : controls[arrives]);
    } else {
        snprintf(text, size, arrives == ' ' ? "a space" : "'%c'", arrives);
    }
}

}  // namespace

void report(const char* what, const char* cause, const char* where, const char* advice)
{
    fprintf(stderr, "%s%s (%s)%s%s%s%s\n", kMessagePrefix, what, cause, where[0] ? "; " : "", where,
            advice[0] ? "; " : "", advice);
}

void notice(const char* text)
{
    fprintf(stderr, "%s%s\n", kMessagePrefix, text);
}

void describeCause(char* text, size_t size, FT_STATUS status, const ConverterFailure& failure)
{
    const char* name = failure.detail[0] != '\0' ? failure.detail : ftStatusName(status);
    if (name != nullptr) {
        snprintf(text, size, "%s", name);
    } else {
        snprintf(text, size, "driver status %lu", static_cast<unsigned long>(status));
    }
}

const char* adviceFor(const ConverterFailure& failure, const char* otherwise)
{
    return failure.advice[0] != '\0' ? failure.advice : otherwise;
}

void reportSevenBitRefusal(unsigned long line, unsigned long column, unsigned char byte,
                           const char* where)
{
    char what[100];
    char arrival[40];
    char cause[100];
    snprintf(what, sizeof what, kSevenBitsCannotCarry, line);
    describeSevenBitArrival(arrival, sizeof arrival, byte);
    snprintf(cause, sizeof cause, "column %lu: 0x%02X would arrive as %s", column, byte, arrival);
    report(what, cause, where, kConvertToSevenBits);
}

void reportInterruption(const char* first, const char* second, const char* closeCause,
                        const char* where)
{
    bool twice = second != nullptr;
    char signals[40];
    snprintf(signals, sizeof signals, "%s%s%s", first, twice ? ", then " : "", twice ? second : "");
    char what[60];
    snprintf(what, sizeof what, kInterrupted, signals);
    char cause[400];
    snprintf(cause, sizeof cause, "%s%s", twice && closeCause != nullptr ? "stopped at once: " : "",
             closeCause != nullptr ? closeCause
             : twice               ? "stopped at once; the converter was closed"
                                   : "the converter was drained and closed");
    report(what, cause, where, "");
}
