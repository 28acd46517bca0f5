#include "command_line.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>
#ifndef _WIN32
#include <langinfo.h>
#include <locale.h>
#endif

#include "exit_status.h"
#include "messages.h"

#ifndef LINE_TRANSMITTER_VERSION
#define LINE_TRANSMITTER_VERSION "unreleased"
#endif

namespace {

const char kUsage[] =
    "Usage: line-transmitter < FILE, or COMMAND | line-transmitter\n"
    "Sends each line of standard input, then a line feed, out of FTDI converter 0 at 19200 "
    "baud, 7 data bits, even parity, 1 stop bit; the run ends after a line holding ESC, or "
    "at the end of input. Lines hold 7-bit characters only.\n"
    "  -h, --help     show this and exit\n"
    "  -V, --version  show the version and exit\n"
    "See line-transmitter(1) for the exit statuses and messages.\n";
const char kVersion[] =
    "line-transmitter " LINE_TRANSMITTER_VERSION "\n"
    "Copyright (c) 2026 the line-transmitter authors; MIT licence: "
    "there is NO WARRANTY.\n";

bool isOption(const char* argument, const char* shortForm, const char* longForm)
{
    return strcmp(argument, shortForm) == 0 || strcmp(argument, longForm) == 0;
}

bool hasOption(int argc, char** argv, const char* shortForm, const char* longForm)
{
    for (int i = 1; i < argc; ++i) {
        if (isOption(argv[i], shortForm, longForm)) {
            return true;
        }
    }
    return false;
}

// The text, on standard output; 0, or 1 when it could not be written.
int show(const char* text, const char* what)
{
    errno = 0;
    if (fputs(text, stdout) < 0 || fflush(stdout) != 0) {
        char failed[80];
        snprintf(failed, sizeof failed, kCannotWriteOutput, what);
        fprintf(stderr, "line-transmitter: %s (%s)\n", failed,
                errno != 0 ? strerror(errno) : "write error");
        return kNothingSent;
    }
    return kAllSent;
}

// Whether the terminal may be given UTF-8 as it is: where the user's
// locale says its character set is UTF-8. Elsewhere (the C locale, an
// 8-bit set) a byte above 0x7F could be a control, 0x9B a CSI.
bool terminalTakesUtf8()
{
#ifdef _WIN32
    return false;
#else
    setlocale(LC_CTYPE, "");
    bool utf8 = strcmp(nl_langinfo(CODESET), "UTF-8") == 0;
    setlocale(LC_CTYPE, "C");  // the program's own, for everything else
    return utf8;
#endif
}

#ifndef _WIN32
// The length of the well-formed UTF-8 character at `text` that is not a
// control (C1, U+0080 to U+009F), or 0.
size_t printableUtf8Length(const unsigned char* text)
{
    unsigned char lead = text[0];
    size_t length = 0;
    unsigned char low = 0x80;  // the range of the first continuation byte
    unsigned char high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        low = lead == 0xC2 ? 0xA0 : 0x80;  // C2 80 to C2 9F are the C1 controls
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        low = lead == 0xE0 ? 0xA0 : 0x80;   // no overlong forms
        high = lead == 0xED ? 0x9F : 0xBF;  // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF;  // nothing past U+10FFFF
    } else {
        return 0;
    }
    if (text[1] < low || text[1] > high) {
        return 0;
    }
    for (size_t i = 2; i < length; ++i) {
        if (text[i] < 0x80 || text[i] > 0xBF) {
            return 0;
        }
    }
    return length;
}
#endif

// One line of standard error, gathered and written whole (the stream is
// unbuffered), in pieces only past its size.
class ErrorLine {
public:
    void put(const char* bytes, size_t count)
    {
        for (size_t i = 0; i < count; ++i) {
            if (used_ == sizeof text_) {
                flush();
            }
            text_[used_++] = bytes[i];
        }
    }
    void put(const char* bytes) { put(bytes, strlen(bytes)); }
    void flush()
    {
        fwrite(text_, 1, used_, stderr);
        used_ = 0;
    }

private:
    char text_[512];
    size_t used_ = 0;
};

// An argument as it may reach a terminal: a control character (a line
// feed, a carriage return, ESC) would split the line or drive the terminal,
// so each is written as an escape (\n, \r, \t, \xHH); so is every byte
// above 0x7F, except whole printable UTF-8 characters where the terminal
// takes UTF-8. On Windows such bytes are the ANSI code page's characters,
// which hold no controls, and go as they are.
void putShown(ErrorLine& line, const char* argument, bool utf8)
{
    const unsigned char* at = reinterpret_cast<const unsigned char*>(argument);
    while (*at != 0) {
        unsigned char byte = *at;
        size_t whole = 1;
#ifdef _WIN32
        bool raw = byte >= 0x20 && byte != 0x7F;
        (void)utf8;
#else
        if (byte >= 0x80 && utf8) {
            whole = printableUtf8Length(at);
        }
        bool raw = (byte >= 0x20 && byte < 0x7F) || whole > 1;
        whole = whole == 0 ? 1 : whole;
#endif
        if (raw) {
            line.put(reinterpret_cast<const char*>(at), whole);
        } else if (byte == '\n') {
            line.put("\\n");
        } else if (byte == '\r') {
            line.put("\\r");
        } else if (byte == '\t') {
            line.put("\\t");
        } else {
            char escaped[5];
            snprintf(escaped, sizeof escaped, "\\x%02x", byte);
            line.put(escaped);
        }
        at += whole;
    }
}

}  // namespace

int answerCommandLine(int argc, char** argv)
{
    if (hasOption(argc, argv, "-h", "--help")) {
        return show(kUsage, "help");
    }
    if (hasOption(argc, argv, "-V", "--version")) {
        return show(kVersion, "version");
    }
    bool utf8 = argc > 1 && terminalTakesUtf8();
    const char* argumentAt = strstr(kIgnoringArgument, "%s");
    for (int i = 1; i < argc; ++i) {
        ErrorLine line;
        line.put("line-transmitter: ");
        line.put(kIgnoringArgument, static_cast<size_t>(argumentAt - kIgnoringArgument));
        putShown(line, argv[i], utf8);
        line.put(argumentAt + 2);
        line.put("\n");
        line.flush();
    }
    return -1;
}
